// libFuzzer target for the WAV header reader and the RIFF reader under it.
#include "framework/AudioFileHelpers.h"
#include "platform/cartstore/RiffReader.h"

#include <QBuffer>
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

namespace {

// Walks every chunk the reader can reach, nested lists included, reading each one's data.
void Walk(RiffReader& reader, const RiffChunk* parent, int depth)
{
    if (depth > 8) {
        return;
    }
    char data[64];
    for (int i = 0; i < 1000; ++i) {
        RiffChunk chunk;
        if (reader.Descend(chunk, parent, RiffReader::Find::Any) != RiffReader::NoError) {
            return;
        }
        if (chunk.Id == RiffReader::FourCC("LIST") || chunk.Id == RiffReader::FourCC("RIFF")) {
            Walk(reader, &chunk, depth + 1);
        } else if (reader.Read(data, sizeof data) > qint64(sizeof data)) {
            std::abort();
        }
        reader.Ascend(chunk);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly)) {
        return 0;
    }
    WAVEFORMATEX format;
    qint32 dataSize = 0;
    const qint32 status = ReadWaveInfo(buffer, format, dataSize);
    // The data size never counts bytes that are not there.
    if (dataSize < 0 || qint64(dataSize) > qint64(size) || (status != 0 && dataSize != 0)) {
        std::abort();
    }

    buffer.seek(0);
    RiffReader reader(buffer);
    Walk(reader, nullptr, 0);
    return 0;
}
