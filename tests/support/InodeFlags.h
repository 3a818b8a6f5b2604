#pragma once

#include <QByteArray>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

// Sets or clears an inode flag (FS_IMMUTABLE_FL, FS_APPEND_FL) of a file or folder, as chattr
// does; false where the file system or the account does not allow it.
inline bool SetInodeFlag(const QByteArray& path, int flag, bool on)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | flag : flags & ~flag;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}
