#include "platform/cartstore/RiffReader.h"

#include <QIODevice>
#include <QtEndian>

namespace {
constexpr quint32 kRiff = RiffReader::FourCC("RIFF");
constexpr quint32 kList = RiffReader::FourCC("LIST");
constexpr qint64 kHeaderSize = 8;
} // namespace

RiffReader::RiffReader(QIODevice& device) : m_device(device)
{
    // Descents jump back and forth, which a sequential device cannot do: it reads as empty.
    if (!device.isSequential()) {
        m_size = device.size();
        m_position = device.pos();
    }
}

bool RiffReader::ReadAt(qint64 position, char* data, qint64 size)
{
    if (position < 0 || size < 0 || position > m_size || size > m_size - position) {
        return false;
    }
    if (!m_device.seek(position)) {
        return false;
    }
    return m_device.read(data, size) == size;
}

qint32 RiffReader::Descend(RiffChunk& chunk, const RiffChunk* parent, Find find)
{
    qint64 end = m_size;
    if (parent) {
        // Sizes are 32-bit, so this cannot overflow.
        end = qMin(end, parent->DataOffset + qint64(parent->Size));
    }
    qint64 position = m_position;
    while (position >= 0 && end - position >= kHeaderSize) {
        char header[12];
        if (!ReadAt(position, header, kHeaderSize)) {
            return ErrorCannotRead;
        }
        const quint32 id = qFromLittleEndian<quint32>(header);
        const quint32 size = qFromLittleEndian<quint32>(header + 4);
        const bool container = id == kRiff || id == kList;
        quint32 formType = 0;
        if (container && end - position >= kHeaderSize + 4) {
            if (!ReadAt(position + kHeaderSize, header + 8, 4)) {
                return ErrorCannotRead;
            }
            formType = qFromLittleEndian<quint32>(header + 8);
        }
        bool match = false;
        switch (find) {
        case Find::Any:
            match = true;
            break;
        case Find::Chunk:
            match = id == chunk.Id;
            break;
        case Find::Riff:
            match = id == kRiff && formType == chunk.FormType && end - position >= kHeaderSize + 4;
            break;
        case Find::List:
            match = id == kList && formType == chunk.FormType && end - position >= kHeaderSize + 4;
            break;
        }
        if (match) {
            chunk.Id = id;
            chunk.Size = size;
            chunk.FormType = container ? formType : 0;
            chunk.DataOffset = position + kHeaderSize;
            m_position = chunk.DataOffset + (container ? 4 : 0);
            return NoError;
        }
        // Chunks are word-aligned: an odd size is followed by a pad byte.
        position += kHeaderSize + qint64(size) + (size & 1);
    }
    return ErrorChunkNotFound;
}

qint32 RiffReader::Ascend(const RiffChunk& chunk)
{
    m_position = chunk.DataOffset + qint64(chunk.Size) + (chunk.Size & 1);
    return NoError;
}

qint64 RiffReader::Read(char* data, qint64 size)
{
    if (size <= 0 || m_position >= m_size) {
        return 0;
    }
    const qint64 count = qMin(size, m_size - m_position);
    if (!m_device.seek(m_position)) {
        return -1;
    }
    const qint64 read = m_device.read(data, count);
    if (read < 0) {
        return -1;
    }
    m_position += read;
    return read;
}

void RiffReader::Seek(qint64 position)
{
    m_position = qMax<qint64>(0, position);
}
