#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <functional>

// What the engine has already told about files that keep failing, so that a failure that lasts
// is told once rather than at every check: by file and version (device, inode, size and
// modification time), so that a file that changes is news again.
class FailureMemory
{
public:
    // Milliseconds on a steady clock: a step of the wall clock must neither silence a failure
    // nor repeat it.
    using Clock = std::function<qint64()>;
    explicit FailureMemory(Clock clock = {});
    void SetClock(Clock clock);

    struct Version
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = -1;
        bool operator==(const Version&) const = default;
    };
    // All -1 for a file that is not there, which is a version of its own.
    static Version Of(const QString& path);

    // Whether a log line about this version of the file is to be written: the first time, and
    // again once RepeatAfterMs have passed since it was last written.
    static constexpr qint64 RepeatAfterMs = 60 * 60 * 1000;
    bool LogDue(const QString& file, const Version& version, const QString& line);
    // True only the first time (mails, and reports that hold until the file changes).
    bool FirstTime(const QString& file, const Version& version, const QString& what);
    // The file was imported or moved away: what comes next under its name is news.
    void Forget(const QString& file);

private:
    struct Told
    {
        Version version;
        QHash<QString, qint64> lines; // line -> when last written
        QSet<QString> once;
    };
    Told& For(const QString& file, const Version& version);

    Clock m_clock;
    QHash<QString, Told> m_files;
    // Files that failed and were then deleted by hand are never forgotten otherwise.
    static constexpr qsizetype MaxFiles = 100000;
};
