#include "platform/cartstore/AudioDecoder.h"

#include "platform/cartstore/AudioLengthCache.h"
#include "platform/cartstore/DecodedAudio.h"
#include "platform/cartstore/FfmpegAudioReader.h"
#include "platform/system/LongWork.h"
#include "platform/system/ToolError.h"

AudioDecoder::AudioDecoder() = default;

AudioDecoder::~AudioDecoder() = default;

void AudioDecoder::setCacheFolder(const QString& folder)
{
    AudioLengthCache::instance().SetFolder(folder);
}

void AudioDecoder::OpenFile(const QString& fileName, qint32 arg2, qint32 arg3)
{
    CloseFile();
    // FFmpeg recognises WMA by its content, so WMAMode needs no special handling here.
    const auto before = AudioLengthCache::KeyOf(fileName);
    if (!before) {
        throw ToolError(ToolErrors::FileNotFound, QString("File not found: %1").arg(fileName));
    }
    AudioLengthCache& cache = AudioLengthCache::instance();
    QString knownReason;
    if (const auto cached = cache.Lookup(fileName, *before, &knownReason)) {
        if (*cached < 0) {
            throw ToolError(ToolErrors::BadFileFormat,
                            QString("Cannot decode %1: %2")
                                .arg(fileName, knownReason.isEmpty()
                                                   ? QString("it held no audio when last examined")
                                                   : knownReason));
        }
        m_fileName = fileName;
        m_durationMs = *cached;
        return;
    }
    // A file that changed while it was decoded (still being copied in) is measured again next
    // time rather than remembered with a result that belongs to neither version.
    auto unchanged = [&] {
        const auto after = AudioLengthCache::KeyOf(fileName);
        return after && after->size == before->size && after->modifiedNs == before->modifiedNs &&
               after->inode == before->inode;
    };
    FfmpegAudioReader reader;
    // During an import decision the samples are kept for the import that may follow.
    const bool keep = DecodedAudio::Keeping();
    const auto version = keep ? FileVersionKey::Of(fileName) : std::nullopt;
    std::vector<qint16> samples;
    bool tooLong = false;
    const FfmpegAudioReader::PcmSink collect = [&](const qint16* pcm, int frames) {
        const qsizetype count = qsizetype(frames) * reader.Channels();
        if (tooLong || qsizetype(samples.size()) + count > DecodedAudio::MaxSamples) {
            tooLong = true;
            samples = {};
        } else {
            samples.insert(samples.end(), pcm, pcm + count);
        }
        return true;
    };
    Result<> decoded = reader.Open(fileName);
    if (decoded) {
        decoded = reader.Decode(version ? collect : FfmpegAudioReader::PcmSink());
    }
    if (!decoded) {
        // Cut short because the program is closing: the file is neither measured nor known bad.
        if (reader.Stopped()) {
            throw ToolError(LongWork::StoppedError, "Measuring stopped: the program is closing");
        }
        // Only the content's fault is remembered: a file that could not be reached is tried
        // again.
        if (reader.Rejected() && unchanged()) {
            cache.Store(fileName, *before, AudioLengthCache::Unmeasurable, reader.RejectReason());
        }
        // The content's fault reads the same whether found now or remembered.
        throw ToolError(
            ToolErrors::BadFileFormat,
            QString("Cannot decode %1: %2")
                .arg(fileName, reader.Rejected() ? reader.RejectReason() : decoded.Reason()));
    }
    m_fileName = fileName;
    m_durationMs = reader.DurationMs();
    if (!unchanged()) {
        return;
    }
    cache.Store(fileName, *before, m_durationMs);
    if (version && !tooLong && FileVersionKey::Of(fileName) == version) {
        DecodedAudio audio;
        audio.path = fileName;
        audio.version = *version;
        audio.sampleRate = reader.SampleRate();
        audio.channels = reader.Channels();
        audio.frames = reader.FrameCount();
        audio.title = reader.Tag("title");
        audio.artist = reader.Tag("artist");
        audio.samples = std::move(samples);
        DecodedAudio::Keep(std::move(audio));
    }
}

void AudioDecoder::CloseFile()
{
    m_fileName.clear();
    m_durationMs = 0.0;
}
