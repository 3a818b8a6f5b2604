#include "platform/system/WriteWatch.h"

#include "platform/system/FileSystemKinds.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr uint32_t kEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                             IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

const QString kBeforeTheWatch =
    QStringLiteral("written before the program began to watch the folder");
const QString kLost = QStringLiteral("changes there came too fast to be followed");
const QString kNetwork = QStringLiteral("a network file system");

QString WithoutTrailingSlash(QString folder)
{
    while (folder.size() > 1 && folder.endsWith(u'/')) {
        folder.chop(1);
    }
    return folder;
}

} // namespace

WriteWatch::WriteWatch() = default;

WriteWatch::~WriteWatch()
{
    delete m_notifier;
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool WriteWatch::Start()
{
    if (m_fd >= 0) {
        return true;
    }
    if (!m_startError.isEmpty()) {
        return false;
    }
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_startError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && app->thread() == QThread::currentThread()) {
        m_notifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { Read(); });
    }
    return true;
}

void WriteWatch::WatchTree(const QString& folder)
{
    const QString root = WithoutTrailingSlash(folder);
    if (!m_roots.contains(root)) {
        m_roots.append(root);
    }
    if (!Start()) {
        return;
    }
    Read();
    if (!m_watchOf.contains(root) && !m_network.contains(root)) {
        AddTree(root);
    }
}

bool WriteWatch::InTree(const QString& folder) const
{
    for (const QString& root : m_roots) {
        if (folder.startsWith(root) &&
            (folder.size() == root.size() || folder.at(root.size()) == u'/')) {
            return true;
        }
    }
    return false;
}

WriteWatch::Answer WriteWatch::Judge(const QString& path, qint64 size)
{
    Answer answer;
    if (m_roots.isEmpty()) {
        return answer;
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    answer.folder = WithoutTrailingSlash(path.left(qMax<qsizetype>(slash, 1)));
    if (!InTree(answer.folder)) {
        return answer;
    }
    answer.state = State::Unknown;
    if (!Start()) {
        answer.why = m_startError;
        return answer;
    }
    Read();
    const auto watch = m_watchOf.constFind(answer.folder);
    if (watch == m_watchOf.constEnd()) {
        // A folder made since the last look, or reached through a link: watched from now on.
        const QString why = Add(answer.folder);
        answer.why = why.isEmpty() ? kBeforeTheWatch : why;
        return answer;
    }
    const Folder& folder = m_folders[*watch];
    const auto file = folder.files.constFind(path.mid(slash + 1));
    if (file == folder.files.constEnd()) {
        answer.why = folder.unseen;
        return answer;
    }
    const bool writing = *file == File::Writing || (*file == File::Created && size == 0);
    answer.state = writing ? State::Writing : State::NotWriting;
    return answer;
}

QString WriteWatch::Add(const QString& folder)
{
    if (m_network.contains(folder)) {
        return kNetwork;
    }
    const QByteArray name = QFile::encodeName(folder);
    struct statfs fileSystem;
    if (::statfs(name.constData(), &fileSystem) == 0 &&
        FileSystemKinds::IsNetwork(long(fileSystem.f_type))) {
        // Writers on other machines are never reported.
        m_network.insert(folder);
        return kNetwork;
    }
    const int wd = ::inotify_add_watch(m_fd, name.constData(), kEvents);
    if (wd < 0) {
        if (errno == ENOSPC) {
            return QStringLiteral("no more folders can be watched: fs.inotify.max_user_watches");
        }
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    m_watchOf.insert(folder, wd);
    // The same folder by another name shares the watch.
    if (!m_folders.contains(wd)) {
        m_folders.insert(wd, Folder{folder, {}, kBeforeTheWatch});
    }
    return {};
}

void WriteWatch::AddTree(const QString& folder)
{
    if (!Add(folder).isEmpty()) {
        return;
    }
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return;
    }
    QStringList below;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            isFolder = ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(info.st_mode);
        }
        if (isFolder) {
            below.append(folder + u'/' + QFile::decodeName(entry->d_name));
        }
    }
    ::closedir(dir);
    for (const QString& sub : below) {
        if (!m_watchOf.contains(sub)) {
            AddTree(sub);
        }
    }
}

void WriteWatch::Drop(int wd)
{
    const auto folder = m_folders.constFind(wd);
    if (folder == m_folders.constEnd()) {
        return;
    }
    m_watchOf.removeIf([wd](const auto& entry) { return entry.value() == wd; });
    m_folders.erase(folder);
}

void WriteWatch::Read()
{
    if (m_fd < 0) {
        return;
    }
    alignas(inotify_event) char buffer[64 * 1024];
    // A rename's two halves, matched by their cookie.
    QHash<quint32, std::optional<File>> moving;
    QStringList made;
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0) {
            break;
        }
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                for (Folder& folder : m_folders) {
                    folder.files.clear();
                    folder.unseen = kLost;
                }
                continue;
            }
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                // Gone or elsewhere now: watched afresh if it comes back under a watched tree.
                if (!(event->mask & IN_IGNORED)) {
                    ::inotify_rm_watch(m_fd, event->wd);
                }
                Drop(event->wd);
                continue;
            }
            const auto folder = m_folders.find(event->wd);
            if (folder == m_folders.end() || event->len == 0) {
                continue;
            }
            const QString name = QFile::decodeName(event->name);
            if (event->mask & IN_ISDIR) {
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                    made.append(folder->path + u'/' + name);
                }
                continue;
            }
            QHash<QString, File>& files = folder->files;
            if (event->mask & IN_CREATE) {
                files.insert(name, File::Created);
            } else if (event->mask & IN_MODIFY) {
                files.insert(name, File::Writing);
            } else if (event->mask & IN_CLOSE_WRITE) {
                files.insert(name, File::Closed);
            } else if (event->mask & IN_DELETE) {
                files.remove(name);
            } else if (event->mask & IN_MOVED_FROM) {
                const auto known = files.constFind(name);
                moving.insert(event->cookie, known == files.constEnd()
                                                 ? std::nullopt
                                                 : std::optional<File>(*known));
                files.remove(name);
            } else if (event->mask & IN_MOVED_TO) {
                // From outside the watched folders: a file put in whole.
                const std::optional<File> state = moving.value(event->cookie, File::Closed);
                if (state) {
                    files.insert(name, *state);
                } else {
                    files.remove(name);
                }
            }
        }
    }
    for (const QString& folder : made) {
        if (!m_watchOf.contains(folder)) {
            AddTree(folder);
        }
    }
}
