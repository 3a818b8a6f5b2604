#pragma once

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
} // namespace AudioFormatLimits
