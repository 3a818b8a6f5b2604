#include "platform/AudioDecoder.h"

#include "platform/AudioLengthCache.h"
#include "platform/FfmpegAudioReader.h"
#include "platform/LongWork.h"
#include "platform/ToolError.h"

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
    if (!before)
        throw ToolError(53, QString("File not found: %1").arg(fileName));
    AudioLengthCache& cache = AudioLengthCache::instance();
    if (const auto cached = cache.Lookup(fileName, *before)) {
        m_fileName = fileName;
        m_durationMs = *cached;
        return;
    }
    FfmpegAudioReader reader;
    if (!reader.Open(fileName) || !reader.Decode()) {
        // Cut short because the program is closing: the file is neither measured nor known bad.
        if (reader.Stopped())
            throw ToolError(LongWork::StoppedError, "Measuring stopped: the program is closing");
        throw ToolError(321, QString("Cannot decode %1: %2").arg(fileName, reader.Error()));
    }
    m_fileName = fileName;
    m_durationMs = reader.DurationMs();
    // A file that changed while it was decoded (still being copied in) is measured again next
    // time rather than remembered with a length that belongs to neither version.
    const auto after = AudioLengthCache::KeyOf(fileName);
    if (after && after->size == before->size && after->modifiedNs == before->modifiedNs &&
        after->inode == before->inode)
        cache.Store(fileName, *before, m_durationMs);
}

void AudioDecoder::CloseFile()
{
    m_fileName.clear();
    m_durationMs = 0.0;
}
