#include "platform/system/FileFunctions.h"

#include "platform/system/FileSystemKinds.h"
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
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <sys/vfs.h>
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

using FoundEntry = FileFunctions::FoundEntry;

// What the entry is; `link` tells whether it is a symbolic link.
FoundEntry::Kind kindOf(int folderFd, const char* name, unsigned char type, bool& link)
{
    using Kind = FoundEntry::Kind;
    link = false;
    switch (type) {
    case DT_DIR:
        return Kind::Folder;
    case DT_REG:
    case DT_FIFO:
    case DT_SOCK:
    case DT_CHR:
    case DT_BLK:
        return Kind::File;
    default:
        break;
    }
    struct stat info;
    if (type != DT_LNK) {
        // The file system did not say (DT_UNKNOWN).
        if (::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return Kind::File;
        }
        if (S_ISDIR(info.st_mode)) {
            return Kind::Folder;
        }
        if (!S_ISLNK(info.st_mode)) {
            return Kind::File;
        }
    }
    link = true;
    return ::fstatat(folderFd, name, &info, 0) == 0 && S_ISDIR(info.st_mode) ? Kind::LinkToFolder
                                                                             : Kind::File;
}

// Sorts as the lower-case names compare (names that differ only in case in the order of their
// code units). Plain ASCII names are lowered while comparing; only the others beforehand.
void sortByName(QList<FoundEntry>& entries)
{
    struct Keyed
    {
        QString lowered; // null for an ASCII name
        qsizetype index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString& name = entries.at(i).name;
        const bool ascii =
            std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; });
        keyed.push_back({ascii ? QString() : name.toLower(), i});
    }
    const auto lowered = [&entries](const Keyed& k) -> std::pair<QStringView, bool> {
        return k.lowered.isNull() ? std::pair{QStringView(entries.at(k.index).name), true}
                                  : std::pair{QStringView(k.lowered), false};
    };
    const auto asciiLower = [](char16_t c) -> char16_t {
        return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
    };
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        const auto [textA, lowerA] = lowered(a);
        const auto [textB, lowerB] = lowered(b);
        const qsizetype common = std::min(textA.size(), textB.size());
        for (qsizetype i = 0; i < common; ++i) {
            const char16_t ca = lowerA ? asciiLower(textA[i].unicode()) : textA[i].unicode();
            const char16_t cb = lowerB ? asciiLower(textB[i].unicode()) : textB[i].unicode();
            if (ca != cb) {
                return ca < cb;
            }
        }
        if (textA.size() != textB.size()) {
            return textA.size() < textB.size();
        }
        return entries.at(a.index).name < entries.at(b.index).name;
    });
    QList<FoundEntry> sorted;
    sorted.reserve(entries.size());
    for (const Keyed& k : keyed) {
        sorted.append(std::move(entries[k.index]));
    }
    entries = std::move(sorted);
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The folder's entries without "." and "..", sorted by name. Empty when it cannot be read.
// Names that are not UTF-8 are left out: decoded, they would name another file, or none. They
// go to notText, when given, as they are.
QList<FoundEntry> listFolder(const QString& folder, QList<QByteArray>* notText = nullptr)
{
    QList<FoundEntry> entries;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return entries;
    }
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!QUtf8StringView(entry->d_name).isValidUtf8()) {
            if (notText) {
                notText->append(QByteArray(entry->d_name));
            }
            continue;
        }
        if (!isDotOrDotDot(entry->d_name)) {
            bool link = false;
            const FoundEntry::Kind kind = kindOf(fd, entry->d_name, entry->d_type, link);
            entries.append({QFile::decodeName(entry->d_name), kind, link});
        }
    }
    ::closedir(dir);
    sortByName(entries);
    return entries;
}

// The names in the folder whose case-folded form begins with `folded`, sorted by name, without
// sorting or even decoding the others: the leading ASCII of the prefix is compared on the raw
// bytes first. A name byte beyond ASCII leaves the question to the full comparison, since a few
// other letters fold to ASCII ones (the Kelvin sign to "k").
QStringList namesBeginningWith(const QString& folder, const QString& folded)
{
    QByteArray ascii;
    for (const QChar c : folded) {
        if (c.unicode() >= 0x80) {
            break;
        }
        ascii.append(char(c.unicode()));
    }
    QList<FoundEntry> found;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return {};
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (isDotOrDotDot(name)) {
            continue;
        }
        bool differs = false;
        for (qsizetype i = 0; i < ascii.size(); ++i) {
            const auto byte = static_cast<unsigned char>(name[i]);
            if (byte >= 0x80) {
                break;
            }
            // The end of the name counts as a difference too.
            if ((byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte) !=
                static_cast<unsigned char>(ascii.at(i))) {
                differs = true;
                break;
            }
        }
        if (differs) {
            continue;
        }
        if (!QUtf8StringView(name).isValidUtf8()) {
            continue;
        }
        QString decoded = QFile::decodeName(name);
        if (decoded.toCaseFolded().startsWith(folded)) {
            found.append({std::move(decoded), FoundEntry::Kind::File});
        }
    }
    ::closedir(dir);
    sortByName(found);
    QStringList names;
    names.reserve(found.size());
    for (FoundEntry& entry : found) {
        names.append(std::move(entry.name));
    }
    return names;
}

QList<FoundEntry> matchingEntries(const QString& pattern,
                                  const std::function<QList<FoundEntry>(const QString&)>& list)
{
    QString folder;
    QString mask;
    splitPattern(pattern, folder, mask);
    if (mask.isEmpty() || !QFileInfo(folder).isDir()) {
        return {};
    }
    QList<FoundEntry> entries{{QStringLiteral("."), FoundEntry::Kind::Folder},
                              {QStringLiteral(".."), FoundEntry::Kind::Folder}};
    entries += list(folder);
    // "*" and "*.*" take every name.
    if (mask == QLatin1String("*") || mask == QLatin1String("*.*")) {
        return entries;
    }
    QList<FoundEntry> result;
    for (FoundEntry& entry : entries) {
        if (wildcardMatch(entry.name, mask)) {
            result.append(std::move(entry));
        }
    }
    return result;
}

QStringList matchingNames(const QString& pattern)
{
    QStringList names;
    for (FoundEntry& entry :
         matchingEntries(pattern, [](const QString& folder) { return listFolder(folder); })) {
        names.append(std::move(entry.name));
    }
    return names;
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

QList<FileFunctions::FoundEntry> FileFunctions::FindAll(const QString& pattern)
{
    return FindAll(pattern, nullptr);
}

QList<FileFunctions::FoundEntry> FileFunctions::FindAll(const QString& pattern,
                                                        QList<QByteArray>* notText)
{
    return matchingEntries(pattern, [this, notText](const QString& folder) {
        QList<QByteArray> unnamed;
        QList<FoundEntry> entries = ListKept(folder, unnamed);
        if (notText) {
            *notText = std::move(unnamed);
        }
        return entries;
    });
}

QList<FileFunctions::FoundEntry> FileFunctions::ListKept(const QString& folder,
                                                         QList<QByteArray>& notText)
{
    const QByteArray native = QFile::encodeName(folder);
    struct stat info
    {
    };
    if (::stat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        m_keptFolders.remove(folder);
        return listFolder(folder, &notText);
    }
    const qint64 modifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    const qint64 changedNs = qint64(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
    const auto kept = m_keptFolders.constFind(folder);
    if (kept != m_keptFolders.constEnd() && kept->device == quint64(info.st_dev) &&
        kept->inode == quint64(info.st_ino) && kept->modifiedNs == modifiedNs &&
        kept->changedNs == changedNs) {
        QList<FoundEntry> entries = kept->entries;
        // What a link leads to may change without its folder changing. A listing without links
        // stays shared with the kept one, not copied.
        const bool links = std::any_of(entries.cbegin(), entries.cend(),
                                       [](const FoundEntry& entry) { return entry.link; });
        for (qsizetype at = 0; links && at < entries.size(); ++at) {
            if (FoundEntry& entry = entries[at]; entry.link) {
                struct stat target;
                entry.kind = ::stat(QFile::encodeName(folder + u'/' + entry.name).constData(),
                                    &target) == 0 &&
                                     S_ISDIR(target.st_mode)
                                 ? FoundEntry::Kind::LinkToFolder
                                 : FoundEntry::Kind::File;
            }
        }
        notText = kept->notText;
        return entries;
    }
    QList<FoundEntry> entries = listFolder(folder, &notText);
    // Every change of its entries sets its modification time, which a coarse clock or a file
    // server may give late: kept only once it is two seconds old, and never on a network file
    // system.
    struct statfs fileSystem;
    if (::statfs(native.constData(), &fileSystem) == 0 &&
        ListingMayBeKept(modifiedNs, m_clocks.WallNs(), long(fileSystem.f_type))) {
        if (m_keptFolders.size() >= MaxKeptFolders && !m_keptFolders.contains(folder)) {
            m_keptFolders.clear();
        }
        m_keptFolders.insert(folder, {quint64(info.st_dev), quint64(info.st_ino), modifiedNs,
                                      changedNs, entries, notText});
    } else {
        m_keptFolders.remove(folder);
    }
    return entries;
}

bool FileFunctions::ListingMayBeKept(qint64 modifiedNs, qint64 nowNs, long fileSystemType)
{
    return modifiedNs < nowNs - 2'000'000'000 && !FileSystemKinds::IsNetwork(fileSystemType);
}

bool FileFunctions::HoldsListingOf(const QString& folder) const
{
    return m_keptFolders.contains(folder);
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
        const qint64 settledNs = m_clocks.WallNs() - 2'000'000'000;
        // Every change of its entries sets the modification time.
        listing.lasting = modifiedNs < settledNs;
        if (!listing.lasting) {
            // A folder still changing (files landing, or deleted after their import) serves one
            // call only: looked through without listing and sorting it whole, so that a pass does
            // not grow with the square of its files.
            listing = {};
            return namesBeginningWith(dir, prefix.toCaseFolded());
        }
        for (FoundEntry& entry : listFolder(dir)) {
            listing.names.append(std::move(entry.name));
        }
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

bool FileFunctions::ExtensionIs(const QString& path, QLatin1String upper) const
{
    const QStringView name = QStringView(path).mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QStringView extension = dot < 0 ? QStringView() : name.mid(dot + 1);
    if (std::all_of(extension.begin(), extension.end(),
                    [](QChar c) { return c.unicode() < 0x80; })) {
        return extension.compare(upper, Qt::CaseInsensitive) == 0;
    }
    // Capitals of other letters may be longer or plain ASCII ones.
    return extension.toString().toUpper() == upper;
}

QString FileFunctions::GetFileName(const QString& path) const
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString FileFunctions::GetFileTitle(const QString& path) const
{
    const qsizetype start = path.lastIndexOf(u'/') + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot < start ? path.mid(start) : path.mid(start, dot - start);
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
