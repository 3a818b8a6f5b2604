#pragma once

#include <QtGlobal>

class QIODevice;

// One chunk of a RIFF file, as a descent finds it (the fields of the multimedia API's MMCKINFO).
struct RiffChunk
{
    quint32 Id = 0;        // four-character code
    quint32 Size = 0;      // size of the chunk's data as the header gives it
    quint32 FormType = 0;  // form or list type of a "RIFF" or "LIST" chunk
    qint64 DataOffset = 0; // where the chunk's data begins
};

// A small RIFF reader with the descend and ascend semantics of the Windows multimedia file
// functions, over an open random-access device. It keeps its own position and never reads past the
// end of the device, whatever the headers claim; every search moves forward by at least a chunk
// header, so it ends on any input.
class RiffReader
{
public:
    enum class Find
    {
        Any,
        Chunk,
        Riff,
        List
    };

    // Status codes, as the multimedia file functions give them.
    static constexpr qint32 NoError = 0;
    static constexpr qint32 ErrorCannotRead = 261;
    static constexpr qint32 ErrorChunkNotFound = 265;

    static constexpr quint32 FourCC(const char (&code)[5])
    {
        return quint32(quint8(code[0])) | quint32(quint8(code[1])) << 8 |
               quint32(quint8(code[2])) << 16 | quint32(quint8(code[3])) << 24;
    }

    explicit RiffReader(QIODevice& device);

    // Searches from the current position, within the parent's data when a parent is given,
    // for: Chunk, a chunk whose Id equals chunk.Id; Riff or List, a "RIFF" or "LIST" chunk
    // whose form type equals chunk.FormType; Any, the next chunk. Found: fills chunk, leaves
    // the position at its data (behind the form type for RIFF and LIST) and answers NoError.
    qint32 Descend(RiffChunk& chunk, const RiffChunk* parent, Find find);
    // Moves behind the chunk, past its pad byte when its size is odd.
    qint32 Ascend(const RiffChunk& chunk);
    // Reads up to size bytes at the current position: the count read, 0 at the end, -1 on a
    // read error.
    qint64 Read(char* data, qint64 size);
    void Seek(qint64 position);
    qint64 Position() const { return m_position; }
    qint64 DeviceSize() const { return m_size; }

private:
    // Reads exactly size bytes at position; false when they are not all there.
    bool ReadAt(qint64 position, char* data, qint64 size);

    QIODevice& m_device;
    qint64 m_size = 0;
    qint64 m_position = 0;
};
