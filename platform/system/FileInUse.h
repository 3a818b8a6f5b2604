#pragma once

#include "platform/system/Result.h"

#include <QHash>
#include <QString>

// "Open the file for reading with sharing denied": does any other process still have the file
// open, typically because it is still being copied in?
//
// On local file systems the answer comes from a write lease, which the kernel grants only while
// nobody else has the file open; it is released at once. Where no lease can be had (network
// file systems, where a lease says nothing about other machines; a file of another owner; a
// file system without leases) the file counts as in use until its size and modification time
// are unchanged since the previous look at it and the modification time is at least two seconds
// old. The object remembers those looks, so keep one for the life of the periodic check.
class FileInUse
{
public:
    // leasesAllowed false makes every file take the size-and-time test.
    explicit FileInUse(bool leasesAllowed = true);

    // Works when the file was opened and nobody else has it open; it is closed again before
    // returning. Fails, saying why, when it is in use, missing, unreadable or not a regular file.
    Result<> OpenExclusively(const QString& path);

    // Drops what the size-and-time test remembers of a file (after it was deleted).
    void Forget(const QString& path);

    // The size-and-time test is needed for files on this file system type (statfs f_type).
    static bool IsNetworkFileSystem(long fileSystemType);

private:
    struct Look
    {
        qint64 Size = 0;
        qint64 ModifiedNs = 0;
    };

    // Whether a device (st_dev) holds a network file system, asked of statfs again after a
    // second, as a device number can come back for another mount.
    struct FileSystemVerdict
    {
        bool Network = false;
        qint64 CheckedAtNs = 0; // monotonic
    };

    Result<> Settled(const QString& path, qint64 size, qint64 modifiedNs);
    bool OnNetworkFileSystem(int fd, quint64 device);

    bool m_leasesAllowed;
    QHash<QString, Look> m_looks;
    QHash<quint64, FileSystemVerdict> m_fileSystems;
};
