#pragma once

#include <cstring>

// Formats outside these bounds are no audio anyone records or plays: a header that declares
// them is damaged or hostile, and is treated as undecodable.
namespace AudioFormatLimits {
constexpr int MinSampleRate = 1000;
constexpr int MaxSampleRate = 768000;
constexpr int MaxChannels = 64;

constexpr bool IsSane(long long sampleRate, long long channels)
{
    return sampleRate >= MinSampleRate && sampleRate <= MaxSampleRate && channels >= 1 &&
           channels <= MaxChannels;
}

constexpr int WaveFormatPcm = 1;
constexpr int WaveFormatFloat = 3;
constexpr int WaveFormatExtensible = 0xFFFE;

// The format tag that an extensible record's 16-byte sub-format GUID carries in its first two
// bytes; 0 unless the GUID is one of the standard ones (KSDATAFORMAT_SUBTYPE_PCM, _IEEE_FLOAT
// and the like share their last 14 bytes).
inline int SubFormatTag(const char* guid)
{
    static const unsigned char standardTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (std::memcmp(guid + 2, standardTail, sizeof standardTail) != 0) {
        return 0;
    }
    return int(static_cast<unsigned char>(guid[0])) | int(static_cast<unsigned char>(guid[1])) << 8;
}

// PCM or float (the tag an extensible record carries, already taken out of it) whose every
// field agrees with the others: the data size of such a header gives the decoded length.
constexpr bool IsPlainWave(int tag, int bits, long long sampleRate, long long channels,
                           long long blockAlign, long long byteRate)
{
    const bool pcm = tag == WaveFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool floating = tag == WaveFormatFloat && (bits == 32 || bits == 64);
    return (pcm || floating) && IsSane(sampleRate, channels) &&
           blockAlign == channels * (bits / 8) && byteRate == sampleRate * blockAlign;
}
} // namespace AudioFormatLimits
