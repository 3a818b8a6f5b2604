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
// A folder moved out of the watched trees keeps its watch this long, in case it comes back.
constexpr qint64 kAwayNs = 3'600'000'000'000;
// A folder refused for lack of watches is tried again after this long, if no watch was given up
// before.
constexpr qint64 kRefusedNs = 3'600'000'000'000;

const QString kBeforeTheWatch =
    QStringLiteral("written before the program began to watch the folder");
const QString kLost = QStringLiteral("changes there came too fast to be followed");
const QString kNetwork = QStringLiteral("a network file system");
const QString kMovedIn = QStringLiteral("moved in from a folder the program was not watching");
const QString kNoRoom =
    QStringLiteral("no more folders can be watched: fs.inotify.max_user_watches");

QString WithoutTrailingSlash(QString folder)
{
    while (folder.size() > 1 && folder.endsWith(u'/')) {
        folder.chop(1);
    }
    return folder;
}

bool Below(const QString& path, const QString& folder)
{
    return path.startsWith(folder) &&
           (path.size() == folder.size() || path.at(folder.size()) == u'/');
}

} // namespace

WriteWatch::WriteWatch(Clocks clocks, AddWatch addWatch)
    : m_clocks(std::move(clocks)),
      m_addWatch(addWatch ? std::move(addWatch) : AddWatch(&::inotify_add_watch))
{}

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
    if (m_away > 0) {
        DropLongAway();
    }
    if (!m_network.contains(root) && !Watched(root)) {
        AddTree(root);
    }
}

bool WriteWatch::InTree(const QString& folder) const
{
    for (const QString& root : m_roots) {
        if (Below(folder, root)) {
            return true;
        }
    }
    return false;
}

bool WriteWatch::Watched(const QString& folder) const
{
    const auto watch = m_watchOf.constFind(folder);
    if (watch == m_watchOf.constEnd()) {
        return false;
    }
    const auto known = m_folders.constFind(*watch);
    struct stat info;
    return known != m_folders.constEnd() &&
           ::stat(QFile::encodeName(folder).constData(), &info) == 0 &&
           quint64(info.st_dev) == known->device && quint64(info.st_ino) == known->inode;
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
    auto watch = m_watchOf.constFind(answer.folder);
    if (watch == m_watchOf.constEnd()) {
        // A folder made since the last look, or reached through a link: watched from now on.
        if (const Added added = Add(answer.folder); added.wd < 0) {
            answer.why = added.why;
            return answer;
        }
        watch = m_watchOf.constFind(answer.folder);
    }
    const Folder& folder = m_folders[*watch];
    const auto file = folder.files.constFind(path.mid(slash + 1));
    if (file == folder.files.constEnd()) {
        answer.why = folder.unseen;
        return answer;
    }
    if (*file == File::MovedIn) {
        answer.why = kMovedIn;
        return answer;
    }
    const bool writing = *file == File::Writing || (*file == File::Created && size == 0);
    answer.state = writing ? State::Writing : State::NotWriting;
    return answer;
}

WriteWatch::Added WriteWatch::Add(const QString& folder)
{
    if (m_network.contains(folder)) {
        return {-1, kNetwork};
    }
    if (const auto refused = m_refused.constFind(folder); refused != m_refused.constEnd()) {
        if (refused->givenUp == m_givenUp && m_clocks.SteadyNs() - refused->atNs < kRefusedNs) {
            return {-1, refused->why};
        }
        m_refused.erase(refused);
    }
    const QByteArray name = QFile::encodeName(folder);
    struct statfs fileSystem;
    if (::statfs(name.constData(), &fileSystem) == 0 &&
        FileSystemKinds::IsNetwork(long(fileSystem.f_type))) {
        // Writers on other machines are never reported.
        m_network.insert(folder);
        return {-1, kNetwork};
    }
    const int wd = m_addWatch(m_fd, name.constData(), kEvents);
    if (wd < 0) {
        if (errno == ENOSPC) {
            m_refused.insert(folder, Refused{kNoRoom, m_clocks.SteadyNs(), m_givenUp});
            return {-1, kNoRoom};
        }
        return {-1, QString::fromLocal8Bit(std::strerror(errno))};
    }
    struct stat info = {};
    ::stat(name.constData(), &info);
    // The name meant another folder until now (that one was moved or deleted unseen).
    if (const auto named = m_watchOf.constFind(folder);
        named != m_watchOf.constEnd() && *named != wd) {
        Unname(folder);
    }
    m_watchOf.insert(folder, wd);
    const auto known = m_folders.find(wd);
    if (known == m_folders.end()) {
        m_folders.insert(
            wd, Folder{folder, quint64(info.st_dev), quint64(info.st_ino), {}, kBeforeTheWatch, 0});
    } else if (known->awaySinceNs != 0) {
        // Back in a watched tree: what is known of its files holds.
        known->path = folder;
        known->awaySinceNs = 0;
        --m_away;
    }
    // Otherwise the same folder by another name shares the watch.
    return {wd, {}};
}

void WriteWatch::AddTree(const QString& folder)
{
    // Each folder once, even where a mount shows it below itself.
    QSet<int> seen;
    QStringList pending = {folder};
    while (!pending.isEmpty()) {
        const QString current = pending.takeLast();
        const Added added = Add(current);
        if (added.wd < 0 || seen.contains(added.wd)) {
            continue;
        }
        seen.insert(added.wd);
        DIR* dir = ::opendir(QFile::encodeName(current).constData());
        if (!dir) {
            continue;
        }
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
                continue;
            }
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info;
                isFolder =
                    ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(info.st_mode);
            }
            if (isFolder) {
                pending.append(current + u'/' + QFile::decodeName(entry->d_name));
            }
        }
        ::closedir(dir);
    }
}

void WriteWatch::Rename(const QString& from, const QString& to)
{
    QList<std::pair<QString, int>> moved;
    for (auto it = m_watchOf.begin(); it != m_watchOf.end();) {
        if (Below(it.key(), from)) {
            moved.append({to + it.key().mid(from.size()), it.value()});
            it = m_watchOf.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [name, wd] : moved) {
        if (m_watchOf.contains(name)) {
            Unname(name);
        }
        m_watchOf.insert(name, wd);
    }
    for (Folder& folder : m_folders) {
        if (folder.awaySinceNs == 0 && Below(folder.path, from)) {
            folder.path = to + folder.path.mid(from.size());
        }
    }
}

void WriteWatch::Away(const QString& folder)
{
    QStringList names;
    for (auto it = m_watchOf.cbegin(); it != m_watchOf.cend(); ++it) {
        if (Below(it.key(), folder)) {
            names.append(it.key());
        }
    }
    for (const QString& name : names) {
        Unname(name);
    }
}

void WriteWatch::Unname(const QString& name)
{
    const int wd = m_watchOf.take(name);
    const auto folder = m_folders.find(wd);
    if (folder == m_folders.end() || folder->awaySinceNs != 0) {
        return;
    }
    for (auto it = m_watchOf.cbegin(); it != m_watchOf.cend(); ++it) {
        if (it.value() == wd) {
            folder->path = it.key();
            return;
        }
    }
    folder->awaySinceNs = qMax<qint64>(m_clocks.SteadyNs(), 1);
    ++m_away;
}

void WriteWatch::Drop(int wd)
{
    const auto folder = m_folders.constFind(wd);
    if (folder == m_folders.constEnd()) {
        return;
    }
    if (folder->awaySinceNs != 0) {
        --m_away;
    }
    m_watchOf.removeIf([wd](const auto& entry) { return entry.value() == wd; });
    m_folders.erase(folder);
    ++m_givenUp;
}

void WriteWatch::DropLongAway()
{
    const qint64 now = m_clocks.SteadyNs();
    QList<int> gone;
    for (auto it = m_folders.cbegin(); it != m_folders.cend(); ++it) {
        if (it->awaySinceNs != 0 && now - it->awaySinceNs >= kAwayNs) {
            gone.append(it.key());
        }
    }
    for (const int wd : gone) {
        ::inotify_rm_watch(m_fd, wd);
        Drop(wd);
    }
}

void WriteWatch::Read()
{
    if (m_fd < 0) {
        return;
    }
    alignas(inotify_event) char buffer[64 * 1024];
    // A rename's two halves, matched by their cookie: a file's state, a folder's old path.
    QHash<quint32, std::optional<File>> moving;
    QHash<quint32, QString> movingFolders;
    // Folders whose move was followed in this batch; any other that moved left the trees.
    QSet<int> followed;
    QStringList made;
    bool lost = false;
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
                lost = true;
                continue;
            }
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF)) {
                if (!(event->mask & IN_IGNORED)) {
                    ::inotify_rm_watch(m_fd, event->wd);
                }
                Drop(event->wd);
                continue;
            }
            const auto folder = m_folders.find(event->wd);
            if (folder == m_folders.end()) {
                continue;
            }
            if (event->mask & IN_MOVE_SELF) {
                if (!followed.remove(event->wd) && folder->awaySinceNs == 0) {
                    Away(folder->path);
                }
                continue;
            }
            if (event->len == 0) {
                continue;
            }
            const QString name = QFile::decodeName(event->name);
            if (event->mask & IN_ISDIR) {
                if (folder->awaySinceNs != 0) {
                    // Its own path is not known: looked through when it comes back.
                    continue;
                }
                const QString path = folder->path + u'/' + name;
                if (event->mask & IN_MOVED_FROM) {
                    movingFolders.insert(event->cookie, path);
                } else if (event->mask & IN_MOVED_TO) {
                    const QString from = movingFolders.take(event->cookie);
                    const int wd = from.isEmpty() ? -1 : m_watchOf.value(from, -1);
                    if (wd >= 0) {
                        Rename(from, path);
                        followed.insert(wd);
                    } else {
                        made.append(path);
                    }
                } else if (event->mask & IN_CREATE) {
                    made.append(path);
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
                const auto from = moving.constFind(event->cookie);
                if (from == moving.constEnd()) {
                    // Its first half was never seen: from outside, or from a folder not watched
                    // yet, perhaps still open.
                    files.insert(name, File::MovedIn);
                } else if (*from) {
                    files.insert(name, **from);
                } else {
                    files.remove(name);
                }
            }
        }
    }
    if (lost) {
        // Moves may have gone unseen too: names that mean other folders now are given up, and
        // the trees looked through again.
        QStringList stale;
        for (auto it = m_watchOf.cbegin(); it != m_watchOf.cend(); ++it) {
            if (!Watched(it.key())) {
                stale.append(it.key());
            }
        }
        for (const QString& name : stale) {
            Unname(name);
        }
        for (const QString& root : m_roots) {
            if (!m_network.contains(root)) {
                AddTree(root);
            }
        }
    }
    for (const QString& folder : made) {
        AddTree(folder);
    }
}
