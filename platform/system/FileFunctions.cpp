#include "platform/system/FileFunctions.h"

#include "platform/system/LeftoverFiles.h"
#include "platform/system/LongWork.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ProgressDisplay.h"
#include "platform/system/ToolError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool sameChar(QChar a, QChar b)
{
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

// "*" any run of characters, "?" exactly one; without regard to case.
bool globMatch(const QString& name, const QString& pattern)
{
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starP = -1;
    qsizetype starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern.at(p) == u'?' ||
             (pattern.at(p) != u'*' && sameChar(pattern.at(p), name.at(n))))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern.at(p) == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == u'*') {
        ++p;
    }
    return p == pattern.size();
}

// As Windows does, "name.*" also finds "name" without any extension ("*.*" finds everything).
bool wildcardMatch(const QString& name, const QString& pattern)
{
    if (globMatch(name, pattern)) {
        return true;
    }
    return pattern.endsWith(QStringLiteral(".*")) && !name.contains(u'.') &&
           globMatch(name, pattern.chopped(2));
}

bool hasWildcards(const QString& text)
{
    return text.contains(u'*') || text.contains(u'?');
}

void splitPattern(const QString& pattern, QString& folder, QString& mask)
{
    const qsizetype slash = pattern.lastIndexOf(u'/');
    if (slash < 0) {
        folder = QStringLiteral(".");
        mask = pattern;
    } else {
        folder = slash == 0 ? QStringLiteral("/") : pattern.left(slash);
        mask = pattern.mid(slash + 1);
    }
}

QStringList matchingNames(const QString& pattern)
{
    QString folder;
    QString mask;
    splitPattern(pattern, folder, mask);
    const QDir dir(folder);
    if (mask.isEmpty() || !dir.exists()) {
        return {};
    }
    QStringList names{QStringLiteral("."), QStringLiteral("..")};
    names += dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                           QDir::Name | QDir::IgnoreCase);
    // "*" and "*.*" take every name.
    if (mask == QLatin1String("*") || mask == QLatin1String("*.*")) {
        return names;
    }
    QStringList result;
    for (const QString& name : names) {
        if (wildcardMatch(name, mask)) {
            result.append(name);
        }
    }
    return result;
}

QString stripTrailingSlashes(const QString& path)
{
    QString result = path;
    while (result.size() > 1 && result.endsWith(u'/')) {
        result.chop(1);
    }
    return result;
}

int retryingClose(int fd)
{
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

FileFunctions& FileFunctions::instance()
{
    static FileFunctions functions;
    return functions;
}

bool FileFunctions::FileExists(const QString& path) const
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool FileFunctions::FolderExists(const QString& path) const
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool FileFunctions::CreateFolder(const QString& path, qint32 flags) const
{
    if (path.isEmpty()) {
        return false;
    }
    QDir().mkpath(path);
    return FolderExists(path);
}

QString FileFunctions::FindFirst(const QString& pattern, qint32 flags, qint32& handle)
{
    handle = 0;
    FindState state{matchingNames(pattern), 0};
    if (state.names.isEmpty()) {
        return QString();
    }
    handle = m_nextHandle++;
    if (m_nextHandle <= 0) {
        m_nextHandle = 1;
    }
    const QString first = state.names.at(state.next++);
    m_finds.insert(handle, std::move(state));
    return first;
}

QString FileFunctions::FindNext(qint32 handle)
{
    auto it = m_finds.find(handle);
    if (it == m_finds.end() || it->next >= it->names.size()) {
        return QString();
    }
    return it->names.at(it->next++);
}

void FileFunctions::FindClose(qint32 handle)
{
    m_finds.remove(handle);
}

QStringList FileFunctions::NamesStartingWith(const QString& folder, const QString& prefix)
{
    const QString dir = stripTrailingSlashes(folder);
    struct stat before
    {
    };
    if (::stat(QFile::encodeName(dir).constData(), &before) != 0 || !S_ISDIR(before.st_mode)) {
        m_listing = {};
        return {};
    }
    const qint64 modifiedNs =
        qint64(before.st_mtim.tv_sec) * 1'000'000'000 + before.st_mtim.tv_nsec;
    const qint64 changedNs = qint64(before.st_ctim.tv_sec) * 1'000'000'000 + before.st_ctim.tv_nsec;
    Listing& listing = m_listing;
    const bool current = listing.lasting && listing.folder == dir &&
                         listing.device == quint64(before.st_dev) &&
                         listing.inode == quint64(before.st_ino) &&
                         listing.modifiedNs == modifiedNs && listing.changedNs == changedNs;
    if (!current) {
        listing = {};
        listing.folder = dir;
        listing.device = quint64(before.st_dev);
        listing.inode = quint64(before.st_ino);
        listing.modifiedNs = modifiedNs;
        listing.changedNs = changedNs;
        // Two seconds cover coarse file-system clocks and a file server's clock a little ahead.
        const qint64 settledNs = QDateTime::currentMSecsSinceEpoch() * 1'000'000 - 2'000'000'000;
        // Every change of its entries sets the modification time.
        listing.lasting = modifiedNs < settledNs;
        listing.names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                QDir::NoDotAndDotDot,
                                            QDir::Name | QDir::IgnoreCase);
        QList<QPair<QString, qsizetype>> folded;
        folded.reserve(listing.names.size());
        for (qsizetype i = 0; i < listing.names.size(); ++i) {
            folded.append({listing.names.at(i).toCaseFolded(), i});
        }
        std::sort(folded.begin(), folded.end());
        listing.folded.reserve(folded.size());
        listing.order.reserve(folded.size());
        for (const auto& [name, index] : folded) {
            listing.folded.append(name);
            listing.order.append(index);
        }
    }
    const QString key = prefix.toCaseFolded();
    QList<qsizetype> found;
    for (auto it = std::lower_bound(listing.folded.cbegin(), listing.folded.cend(), key);
         it != listing.folded.cend() && it->startsWith(key); ++it) {
        found.append(listing.order.at(it - listing.folded.cbegin()));
    }
    std::sort(found.begin(), found.end());
    QStringList names;
    names.reserve(found.size());
    for (const qsizetype index : found) {
        names.append(listing.names.at(index));
    }
    return names;
}

double FileFunctions::GetFileSize(const QString& path) const
{
    if (path.isEmpty()) {
        return -1;
    }
    if (hasWildcards(GetFileName(path))) {
        const QString folder = GetFolderName(path);
        for (const QString& name : matchingNames(path)) {
            const QFileInfo info(folder + u'/' + name);
            if (info.isFile()) {
                return static_cast<double>(info.size());
            }
        }
        return -1;
    }
    const QFileInfo info(path);
    return info.isFile() ? static_cast<double>(info.size()) : -1.0;
}

QString FileFunctions::GetExtensionName(const QString& path) const
{
    const QString name = GetFileName(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString FileFunctions::GetFileName(const QString& path) const
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString FileFunctions::GetFileTitle(const QString& path) const
{
    const QString name = GetFileName(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

QString FileFunctions::GetFolderName(const QString& path, qint32 flags) const
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0) {
        return QString();
    }
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString FileFunctions::GetPathWithoutExtension(const QString& path) const
{
    const QString extension = GetExtensionName(path);
    if (GetFileName(path).contains(u'.')) {
        return path.left(path.size() - extension.size() - 1);
    }
    return path;
}

QString FileFunctions::GetParentFolder(const QString& folder) const
{
    return GetFolderName(stripTrailingSlashes(folder));
}

QString FileFunctions::GetSpecialFolder(qint32 code) const
{
    switch (code) {
    case 35:
        return PlatformPaths::DataHome();
    case 36:
        return PlatformPaths::StateHome();
    default:
        throw ToolError(ToolErrors::InvalidProcedureCall,
                        QStringLiteral("Unknown special folder %1").arg(code));
    }
}

QDateTime FileFunctions::GetDateLastModifiedUtc(const QString& path) const
{
    struct stat info
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0) {
        throw ToolError(ToolErrors::FileNotFound, QStringLiteral("File not found: %1").arg(path));
    }
    return UtcFromNs(qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec);
}

QDateTime FileFunctions::UtcFromNs(qint64 modifiedNs)
{
    // Milliseconds, as QFileInfo keeps them; rounded down also before 1970.
    qint64 ms = modifiedNs / 1'000'000;
    if (modifiedNs % 1'000'000 < 0) {
        --ms;
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QDateTime FileFunctions::GetDateLastModified(const QString& path) const
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        throw ToolError(ToolErrors::FileNotFound, QStringLiteral("File not found: %1").arg(path));
    }
    return info.lastModified();
}

qint32 FileFunctions::CopyFileWithProgress(const QString& source, const QString& destination,
                                           const QString& caption, QObject* ownerWindow,
                                           qint16& flag1, qint16& flag2, qint32& flags)
{
    if (source.isEmpty() || destination.isEmpty()) {
        return EINVAL;
    }
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return errno;
    }
    struct stat sourceStat
    {
    };
    if (::fstat(in, &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) {
        const int error = S_ISDIR(sourceStat.st_mode) ? EISDIR : (errno ? errno : EINVAL);
        ::close(in);
        return error;
    }

    // The copy grows under a hidden name beside the destination and only a complete, synced
    // file takes the destination's name.
    const QFileInfo target(destination);
    const QByteArray pattern =
        QFile::encodeName(target.absolutePath() + QStringLiteral("/.~") +
                          target.fileName().left(40) + QStringLiteral(".XXXXXX"));
    QByteArray temporary;
    int out = -1;
    // Locked while it grows, so that a sweep for leftovers of dead writers leaves it alone; a
    // sweep that took it in the moment before the lock costs a new name.
    for (int attempt = 0; attempt < 3; ++attempt) {
        temporary = pattern;
        out = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (out < 0) {
            const int error = errno;
            ::close(in);
            return error;
        }
        if (LeftoverFiles::Own(out, QFile::decodeName(temporary))) {
            break;
        }
        ::close(out);
        out = -1;
    }
    if (out < 0) {
        ::close(in);
        return EAGAIN;
    }
    auto fail = [&](int error) {
        ::close(out);
        ::unlink(temporary.constData());
        ::close(in);
        return static_cast<qint32>(error ? error : EIO);
    };

    std::unique_ptr<ProgressDisplay> display =
        ownerWindow ? ProgressDisplay::Create(caption, ownerWindow) : nullptr;
    const qint64 total = sourceStat.st_size;
    qint64 copied = 0;
    int lastPercent = -1;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno);
        }
        if (got == 0) {
            break;
        }
        if (!writeAll(out, buffer.data(), static_cast<size_t>(got))) {
            return fail(errno);
        }
        copied += got;
        if (!LongWork::Breathe()) {
            return fail(ECANCELED);
        }
        if (display) {
            const int percent =
                total > 0 ? static_cast<int>(qMin<qint64>(copied * 100 / total, 100)) : 100;
            if (percent != lastPercent) {
                display->SetPercent(percent);
                lastPercent = percent;
            }
            if (display->Cancelled()) {
                return fail(ECANCELED);
            }
        }
    }
    if (display) {
        display->SetPercent(100);
        if (display->Cancelled()) {
            return fail(ECANCELED);
        }
    }

    // Like a copy on Windows: the source's permissions and modification time travel with it.
    ::fchmod(out, sourceStat.st_mode & 0777);
    const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    ::futimens(out, times);
    if (::fsync(out) != 0) {
        return fail(errno);
    }
    if (const int error = retryingClose(out); error != 0) {
        ::unlink(temporary.constData());
        ::close(in);
        return error;
    }
    if (::rename(temporary.constData(), QFile::encodeName(destination).constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        ::close(in);
        return error;
    }
    ::close(in);
    // Make the new name itself durable.
    const int folder = ::open(QFile::encodeName(target.absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}
