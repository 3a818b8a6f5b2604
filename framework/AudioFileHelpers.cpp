#include "framework/AudioFileHelpers.h"

#include "platform/AudioDecoder.h"
#include "platform/FileFunctions.h"
#include "platform/RiffReader.h"

#include <QFile>
#include <QtEndian>
#include <memory>

bool IsWithinTolerance(double value, double centre, double tolerance)
{
    return centre - tolerance <= value && value <= centre + tolerance;
}

qint32 ReadWaveInfo(const QString& fileName, WAVEFORMATEX& format, qint32& dataSize)
{
    dataSize = 0;
    if (FileFunctions::instance().GetFileSize(fileName) <= 0) {
        return -1;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    return ReadWaveInfo(file, format, dataSize);
}

qint32 ReadWaveInfo(QIODevice& device, WAVEFORMATEX& format, qint32& dataSize)
{
    dataSize = 0;
    format = WAVEFORMATEX();
    RiffReader reader(device);

    RiffChunk riff;
    riff.FormType = RiffReader::FourCC("WAVE");
    qint32 status = reader.Descend(riff, nullptr, RiffReader::Find::Riff);
    if (status != RiffReader::NoError) {
        return status;
    }
    RiffChunk fmt;
    fmt.Id = RiffReader::FourCC("fmt ");
    status = reader.Descend(fmt, &riff, RiffReader::Find::Chunk);
    if (status != RiffReader::NoError) {
        reader.Ascend(riff);
        return status;
    }
    if (fmt.Size == 0) {
        reader.Ascend(fmt);
        reader.Ascend(riff);
        return 0;
    }
    char record[WaveFormatRecordSize] = {};
    if (reader.Read(record, qMin<qint64>(fmt.Size, WaveFormatRecordSize)) < 0) {
        reader.Ascend(fmt);
        reader.Ascend(riff);
        return -1;
    }
    format.wFormatTag = qFromLittleEndian<quint16>(record);
    format.nChannels = qFromLittleEndian<quint16>(record + 2);
    format.nSamplesPerSec = qFromLittleEndian<quint32>(record + 4);
    format.nAvgBytesPerSec = qFromLittleEndian<quint32>(record + 8);
    format.nBlockAlign = qFromLittleEndian<quint16>(record + 12);
    format.wBitsPerSample = qFromLittleEndian<quint16>(record + 14);
    format.cbSize = qFromLittleEndian<quint16>(record + 16);
    reader.Ascend(fmt);

    // Search again from the first sub-chunk: "data" may come before "fmt ".
    reader.Seek(riff.DataOffset + 4);
    RiffChunk data;
    data.Id = RiffReader::FourCC("data");
    if (reader.Descend(data, &riff, RiffReader::Find::Chunk) == RiffReader::NoError) {
        // A truncated or still-streaming file claims more than it holds; the decoder measures
        // what is there, and so must this, or the two lengths never agree.
        const qint64 held = qMax<qint64>(0, reader.DeviceSize() - data.DataOffset);
        dataSize = qint32(quint32(qMin<qint64>(data.Size, held)));
        reader.Ascend(data);
    }
    reader.Ascend(riff);
    return 0;
}

float GetWaveDuration(const QString& fileName)
{
    WAVEFORMATEX format;
    qint32 dataSize = 0;
    if (ReadWaveInfo(fileName, format, dataSize) != 0 || format.nAvgBytesPerSec == 0) {
        return 0.0f;
    }
    // The size is a 32-bit chunk size: files beyond 2 GB must not come out negative.
    return float(double(quint32(dataSize)) / double(format.nAvgBytesPerSec));
}

qint32 GetAudioFileType(const QString& fileName)
{
    const QString extension = FileFunctions::instance().GetExtensionName(fileName).toLower();
    if (extension == "wav") {
        return AudioFileType::Wav;
    }
    if (extension == "mp3") {
        return AudioFileType::Mp3;
    }
    if (extension == "ogg") {
        return AudioFileType::Ogg;
    }
    if (extension == "wma") {
        return AudioFileType::Wma;
    }
    if (extension == "mp2") {
        return AudioFileType::Mp2;
    }
    return AudioFileType::Other;
}

double GetAudioFileDuration(QString fileName)
{
    double seconds = -1.0;
    if (FileFunctions::instance().GetFileSize(fileName) <= 0) {
        return -1.0;
    }
    const auto decoder = std::make_unique<AudioDecoder>();
    // Decoder errors from here on only leave the length unknown.
    try {
        if (FileFunctions::instance().GetExtensionName(fileName).toUpper() == "WMA") {
            decoder->setWMAMode(true);
        }
        decoder->OpenFile(fileName, 0, 1);
    } catch (const std::exception&) {
        return seconds;
    }
    seconds = decoder->DurationMs() / 1000.0;
    try {
        decoder->CloseFile();
    } catch (const std::exception&) {
    }
    return seconds;
}
