#pragma once

#include "tests/support/SkipOutsideCi.h"

#include <QString>
#include <QStringList>

// Real audio for the store's and decoder's tests: WAV written here, the other types encoded
// from it by the ffmpeg command.
namespace AudioFixtures {

// A sine of the given peak (0..1) as 16-bit PCM.
bool WriteSineWav(const QString& path, double seconds, int sampleRate = 44100, int channels = 2,
                  double peak = 0.5, double frequency = 440.0);

// Silence of dataBytes bytes at 44.1 kHz, stereo, 16 bits, written as a sparse file: long
// audio that costs the test next to nothing to make.
bool WriteLongSilentWav(const QString& path, qint64 dataBytes);

bool FfmpegAvailable();

// Encodes source into target with the encoder ffmpeg uses for target's extension (mp3, ogg,
// wma, mp2, wav); extra arguments go before the output (for example "-metadata title=X").
bool Encode(const QString& source, const QString& target, const QStringList& extra = {});

// Largest sample magnitude of a 16-bit PCM WAV file written by the store (header 44 bytes).
int WavPeak(const QString& path);
// Rate and channels of a canonical WAV header.
int WavSampleRate(const QString& path);
int WavChannels(const QString& path);
int WavBitsPerSample(const QString& path);

} // namespace AudioFixtures

#define REQUIRE_FFMPEG()                                                                           \
    do {                                                                                           \
        if (!AudioFixtures::FfmpegAvailable())                                                     \
            SKIP_OUTSIDE_CI("the ffmpeg command is not installed");                                \
    } while (0)
