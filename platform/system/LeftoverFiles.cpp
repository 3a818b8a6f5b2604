#include "platform/system/LeftoverFiles.h"

#include <QFile>
#include <QLoggingCategory>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The store's category: its leftovers are what these files mostly are.
Q_LOGGING_CATEGORY(lcLeftovers, "cartfeeder.store", QtWarningMsg)
} // namespace

namespace LeftoverFiles {

bool Own(int fd, const QString& path)
{
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return false;
    }
    struct stat open
    {
    };
    struct stat named
    {
    };
    return ::fstat(fd, &open) == 0 && open.st_nlink > 0 &&
           ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           named.st_ino == open.st_ino && named.st_dev == open.st_dev;
}

int RemoveUnowned(const QString& folder, const QRegularExpression& names)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    const int removed = RemoveUnowned(fd, names);
    ::close(fd);
    return removed;
}

int RemoveUnowned(int folderFd, const QRegularExpression& names)
{
    // The listing gets its own descriptor (closedir closes it), readable also when the folder
    // is held only as a place.
    const int listed = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        if (listed >= 0) {
            ::close(listed);
        }
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!names.match(name).hasMatch()) {
            continue;
        }
        const int fd =
            ::openat(folderFd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        struct stat info
        {
        };
        // A writer that created this name a moment ago and locks it only now notices the
        // unlink (LeftoverFiles::Own) and makes another. Only this account's writers leave
        // these: a file of another owner is someone's own, whatever its name.
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (::unlinkat(folderFd, entry->d_name, 0) == 0) {
                ++removed;
                qCInfo(lcLeftovers) << "removed the leftover" << name;
            }
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

unsigned DefaultFileMode()
{
    static unsigned mode = [] {
        unsigned mask = 022;
        QFile status(QStringLiteral("/proc/self/status"));
        bool found = false;
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    mask = line.mid(6).trimmed().toUInt(&found, 8);
                    break;
                }
            }
        }
        if (!found) {
            // Kernels before 4.7 do not show it; reading it means setting it for a moment.
            static std::mutex guard;
            std::lock_guard lock(guard);
            const mode_t old = ::umask(022);
            ::umask(old);
            mask = old;
        }
        return 0666u & ~mask;
    }();
    return mode;
}

} // namespace LeftoverFiles
