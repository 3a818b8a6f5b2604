#pragma once

#include <QString>

// Opens an audio file with FFmpeg and reports its exact length, counted from the decoded
// samples. Lengths are cached persistently by path, size, modification time and inode, so an
// unchanged file is decoded once.
class AudioDecoder
{
public:
    AudioDecoder();
    ~AudioDecoder();

    bool WMAMode() const { return m_wmaMode; }
    void setWMAMode(bool on) { m_wmaMode = on; }

    // Raises ToolError when the file cannot be opened or decoded; BadFileFormat when its content
    // is to blame, with the decoder's reason, also when that verdict comes from the cache.
    void OpenFile(const QString& fileName, qint32 arg2 = 0, qint32 arg3 = 1);
    double DurationMs() const { return m_durationMs; }
    void CloseFile();

    // The folder of the persistent length cache (a table in "audiolengths.db"); by default
    // the cart store's default base folder.
    static void setCacheFolder(const QString& folder);

private:
    bool m_wmaMode = false;
    double m_durationMs = 0.0;
    QString m_fileName;
};
