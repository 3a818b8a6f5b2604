#pragma once

#include "platform/system/Clocks.h"
#include "platform/system/FileVersionCache.h"
#include "platform/system/Result.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <utility>

class WriteWatch;

// "Open the file for reading with sharing denied": does any other process still have the file
// open, typically because it is still being copied in, or has it changed so lately that its
// writer may come back (a transfer resumed, "cat >>")?
//
// On local file systems the first answer comes from a write lease, which the kernel grants only
// while nobody else has the file open; it is released at once. The file must then have rested:
// its modification and change times at least two seconds old, or the file seen unchanged for two
// seconds of the steady clock (after the wall clock stepped back). Where no lease can be had
// (network file systems, where a lease says nothing about other machines; a file of another
// owner; a file system without leases) a file in a watched folder tree on a local disk is in use
// while the kernel reports it written and not closed since (WriteWatch). Where that cannot tell
// either, the file counts as in use until its size and modification time are unchanged since the
// previous look at it and it has rested by its modification time. The object remembers those
// looks and watches, so keep one for the life of the periodic check.
class FileInUse
{
public:
    // leasesAllowed false tests every file as one of another owner: by the watch where it tells,
    // else by size and time.
    explicit FileInUse(bool leasesAllowed = true, Clocks clocks = {});
    ~FileInUse();
    FileInUse(const FileInUse&) = delete;
    FileInUse& operator=(const FileInUse&) = delete;

    // Works when the file was opened and nobody else has it open; it is closed again before
    // returning. Fails, saying why, when it is in use, missing, unreadable or not a regular file.
    // Gives the look it took at the opened file (links followed), for the caller to hand on.
    Result<FileVersionKey> OpenExclusively(const QString& path);

    // Drops what the size-and-time test remembers of a file (after it was deleted).
    void Forget(const QString& path);
    // Ends a pass over the files: what was not looked at during it is forgotten, so that files
    // renamed or deleted by others leave nothing behind.
    void PassEnded();

    // Files in this folder and below are watched for writers from now on.
    void WatchTree(const QString& folder);
    // A folder of a watched tree where a file had to take the size-and-time test, and why its
    // writers cannot be seen there.
    struct Unseen
    {
        QString folder;
        QString why;
    };
    // What came up since the last call, each folder and reason once for the life of the object.
    QList<Unseen> TakeUnseen()
    {
        return m_unseen.isEmpty() ? QList<Unseen>() : std::exchange(m_unseen, {});
    }

private:
    struct Look
    {
        quint64 Device = 0;
        quint64 Inode = 0;
        qint64 Size = 0;
        qint64 ModifiedNs = 0;
        qint64 ChangedNs = 0;
        // Steady clock: when this version of the file was first seen.
        qint64 SinceNs = 0;
        // The pass of the latest look.
        quint64 Pass = 0;
        bool Same(const Look& other, bool withChangeTime) const
        {
            return Device == other.Device && Inode == other.Inode && Size == other.Size &&
                   ModifiedNs == other.ModifiedNs &&
                   (!withChangeTime || ChangedNs == other.ChangedNs);
        }
    };

    // Whether a device (st_dev) holds a network file system, asked of statfs again after a
    // second, as a device number can come back for another mount.
    struct FileSystemVerdict
    {
        bool Network = false;
        qint64 CheckedAtNs = 0; // monotonic
    };

    // A file nobody holds: its times at least two seconds old, or the file seen unchanged for two
    // seconds.
    Result<> Rested(const QString& path, const Look& look);
    // Where no lease tells: unchanged since the previous look, and rested as above by its
    // modification time.
    Result<> Settled(const QString& path, const Look& look);
    // Nanoseconds (steady clock) since this version of the file was first seen; -1 when this
    // look is the first of it.
    qint64 QuietFor(const QString& path, const Look& look, bool withChangeTime);
    bool OnNetworkFileSystem(int fd, quint64 device);

    bool m_leasesAllowed;
    Clocks m_clocks;
    QHash<QString, Look> m_looks;
    quint64 m_pass = 0;
    QHash<quint64, FileSystemVerdict> m_fileSystems;
    std::unique_ptr<WriteWatch> m_writers;
    QList<Unseen> m_unseen;
    QSet<QString> m_unseenTold;
};
