#include "framework/AudioFileHelpers.h"

#include "platform/cartstore/AudioDecoder.h"
#include "platform/cartstore/AudioFormatLimits.h"
#include "platform/cartstore/AudioLengthCache.h"
#include "platform/cartstore/RiffReader.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/FileVersionCache.h"

#include <QFile>
#include <QIODevice>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// What the header says beyond the format record, for telling whether it can be trusted.
struct WaveHeaderDetail
{
    bool hasData = false;
    quint32 declaredDataSize = 0;
    qint64 heldDataSize = 0;
    // The format tag inside an extensible record; 0 when its sub-format is no standard one.
    int subFormat = 0;
};

qint32 ReadWaveHeader(QIODevice& device, WAVEFORMATEX& format, qint32& dataSize,
                      WaveHeaderDetail& detail)
{
    dataSize = 0;
    format = WAVEFORMATEX();
    detail = WaveHeaderDetail();
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
    // The record, then an extensible format's valid bits, channel mask and sub-format GUID.
    constexpr qint64 ExtensibleSize = 40;
    char record[ExtensibleSize] = {};
    const qint64 wanted = qMin<qint64>(fmt.Size, ExtensibleSize);
    const qint64 got = reader.Read(record, wanted);
    if (got < 0) {
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
    if (got >= ExtensibleSize) {
        detail.subFormat = AudioFormatLimits::SubFormatTag(record + 24);
    }
    reader.Ascend(fmt);

    // Search again from the first sub-chunk: "data" may come before "fmt ".
    reader.Seek(riff.DataOffset + 4);
    RiffChunk data;
    data.Id = RiffReader::FourCC("data");
    if (reader.Descend(data, &riff, RiffReader::Find::Chunk) == RiffReader::NoError) {
        // A truncated or still-streaming file claims more than it holds; the decoder measures
        // what is there, and so must this, or the two lengths never agree.
        const qint64 held = qMax<qint64>(0, reader.DeviceSize() - data.DataOffset);
        detail.hasData = true;
        detail.declaredDataSize = quint32(data.Size);
        detail.heldDataSize = qMin<qint64>(data.Size, held);
        dataSize = qint32(quint32(detail.heldDataSize));
        reader.Ascend(data);
    }
    reader.Ascend(riff);
    return 0;
}

// Plain PCM or float whose every field agrees with the others and with the file: only then does
// the header's length equal the decoded length that the cart store records.
bool HeaderTellsTheLength(const WAVEFORMATEX& format, const WaveHeaderDetail& detail)
{
    int tag = format.wFormatTag;
    if (tag == AudioFormatLimits::WaveFormatExtensible) {
        tag = detail.subFormat;
    }
    if (!AudioFormatLimits::IsPlainWave(tag, format.wBitsPerSample, format.nSamplesPerSec,
                                        format.nChannels, format.nBlockAlign,
                                        format.nAvgBytesPerSec)) {
        return false;
    }
    // No audio by either measure; decoding says why, and remembers it.
    if (!detail.hasData) {
        return false;
    }
    // 0 and 0xFFFFFFFF are what streaming writers leave; a size beyond the end is a cut copy.
    return detail.declaredDataSize != 0 && detail.declaredDataSize != 0xFFFFFFFFu &&
           qint64(detail.declaredDataSize) == detail.heldDataSize;
}

} // namespace

qint32 ReadWaveInfo(QIODevice& device, WAVEFORMATEX& format, qint32& dataSize)
{
    WaveHeaderDetail detail;
    return ReadWaveHeader(device, format, dataSize, detail);
}

namespace {

// Header lengths of files as they were when read: a check reads the same unchanged files at
// every pass.
FileVersionCache<float>& WaveLengths()
{
    static FileVersionCache<float> cache;
    return cache;
}

bool NamesPattern(const QString& fileName)
{
    const QStringView name = QStringView(fileName).mid(fileName.lastIndexOf(u'/') + 1);
    return name.contains(u'*') || name.contains(u'?');
}

} // namespace

float GetWaveDuration(const QString& fileName)
{
    std::optional<FileVersionKey> measured;
    return GetWaveDuration(fileName, measured);
}

namespace {

// An open file whose first bytes are read with one call: a header is found there, or where its
// chunks point, without the seeks and looks a QFile takes.
class HeadOfFile : public QIODevice
{
public:
    HeadOfFile(int fd, qint64 size) : m_fd(fd), m_size(size)
    {
        const ssize_t got = ::pread(m_fd, m_head, sizeof m_head, 0);
        m_held = got > 0 ? qint64(got) : 0;
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }
    bool seek(qint64 position) override
    {
        m_position = position;
        return QIODevice::seek(position);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        qint64 count = 0;
        if (m_position + maxSize <= m_held) {
            std::memcpy(data, m_head + m_position, size_t(maxSize));
            count = maxSize;
        } else {
            const ssize_t got = ::pread(m_fd, data, size_t(maxSize), m_position);
            if (got < 0) {
                return -1;
            }
            count = qint64(got);
        }
        m_position += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    int m_fd;
    qint64 m_size;
    qint64 m_position = 0;
    qint64 m_held = 0;
    // Enough for the format and the start of the data behind the usual broadcast chunks.
    char m_head[16384];
};

} // namespace

float GetWaveDuration(const QString& fileName, std::optional<FileVersionKey>& measured)
{
    measured.reset();
    const std::optional<FileVersionKey> before =
        NamesPattern(fileName) ? std::nullopt : FileVersionKey::Of(fileName);
    if (before && before->size > 0) {
        if (const auto known = WaveLengths().Lookup(*before)) {
            measured = before;
            return *known;
        }
    }
    WAVEFORMATEX format;
    qint32 dataSize = 0;
    WaveHeaderDetail detail;
    qint32 status = -1;
    // Whether the file read is still the version looked at before; asked of the open file.
    bool unchanged = false;
    if (before && before->size > 0) {
        const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            {
                HeadOfFile head(fd, before->size);
                status = ReadWaveHeader(head, format, dataSize, detail);
            }
            struct stat after
            {
            };
            unchanged = ::fstat(fd, &after) == 0 && FileVersionKey::FromStat(after) == *before;
            ::close(fd);
        }
    } else if (!before && FileFunctions::instance().GetFileSize(fileName) > 0) {
        QFile file(fileName);
        if (file.open(QIODevice::ReadOnly)) {
            status = ReadWaveHeader(file, format, dataSize, detail);
        }
    }
    float seconds = 0.0f;
    if (status == 0 && HeaderTellsTheLength(format, detail)) {
        // The size is a 32-bit chunk size: files beyond 2 GB must not come out negative.
        seconds = float(double(quint32(dataSize)) / double(format.nAvgBytesPerSec));
    } else {
        // Anything else is measured as the cart store will measure it: by decoding, remembered
        // in the length cache like the other types.
        const double decoded = GetAudioFileDuration(fileName);
        // A length beyond what a single holds is no length either.
        seconds =
            decoded > 0 && decoded <= std::numeric_limits<float>::max() ? float(decoded) : 0.0f;
        // Nothing measured may be a file out of reach for a moment: asked again next time.
        if (seconds <= 0) {
            return seconds;
        }
        unchanged = before && FileVersionKey::Of(fileName) == before;
    }
    if (unchanged) {
        WaveLengths().Store(*before, seconds);
        measured = before;
    }
    return seconds;
}

qint32 GetAudioFileType(const QString& fileName)
{
    // Asked for every file of every pass: looked at in place.
    const QStringView name = QStringView(fileName).mid(fileName.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) {
        return AudioFileType::Other;
    }
    const QStringView extension = name.mid(dot + 1);
    const auto is = [extension](QLatin1String known) {
        return extension.compare(known, Qt::CaseInsensitive) == 0;
    };
    if (is(QLatin1String("wav"))) {
        return AudioFileType::Wav;
    }
    if (is(QLatin1String("mp3"))) {
        return AudioFileType::Mp3;
    }
    if (is(QLatin1String("ogg"))) {
        return AudioFileType::Ogg;
    }
    if (is(QLatin1String("wma"))) {
        return AudioFileType::Wma;
    }
    if (is(QLatin1String("mp2"))) {
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
    // Anything but a finite length that is not negative is no length.
    if (!std::isfinite(seconds) || seconds < 0) {
        seconds = -1.0;
    }
    try {
        decoder->CloseFile();
    } catch (const std::exception&) {
    }
    return seconds;
}

std::optional<QString> UnmeasurableReason(const QString& fileName)
{
    const std::optional<AudioLengthCache::FileKey> key = AudioLengthCache::KeyOf(fileName);
    if (!key) {
        return std::nullopt;
    }
    if (key->size == 0) {
        return QStringLiteral("the file is empty");
    }
    return AudioLengthCache::instance().UnmeasurableReason(fileName, *key);
}

bool UnmeasurableTold(const QString& fileName)
{
    const std::optional<AudioLengthCache::FileKey> key = AudioLengthCache::KeyOf(fileName);
    return key && AudioLengthCache::instance().UnmeasurableTold(fileName, *key);
}

void MarkUnmeasurableTold(const QString& fileName, const QString& reason)
{
    const std::optional<AudioLengthCache::FileKey> key = AudioLengthCache::KeyOf(fileName);
    if (!key) {
        return;
    }
    AudioLengthCache& cache = AudioLengthCache::instance();
    // An empty file is never decoded, so nothing was kept for it yet.
    if (key->size == 0) {
        cache.Store(fileName, *key, AudioLengthCache::Unmeasurable, reason);
    }
    cache.MarkUnmeasurableTold(fileName, *key);
}
