#include "platform/system/FileInUse.h"

#include "platform/system/FileSystemKinds.h"
#include "platform/system/WriteWatch.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr qint64 kFileSystemVerdictNs = 1'000'000'000;

// While a lease is held, another process's open sends the holder SIGIO, whose default action
// ends the program.
void IgnoreLeaseBreakSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = SIG_IGN;
        sigemptyset(&action.sa_mask);
        sigaction(SIGIO, &action, nullptr);
    });
}

Result<FileVersionKey> Seen(const Result<>& verdict, const struct stat& info)
{
    if (!verdict) {
        return Failure{verdict.Reason()};
    }
    return FileVersionKey::FromStat(info);
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Closes the descriptor on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

FileInUse::FileInUse(bool leasesAllowed, Clocks clocks)
    : m_leasesAllowed(leasesAllowed), m_clocks(std::move(clocks))
{}

FileInUse::~FileInUse() = default;

void FileInUse::WatchTree(const QString& folder)
{
    if (!m_writers) {
        m_writers = std::make_unique<WriteWatch>(m_clocks);
    }
    m_writers->WatchTree(folder);
}

Result<FileVersionKey> FileInUse::OpenExclusively(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking: a FIFO must not wait for a writer, and a file leased by someone else (a
    // file server's oplock) answers at once instead of after the lease-break time.
    const Descriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        return Failure{ErrorText(errno)};
    }
    struct stat info;
    if (::fstat(fd.get(), &info) != 0) {
        return Failure{ErrorText(errno)};
    }
    if (!S_ISREG(info.st_mode)) {
        return Failure{QStringLiteral("not a regular file")};
    }
    const Look look{quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size),
                    qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
                    qint64(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec};

    bool leaseTells = m_leasesAllowed;
    if (leaseTells && OnNetworkFileSystem(fd.get(), quint64(info.st_dev))) {
        leaseTells = false;
    }
    if (leaseTells) {
        IgnoreLeaseBreakSignal();
        // Closing the descriptor on the way out gives the lease up: no call of its own.
        if (::fcntl(fd.get(), F_SETLEASE, F_WRLCK) == 0) {
            // Nobody has it open now, but a writer that closes between pieces may come back.
            return Seen(Rested(path, look), info);
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            return Failure{QStringLiteral("open in another process")};
        }
        // EACCES (not our file, no CAP_LEASE), EINVAL (no leases here) and the like.
    }
    if (m_writers) {
        const WriteWatch::Answer answer = m_writers->Judge(path, look.Size);
        switch (answer.state) {
        case WriteWatch::State::Writing:
            return Failure{QStringLiteral("still being written")};
        case WriteWatch::State::NotWriting:
            return Seen(Rested(path, look), info);
        case WriteWatch::State::Unknown:
            if (const QString key = answer.folder + u'\n' + answer.why;
                !m_unseenTold.contains(key)) {
                m_unseenTold.insert(key);
                m_unseen.append({answer.folder, answer.why});
            }
            break;
        case WriteWatch::State::NotWatched:
            break;
        }
    }
    return Seen(Settled(path, look), info);
}

bool FileInUse::OnNetworkFileSystem(int fd, quint64 device)
{
    const qint64 now = m_clocks.SteadyNs();
    const auto known = m_fileSystems.constFind(device);
    if (known != m_fileSystems.constEnd() && now - known->CheckedAtNs < kFileSystemVerdictNs) {
        return known->Network;
    }
    struct statfs fileSystem;
    if (::fstatfs(fd, &fileSystem) != 0) {
        // Unknown: not remembered, asked again with the next file.
        return false;
    }
    const bool network = FileSystemKinds::IsNetwork(long(fileSystem.f_type));
    m_fileSystems.insert(device, FileSystemVerdict{network, now});
    return network;
}

Result<> FileInUse::Rested(const QString& path, const Look& look)
{
    // The change time moves with every write and with a modification time set back.
    if (m_clocks.WallNs() - qMax(look.ModifiedNs, look.ChangedNs) >= kFileSettleNs) {
        if (!m_looks.isEmpty()) {
            m_looks.remove(path);
        }
        return {};
    }
    // Changed lately, or stamped ahead of a wall clock that has stepped back since.
    if (QuietFor(path, look, true) >= kFileSettleNs) {
        return {};
    }
    return Failure{QStringLiteral("modified less than two seconds ago")};
}

Result<> FileInUse::Settled(const QString& path, const Look& look)
{
    const qint64 quiet = QuietFor(path, look, false);
    if (quiet < 0) {
        return Failure{QStringLiteral("size or modification time changed since the last look")};
    }
    if (m_clocks.WallNs() - look.ModifiedNs < kFileSettleNs && quiet < kFileSettleNs) {
        return Failure{QStringLiteral("modified less than two seconds ago")};
    }
    return {};
}

qint64 FileInUse::QuietFor(const QString& path, const Look& look, bool withChangeTime)
{
    const qint64 now = m_clocks.SteadyNs();
    const auto previous = m_looks.find(path);
    if (previous != m_looks.end() && previous->Same(look, withChangeTime)) {
        previous->Pass = m_pass;
        return now - previous->SinceNs;
    }
    Look first = look;
    first.SinceNs = now;
    first.Pass = m_pass;
    m_looks.insert(path, first);
    return -1;
}

void FileInUse::Forget(const QString& path)
{
    m_looks.remove(path);
}

void FileInUse::PassEnded()
{
    m_looks.removeIf([this](const auto& entry) { return entry.value().Pass != m_pass; });
    ++m_pass;
}
