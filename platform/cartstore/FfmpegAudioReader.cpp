#include "platform/cartstore/FfmpegAudioReader.h"

#include "platform/cartstore/AudioFormatLimits.h"
#include "platform/cartstore/StoreLog.h"
#include "platform/system/LongWork.h"

#include <QFile>
#include <QtEndian>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

// FFmpeg writes its complaints about damaged files to stderr; they belong in our diagnostics.
void FfmpegLog(void* avcl, int level, const char* format, va_list args)
{
    if (level > AV_LOG_WARNING || !lcStore().isDebugEnabled()) {
        return;
    }
    char line[1024];
    int prefix = 1;
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &prefix);
    qCDebug(lcStore).noquote() << "ffmpeg:" << QString::fromUtf8(line).trimmed();
}

void InstallFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_callback(FfmpegLog);
        // FFmpeg allocates (and clears) what a damaged header claims before it finds the bytes
        // missing: a WAV of a few hundred bytes cost 1.8 GB and seconds. No audio needs one
        // allocation of this size.
        av_max_alloc(256 * 1024 * 1024);
    });
}

// FFmpeg asks before every read; a damaged file can keep it reading for long without a packet.
int Interrupted(void*)
{
    return LongWork::Breathe() ? 0 : 1;
}

// A PCM or float WAV (extensible ones included) whose data chunk declares more than the file
// holds is a copy that broke off: decoding would pass its first part off as the whole. So under
// every header the decoder takes for a WAV: RIFF, big-endian RIFX, RF64 and BW64, whose data
// size is in the ds64 chunk, and Sony Wave64. A 32-bit size of 0 or 0xFFFFFFFF, and a 64-bit
// size of 0, are what streaming writers leave: no promise of a length. Empty for every other
// file.
std::optional<QString> CutShortWave(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const auto is = [](const char* code, const char* expected) {
        return std::memcmp(code, expected, 4) == 0;
    };
    // Wave64 names its chunks by GUIDs; all but the outer one end alike.
    static const char wave64Tail[] = "\xF3\xAC\xD3\x11\x8C\xD1\x00\xC0\x4F\x8E\xDB\x8A";
    static const char wave64Riff[] = "riff\x2E\x91\xCF\x11\xA5\xD6\x28\xDB\x04\xC1\x00\x00";
    // Only a file that begins as a WAV does: a search for one through other content would
    // read it all.
    char head[40];
    if (file.read(head, 40) != 40) {
        return std::nullopt;
    }
    const bool wave64 = std::memcmp(head, wave64Riff, 16) == 0;
    const auto chunkIs = [&](const char* chunk, const char* expected) {
        return is(chunk, expected) && (!wave64 || std::memcmp(chunk + 4, wave64Tail, 12) == 0);
    };
    const bool bigEndian = is(head, "RIFX");
    const bool ds64 = is(head, "RF64") || is(head, "BW64");
    if (wave64 ? !chunkIs(head + 24, "wave")
               : !is(head + 8, "WAVE") || (!bigEndian && !ds64 && !is(head, "RIFF"))) {
        return std::nullopt;
    }
    const auto u16 = [bigEndian](const char* p) {
        return bigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    };
    const auto u32 = [bigEndian](const char* p) {
        return bigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    };
    const qint64 fileSize = file.size();
    const qint64 headerSize = wave64 ? 24 : 8;
    const qint64 first = wave64 ? 40 : 12;
    // The record, then an extensible format's valid bits, channel mask and sub-format GUID.
    char record[40] = {};
    qint64 recordSize = -1;
    quint64 ds64DataSize = 0;
    quint64 declared = 0;
    qint64 dataOffset = -1;
    // The outer size is not heeded, as the decoder does not heed it. Every step moves on by a
    // chunk header at least, so this ends on any input.
    for (qint64 position = first;
         (recordSize < 0 || dataOffset < 0) && fileSize - position >= headerSize;) {
        char chunk[48];
        if (!file.seek(position) || file.read(chunk, headerSize) != headerSize) {
            return std::nullopt;
        }
        // A Wave64 size counts its own header.
        quint64 size = wave64 ? qFromLittleEndian<quint64>(chunk + 16) : u32(chunk + 4);
        if (wave64 && size < 24) {
            return std::nullopt;
        }
        size -= wave64 ? 24 : 0;
        const qint64 body = position + headerSize;
        if (ds64 && position == first) {
            // The RIFF size, the data size and the sample count, 64 bits each.
            if (!is(chunk, "ds64") || size < 24 || file.read(chunk + 8, 24) != 24) {
                return std::nullopt;
            }
            ds64DataSize = qFromLittleEndian<quint64>(chunk + 16);
        } else if (chunkIs(chunk, "fmt ") && recordSize < 0) {
            recordSize = qint64(qMin<quint64>(size, sizeof record));
            if (file.read(record, recordSize) != recordSize) {
                return std::nullopt;
            }
        } else if (chunkIs(chunk, "data") && dataOffset < 0) {
            size = ds64 ? ds64DataSize : size;
            declared = size;
            dataOffset = body;
        }
        if (size > quint64(fileSize - body)) {
            break;
        }
        position = body + qint64(size) + (wave64 ? qint64(-size & 7) : qint64(size & 1));
    }
    if (recordSize < 16 || dataOffset < 0) {
        return std::nullopt;
    }
    int tag = u16(record);
    const quint16 channels = u16(record + 2);
    const quint32 rate = u32(record + 4);
    const quint32 byteRate = u32(record + 8);
    const quint16 blockAlign = u16(record + 12);
    const quint16 bits = u16(record + 14);
    // The decoder takes no extensible record in a big-endian file.
    if (tag == AudioFormatLimits::WaveFormatExtensible) {
        tag = recordSize == qint64(sizeof record) && !bigEndian
                  ? AudioFormatLimits::SubFormatTag(record + 24)
                  : 0;
    }
    if (!AudioFormatLimits::IsPlainWave(tag, bits, rate, channels, blockAlign, byteRate)) {
        return std::nullopt;
    }
    // A 64-bit size beyond 63 bits the decoder refuses as damaged by itself.
    const bool wide = ds64 || wave64;
    if (declared == 0 || (!wide && declared == 0xFFFFFFFFu) ||
        declared > quint64(std::numeric_limits<qint64>::max())) {
        return std::nullopt;
    }
    const qint64 held = fileSize - dataOffset;
    if (held >= qint64(declared)) {
        return std::nullopt;
    }
    return QString("declares %1 s, holds %2 s")
        .arg(double(declared) / byteRate, 0, 'f', 1)
        .arg(double(held) / byteRate, 0, 'f', 1);
}

QString AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace

FfmpegAudioReader::FfmpegAudioReader()
{
    InstallFfmpegLog();
}

FfmpegAudioReader::~FfmpegAudioReader()
{
    Close();
}

void FfmpegAudioReader::Close()
{
    swr_free(&m_swr);
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_codec);
    avformat_close_input(&m_format);
    m_stream = -1;
    m_swrInRate = 0;
    m_swrInFormat = -1;
    m_swrInChannels = 0;
}

Failure FfmpegAudioReader::Fail(const QString& error)
{
    if (LongWork::Stopped()) {
        m_stopped = true;
        return Failure{QStringLiteral("stopped")};
    }
    qCDebug(lcStore).noquote() << error;
    return Failure{error};
}

Failure FfmpegAudioReader::Reject(const QString& reason, const QString& error)
{
    m_rejected = true;
    m_rejectReason = reason;
    return Fail(error);
}

Result<> FfmpegAudioReader::Open(const QString& fileName)
{
    Close();
    m_frames = 0;
    m_stopped = false;
    m_rejected = false;
    m_rejectReason.clear();
    m_sampleRate = 0;
    m_channels = 0;

    if (const auto cut = CutShortWave(fileName)) {
        return Reject(QStringLiteral("incomplete: ") + *cut,
                      QString("%1 is incomplete: %2").arg(fileName, *cut));
    }
    const QByteArray path = QFile::encodeName(fileName);
    m_format = avformat_alloc_context();
    if (!m_format) {
        return Fail("out of memory");
    }
    m_format->interrupt_callback.callback = Interrupted;
    int rc = avformat_open_input(&m_format, path.constData(), nullptr, nullptr);
    if (rc < 0) {
        m_format = nullptr;
        // A file that cannot be reached may be readable later; one that was read is not audio.
        const QString error = QString("cannot open %1: %2").arg(fileName, AvError(rc));
        const bool unreachable = rc == AVERROR(ENOENT) || rc == AVERROR(EACCES) ||
                                 rc == AVERROR(EPERM) || rc == AVERROR(EIO) ||
                                 rc == AVERROR(ENOMEM) || rc == AVERROR(EMFILE) ||
                                 rc == AVERROR(ENFILE) || rc == AVERROR(EINTR);
        return unreachable ? Fail(error) : Reject(AvError(rc), error);
    }
    rc = avformat_find_stream_info(m_format, nullptr);
    if (rc < 0) {
        Close();
        const QString error = QString("cannot read %1: %2").arg(fileName, AvError(rc));
        return rc == AVERROR(EIO) || rc == AVERROR(ENOMEM) ? Fail(error)
                                                           : Reject(AvError(rc), error);
    }
    const AVCodec* decoder = nullptr;
    m_stream = av_find_best_stream(m_format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (m_stream < 0 || !decoder) {
        // A stream whose codec no decoder here knows is not "no audio" to the operator.
        const QString reason = m_stream == AVERROR_DECODER_NOT_FOUND
                                   ? QStringLiteral("no decoder for its audio codec")
                                   : QStringLiteral("no audio stream");
        Close();
        return Reject(reason, QString("%1 in %2").arg(reason, fileName));
    }
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        if (int(i) != m_stream) {
            m_format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    const AVCodecParameters* par = m_format->streams[m_stream]->codecpar;
    // Some containers leave the rate to the decoder; only what is declared is judged here.
    if (par->sample_rate > AudioFormatLimits::MaxSampleRate ||
        par->ch_layout.nb_channels > AudioFormatLimits::MaxChannels) {
        // Read before Close, which frees the stream.
        const QString reason = QString("declares %1 Hz and %2 channels, which no audio uses")
                                   .arg(par->sample_rate)
                                   .arg(par->ch_layout.nb_channels);
        Close();
        return Reject(reason, fileName + QLatin1Char(' ') + reason);
    }
    m_codec = avcodec_alloc_context3(decoder);
    if (!m_codec || avcodec_parameters_to_context(m_codec, par) < 0) {
        Close();
        return Fail(QString("cannot set up the decoder for %1").arg(fileName));
    }
    // Lets the decoder keep timestamps right while it trims encoder delay and padding.
    m_codec->pkt_timebase = m_format->streams[m_stream]->time_base;
    rc = avcodec_open2(m_codec, decoder, nullptr);
    if (rc < 0) {
        Close();
        return Reject(QStringLiteral("the decoder refuses it: ") + AvError(rc),
                      QString("cannot open the decoder for %1: %2").arg(fileName, AvError(rc)));
    }
    m_sampleRate = m_codec->sample_rate;
    m_channels = m_codec->ch_layout.nb_channels;
    if (!AudioFormatLimits::IsSane(m_sampleRate, m_channels)) {
        Close();
        return Reject(QStringLiteral("no usable sample rate or channel count"),
                      QString("%1 gives no usable sample rate or channel count").arg(fileName));
    }
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_frame || !m_packet) {
        Close();
        return Fail("out of memory");
    }
    return {};
}

QString FfmpegAudioReader::Tag(const char* key) const
{
    if (!m_format) {
        return {};
    }
    const AVDictionaryEntry* entry = av_dict_get(m_format->metadata, key, nullptr, 0);
    if (!entry && m_stream >= 0) {
        entry = av_dict_get(m_format->streams[m_stream]->metadata, key, nullptr, 0);
    }
    return entry ? QString::fromUtf8(entry->value).trimmed() : QString();
}

qint64 FfmpegAudioReader::DeclaredFrames() const
{
    if (!m_format || m_stream < 0 || m_sampleRate <= 0) {
        return 0;
    }
    const AVStream* stream = m_format->streams[m_stream];
    const AVCodecParameters* par = stream->codecpar;
    const int bits = av_get_exact_bits_per_sample(par->codec_id);
    if (bits < 8 || stream->duration == AV_NOPTS_VALUE || stream->duration <= 0 ||
        stream->time_base.den <= 0 || stream->time_base.num <= 0) {
        return 0;
    }
    // A header may declare any length; one the file cannot hold is measured by decoding.
    const double seconds = double(stream->duration) * av_q2d(stream->time_base);
    const double bytes =
        seconds * double(par->sample_rate) * double(par->ch_layout.nb_channels) * (bits / 8);
    const qint64 fileSize = m_format->pb ? avio_size(m_format->pb) : -1;
    if (fileSize < 0 || !(bytes <= double(fileSize))) {
        return 0;
    }
    const qint64 frames =
        av_rescale_q(stream->duration, stream->time_base, AVRational{1, m_sampleRate});
    return frames > 0 ? frames : 0;
}

double FfmpegAudioReader::DurationMs() const
{
    return m_sampleRate > 0 ? double(m_frames) * 1000.0 / m_sampleRate : 0.0;
}

Result<> FfmpegAudioReader::Convert(const PcmSink& sink, const quint8** input, int inputFrames)
{
    const int capacity = swr_get_out_samples(m_swr, inputFrames);
    if (capacity < 0) {
        return Fail("resampler failed");
    }
    const qsizetype bytes = qsizetype(capacity) * m_channels * 2;
    if (m_pcm.size() < bytes) {
        m_pcm.resize(bytes);
    }
    quint8* out = reinterpret_cast<quint8*>(m_pcm.data());
    const int made = swr_convert(m_swr, &out, capacity, input, inputFrames);
    if (made < 0) {
        return Fail("resampler failed: " + AvError(made));
    }
    m_frames += made;
    if (made > 0 && !sink(reinterpret_cast<const qint16*>(m_pcm.constData()), made)) {
        m_stopped = true;
        return Fail("stopped");
    }
    return {};
}

Result<> FfmpegAudioReader::HandleFrame(const PcmSink& sink)
{
    const int rate = m_frame->sample_rate > 0 ? m_frame->sample_rate : m_sampleRate;
    // A damaged packet may claim a format of its own; it is skipped like any damaged packet.
    if (!AudioFormatLimits::IsSane(rate, m_frame->ch_layout.nb_channels)) {
        return {};
    }
    if (!sink) {
        // Counting only; a stream that changes rate midway is counted at the first rate.
        m_frames += rate == m_sampleRate ? m_frame->nb_samples
                                         : av_rescale_rnd(m_frame->nb_samples, m_sampleRate, rate,
                                                          AV_ROUND_NEAR_INF);
        return {};
    }
    const int channels = m_frame->ch_layout.nb_channels;
    if (!m_swr || rate != m_swrInRate || m_frame->format != m_swrInFormat ||
        channels != m_swrInChannels) {
        if (m_swr) {
            // Drain what the old set-up still holds before changing it.
            if (Result<> drained = Convert(sink, nullptr, 0); !drained) {
                return drained;
            }
            swr_free(&m_swr);
        }
        AVChannelLayout inLayout{};
        if (m_frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&inLayout, channels);
        } else {
            av_channel_layout_copy(&inLayout, &m_frame->ch_layout);
        }
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, m_channels);
        const int rc =
            swr_alloc_set_opts2(&m_swr, &outLayout, AV_SAMPLE_FMT_S16, m_sampleRate, &inLayout,
                                AVSampleFormat(m_frame->format), rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (rc < 0 || swr_init(m_swr) < 0) {
            return Fail("cannot set up the sample conversion");
        }
        m_swrInRate = rate;
        m_swrInFormat = m_frame->format;
        m_swrInChannels = channels;
    }
    return Convert(sink, const_cast<const quint8**>(m_frame->extended_data), m_frame->nb_samples);
}

Result<> FfmpegAudioReader::Decode(const PcmSink& sink, const ProgressSink& progress)
{
    if (!m_format) {
        return Fail("no file open");
    }
    m_frames = 0;
    m_stopped = false;
    m_rejected = false;
    m_rejectReason.clear();
    const qint64 size = m_format->pb ? avio_size(m_format->pb) : -1;
    int badPackets = 0;
    qint64 packets = 0;
    double lastReported = -1.0;

    auto receive = [&]() -> Result<> {
        for (;;) {
            const int rc = avcodec_receive_frame(m_codec, m_frame);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
                return {};
            }
            if (rc < 0) {
                ++badPackets;
                return {};
            }
            Result<> handled = HandleFrame(sink);
            av_frame_unref(m_frame);
            if (!handled) {
                return handled;
            }
        }
    };

    for (;;) {
        const int rc = av_read_frame(m_format, m_packet);
        // An interrupted read looks like the end of the file.
        if (LongWork::Stopped()) {
            av_packet_unref(m_packet);
            return Fail("stopped");
        }
        if (rc == AVERROR_EOF) {
            break;
        }
        if (rc < 0) {
            // A truncated file ends early; what was decoded so far is its audio.
            if (m_format->pb && avio_feof(m_format->pb)) {
                break;
            }
            return Fail("read error: " + AvError(rc));
        }
        if (!LongWork::Breathe()) {
            av_packet_unref(m_packet);
            return Fail("stopped");
        }
        if (m_packet->stream_index == m_stream) {
            ++packets;
            // Damaged packets are skipped as ffmpeg itself does.
            if (avcodec_send_packet(m_codec, m_packet) < 0) {
                ++badPackets;
            }
            av_packet_unref(m_packet);
            if (Result<> received = receive(); !received) {
                return received;
            }
            if (progress && size > 0 && (packets & 31) == 0) {
                const double fraction = double(avio_tell(m_format->pb)) / double(size);
                if (fraction - lastReported >= 0.01) {
                    lastReported = fraction;
                    if (!progress(qBound(0.0, fraction, 1.0))) {
                        m_stopped = true;
                        return Fail("stopped");
                    }
                }
            }
        } else {
            av_packet_unref(m_packet);
        }
    }
    avcodec_send_packet(m_codec, nullptr);
    if (Result<> received = receive(); !received) {
        return received;
    }
    if (sink && m_swr && swr_get_delay(m_swr, m_sampleRate) > 0) {
        if (Result<> drained = Convert(sink, nullptr, 0); !drained) {
            return drained;
        }
    }
    if (badPackets > 0) {
        qCDebug(lcStore) << badPackets << "damaged packets skipped";
    }
    if (LongWork::Stopped()) {
        m_stopped = true;
        return Fail("no audio could be decoded");
    }
    if (m_frames <= 0) {
        return Reject(QStringLiteral("no audio could be decoded"),
                      QStringLiteral("no audio could be decoded"));
    }
    if (progress && !progress(1.0)) {
        m_stopped = true;
        return Fail("stopped");
    }
    return {};
}
