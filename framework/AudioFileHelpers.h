#pragma once

#include "platform/system/FileVersionCache.h"

#include <QString>
#include <optional>

class QIODevice;

// The Windows wave format record, filled from the start of a WAV file's "fmt " chunk.
struct WAVEFORMATEX
{
    quint16 wFormatTag = 0;
    quint16 nChannels = 0;
    quint32 nSamplesPerSec = 0;
    quint32 nAvgBytesPerSec = 0;
    quint16 nBlockAlign = 0;
    quint16 wBitsPerSample = 0;
    quint16 cbSize = 0;
};

// Size of the record in a file.
constexpr qint32 WaveFormatRecordSize = 18;

// Audio type flags, by the file's extension.
namespace AudioFileType {
constexpr qint32 Other = 1;
constexpr qint32 Wav = 2;
constexpr qint32 Mp3 = 4;
constexpr qint32 Ogg = 8;
constexpr qint32 Wma = 16;
constexpr qint32 Mp2 = 32;
} // namespace AudioFileType

// True when centre - tolerance <= value <= centre + tolerance.
bool IsWithinTolerance(double value, double centre, double tolerance);

// Reads a WAV file's format record and the size of its "data" chunk (0 when it has none).
// 0 on success; -1 for a missing, empty or unreadable file; otherwise the RIFF reader's status
// (no "RIFF" chunk of form "WAVE", no "fmt " chunk). The data size never counts bytes the file
// does not hold, so a truncated file measures what is there.
qint32 ReadWaveInfo(const QString& fileName, WAVEFORMATEX& format, qint32& dataSize);
// The same over an open random-access device.
qint32 ReadWaveInfo(QIODevice& device, WAVEFORMATEX& format, qint32& dataSize);

// Seconds of audio from the WAV header when it is plain PCM or float (extensible included) and
// every field agrees with the others and with the file's size; any other WAV (ADPCM, mu-law, a
// wrong byte rate, a streaming data size, an absurd format) is measured by decoding, as the
// cart store measures it. 0 when neither gives a length, as for a plain PCM WAV cut short (its
// data declares more than the file holds), which the decoder refuses.
float GetWaveDuration(const QString& fileName);
// The same, also handing out the version of the file that was measured (empty when unknown).
float GetWaveDuration(const QString& fileName, std::optional<FileVersionKey>& measured);

qint32 GetAudioFileType(const QString& fileName);

// Seconds of audio as the decoder measures it; -1 when the length cannot be found. Raises
// ToolError only when the decoder cannot be created.
double GetAudioFileDuration(QString fileName);

// Why the file has no length, when its content is to blame: it is empty, or measuring this
// version of it found no audio (the reason is kept with the length). Empty when it has a
// length, could not be reached, or has not been measured as it is now.
std::optional<QString> UnmeasurableReason(const QString& fileName);
// Whether the operator was told, in this run or an earlier one, that this version of the file
// cannot be read as audio; and recording, with the length cache, that they were.
bool UnmeasurableTold(const QString& fileName);
void MarkUnmeasurableTold(const QString& fileName, const QString& reason);
