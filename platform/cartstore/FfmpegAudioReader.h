#pragma once

#include "platform/system/Result.h"

#include <QString>
#include <functional>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// Decodes an audio file with FFmpeg, the one routine behind both the length the decoder reports
// and the audio the cart store keeps, so that the two always agree. Lengths count the decoded
// samples (libavcodec already drops encoder delay and padding), never the container's claim.
class FfmpegAudioReader
{
public:
    FfmpegAudioReader();
    ~FfmpegAudioReader();

    FfmpegAudioReader(const FfmpegAudioReader&) = delete;
    FfmpegAudioReader& operator=(const FfmpegAudioReader&) = delete;

    // Fails when the file is missing or holds no decodable audio stream.
    Result<> Open(const QString& fileName);
    void Close();
    bool IsOpen() const { return m_format != nullptr; }

    int SampleRate() const { return m_sampleRate; }
    int Channels() const { return m_channels; }
    // A tag of the file ("title", "artist"), from the container or the audio stream.
    QString Tag(const char* key) const;

    // Interleaved 16-bit samples at SampleRate() and Channels(); answer false to stop.
    using PcmSink = std::function<bool(const qint16* samples, int frames)>;
    // Fraction of the file read so far (0..1); answer false to stop.
    using ProgressSink = std::function<bool(double fraction)>;

    // Decodes to the end, counting the sample frames. Without a PCM sink nothing is converted.
    // Fails on a read error, when no audio at all could be decoded, or when stopped.
    Result<> Decode(const PcmSink& sink = {}, const ProgressSink& progress = {});

    qint64 FrameCount() const { return m_frames; }
    // The sample frames an uncompressed stream's container declares (a WAV's data size), known
    // once open and before decoding; 0 for compressed audio, whose declared length is a guess.
    qint64 DeclaredFrames() const;
    double DurationMs() const;
    // Stopped by a sink, or because long work had to stop (LongWork).
    bool Stopped() const { return m_stopped; }
    // The last failure lay in the file's content (not audio, an absurd format, nothing
    // decodable), not in reaching it: the same bytes will fail again.
    bool Rejected() const { return m_rejected; }
    // What is wrong with the content when Rejected(), in words, without the file's name.
    QString RejectReason() const { return m_rejectReason; }

private:
    Failure Fail(const QString& error);
    Failure Reject(const QString& reason, const QString& error);
    Result<> HandleFrame(const PcmSink& sink);
    Result<> Convert(const PcmSink& sink, const quint8** input, int inputFrames);

    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwrContext* m_swr = nullptr;
    int m_swrInRate = 0;
    int m_swrInFormat = -1;
    int m_swrInChannels = 0;
    QByteArray m_pcm;
    int m_stream = -1;
    int m_sampleRate = 0;
    int m_channels = 0;
    qint64 m_frames = 0;
    bool m_stopped = false;
    bool m_rejected = false;
    QString m_rejectReason;
};
