#include "platform/system/LeftoverFiles.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <cerrno>
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
    int removed = 0;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!names.match(name).hasMatch()) {
            continue;
        }
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        struct stat info
        {
        };
        // A writer that created this name a moment ago and locks it only now notices the
        // unlink (LeftoverFiles::Own) and makes another.
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (::unlink(path.constData()) == 0) {
                ++removed;
                qCInfo(lcLeftovers) << "removed the leftover" << dir.filePath(name);
            }
        }
        ::close(fd);
    }
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
