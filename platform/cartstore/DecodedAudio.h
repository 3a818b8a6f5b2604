#pragma once

#include "platform/system/FileVersionCache.h"

#include <QString>
#include <optional>
#include <vector>

// The samples that measuring a file decoded, handed on to the import of the same version of
// the file that follows, so that a new compressed file is decoded once rather than twice.
// Only kept while a KeepScope lives (one import decision), only for the file measured last and
// only up to MaxSamples; taking them checks that the file has not changed since.
class DecodedAudio
{
public:
    static constexpr qsizetype MaxSamples = 32 * 1024 * 1024; // 64 MB, 6 minutes of stereo

    QString path;
    FileVersionKey version;
    int sampleRate = 0;
    int channels = 0;
    qint64 frames = 0;
    QString title;
    QString artist;
    std::vector<qint16> samples; // interleaved

    class KeepScope
    {
    public:
        KeepScope();
        ~KeepScope();
        KeepScope(const KeepScope&) = delete;
        KeepScope& operator=(const KeepScope&) = delete;
    };
    static bool Keeping();
    static void Keep(DecodedAudio audio);
    // The kept samples of the file, when it is still the version that was decoded.
    static std::optional<DecodedAudio> Take(const QString& path);
};
