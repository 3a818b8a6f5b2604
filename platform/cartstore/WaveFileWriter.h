#pragma once

#include "platform/system/Result.h"

#include <QFile>
#include <QString>
#include <functional>

// Writes a 16-bit PCM WAV file, keeping the peak of what it wrote so that the audio can then be
// normalised in place before the file is finished.
class WaveFileWriter
{
public:
    WaveFileWriter() = default;
    // The file is this header, then the samples.
    static constexpr qint64 HeaderSize = 44;
    ~WaveFileWriter();

    // Creates (replacing) the file and writes a provisional header.
    Result<> Open(const QString& path, int sampleRate, int channels);
    Result<> Write(const qint16* samples, int frames);
    // Largest magnitude written, 0..32768.
    int Peak() const { return m_peak; }
    qint64 Frames() const { return m_frames; }

    // Multiplies every sample by gain (rounded, clipped). progress gets 0..1; false stops.
    Result<> Scale(double gain, const std::function<bool(double)>& progress = {});
    // Fills in the sizes, flushes the file to disk and closes it.
    Result<> Finish();

    // The gain that brings peak to percent of full scale; 1 when nothing is to be done.
    static double NormaliseGain(int peak, double percent);

private:
    QFile m_file;
    int m_sampleRate = 0;
    int m_channels = 0;
    int m_peak = 0;
    qint64 m_frames = 0;
    qint64 m_dataBytes = 0;
};
