#include "platform/system/HeldFolder.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class HeldFolder::Descriptor
{
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() { ::close(fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    const int fd;
};

namespace {

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why the entry of the folder could not be opened as a folder.
QString NotAFolder(int folder, const QByteArray& name, const QString& path, int error)
{
    struct stat info
    {
    };
    if (error == ELOOP || error == ENOTDIR) {
        if (::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            return S_ISLNK(info.st_mode) ? QStringLiteral("'%1' is a link, not a folder").arg(path)
                                         : QStringLiteral("'%1' is not a folder").arg(path);
        }
    }
    return ErrorText(error);
}

QString WithoutTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return path;
}

} // namespace

HeldFolder::HeldFolder(std::shared_ptr<Descriptor> fd, QString path)
    : m_fd(std::move(fd)), m_path(std::move(path))
{}

int HeldFolder::Fd() const
{
    return m_fd->fd;
}

QString HeldFolder::Reach(const QString& name) const
{
    return QStringLiteral("/proc/self/fd/%1/").arg(m_fd->fd) + name;
}

Result<HeldFolder> HeldFolder::Holding(const QString& root, const QString& file)
{
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash <= 0 ? QStringLiteral("/") : file.left(slash);
    QString start = WithoutTrailingSlashes(root);
    QStringList steps;
    const QString inside = start == QLatin1String("/") ? start : start + QLatin1Char('/');
    if (!start.isEmpty() && (folder + QLatin1Char('/')).startsWith(inside)) {
        steps = folder.mid(inside.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    }
    // Outside the watched folder, or a way that climbs back out of it: its own folder.
    if (start.isEmpty() || !(folder + QLatin1Char('/')).startsWith(inside) ||
        steps.contains(QStringLiteral(".."))) {
        start = folder;
        steps.clear();
    }
    int fd = ::open(QFile::encodeName(start).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Failure{ErrorText(errno)};
    }
    auto held = std::make_shared<Descriptor>(fd);
    QString path = start;
    for (const QString& step : steps) {
        if (step == QLatin1String(".")) {
            continue;
        }
        path += (path.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + step;
        const QByteArray name = QFile::encodeName(step);
        fd = ::openat(held->fd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            return Failure{NotAFolder(held->fd, name, path, errno)};
        }
        held = std::make_shared<Descriptor>(fd);
    }
    return HeldFolder(std::move(held), folder);
}

Result<> HeldFolder::Remove(const QString& name, Removing what) const
{
    const QByteArray native = QFile::encodeName(name);
    struct stat info
    {
    };
    if (what == Removing::FileIfAny &&
        (::fstatat(Fd(), native.constData(), &info, 0) != 0 || !S_ISREG(info.st_mode))) {
        return {};
    }
    if (::unlinkat(Fd(), native.constData(), 0) != 0) {
        return Failure{ErrorText(errno)};
    }
    return {};
}

Result<HeldFolder> HeldFolder::Subfolder(const QString& name) const
{
    const QByteArray native = QFile::encodeName(name);
    const QString path = PathOf(name);
    if (::mkdirat(Fd(), native.constData(), 0777) != 0 && errno != EEXIST) {
        return Failure{ErrorText(errno)};
    }
    const int fd =
        ::openat(Fd(), native.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return Failure{NotAFolder(Fd(), native, path, errno)};
    }
    return HeldFolder(std::make_shared<Descriptor>(fd), path);
}
