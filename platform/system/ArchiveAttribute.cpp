#include "platform/system/ArchiveAttribute.h"

#include "platform/system/FileSystemKinds.h"
#include "platform/system/FileVersionCache.h"
#include "platform/system/SaveWhole.h"
#include "platform/system/ToolError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>

namespace {

// Windows stores "no attributes" as NORMAL; a plain 0 would leave the attributes unchanged.
constexpr quint32 kFileAttributeNormal = 0x80;

const QString kReading = QStringLiteral("Cannot read the archive attribute of");
const QString kClearing = QStringLiteral("Cannot clear the archive attribute of");

struct Record
{
    qint64 size = -1;
    qint64 modifiedNs = -1;
    bool operator==(const Record&) const = default;
};

[[noreturn]] void Raise(const QString& what, const QString& path, int error)
{
    const qint32 number = error == ENOENT || error == ENOTDIR ? ToolErrors::FileNotFound
                                                              : ToolErrors::PathFileAccessError;
    throw ToolError(number, QStringLiteral("%1 '%2': %3")
                                .arg(what, path, QString::fromLocal8Bit(std::strerror(error))));
}

[[noreturn]] void Raise(const QString& what, const QString& path, const QString& reason)
{
    throw ToolError(ToolErrors::PathFileAccessError,
                    QStringLiteral("%1 '%2': %3").arg(what, path, reason));
}

Record StatRecord(const QByteArray& native, const QString& path, const QString& what)
{
    struct stat st
    {
    };
    if (::stat(native.constData(), &st) != 0) {
        Raise(what, path, errno);
    }
    return {qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// A link's mark is the link's own, kept in the table: the target's attributes belong to a file
// that may lie outside every watched folder, and Linux keeps no user attributes on links.
bool IsLink(const QByteArray& native)
{
    struct stat st
    {
    };
    return ::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool OnCifs(const QByteArray& native)
{
    struct statfs fs
    {
    };
    if (::statfs(native.constData(), &fs) != 0) {
        return false;
    }
    return FileSystemKinds::KeepsDosAttributes(long(fs.f_type));
}

quint32 CifsAttributes(const QByteArray& native, const QString& path, const QString& what)
{
    uchar value[4] = {};
    const ssize_t got =
        ::getxattr(native.constData(), ArchiveAttribute::CifsAttributeName, value, sizeof value);
    if (got < 0) {
        Raise(what, path, errno);
    }
    if (got != sizeof value) {
        Raise(what, path, QStringLiteral("unexpected DOS attribute size %1").arg(got));
    }
    return qFromLittleEndian<quint32>(value);
}

bool Unsupported(int error)
{
    return error == ENOTSUP || error == EOPNOTSUPP;
}

QByteArray RecordText(const Record& record)
{
    return QByteArray::number(record.size) + ' ' + QByteArray::number(record.modifiedNs);
}

std::optional<Record> ParseRecord(const QByteArray& text)
{
    const QList<QByteArray> parts = text.split(' ');
    if (parts.size() != 2) {
        return std::nullopt;
    }
    bool sizeOk = false;
    bool timeOk = false;
    Record record{parts[0].toLongLong(&sizeOk), parts[1].toLongLong(&timeOk)};
    if (!sizeOk || !timeOk) {
        return std::nullopt;
    }
    return record;
}

// The table, for file systems without user extended attributes.
QString TablePath(const QString& folder)
{
    if (folder.isEmpty()) {
        return {};
    }
    return folder + QLatin1Char('/') + ArchiveAttribute::TableName;
}

QString TableKey(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

// A table that cannot be read counts as empty: every file then counts as changed, which
// imports again rather than missing a change. A check asks for every file, so the table last
// read is kept while its file stays the same version.
QJsonObject ReadTable(const QString& tablePath)
{
    struct Kept
    {
        QString path;
        FileVersionKey version;
        QJsonObject table;
    };
    static Kept kept;
    if (tablePath.isEmpty()) {
        return {};
    }
    const std::optional<FileVersionKey> before = FileVersionKey::Of(tablePath);
    if (before && kept.path == tablePath && kept.version == *before) {
        return kept.table;
    }
    kept = {};
    QFile file(tablePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QJsonObject table = QJsonDocument::fromJson(file.readAll()).object();
    if (before && FileVersionKey::Of(tablePath) == before) {
        kept = {tablePath, *before, table};
    }
    return table;
}

std::optional<Record> TableRecord(const QString& path, const QString& folder)
{
    const QString tablePath = TablePath(folder);
    if (tablePath.isEmpty() || !QFileInfo::exists(tablePath)) {
        return std::nullopt;
    }
    const QJsonObject table = ReadTable(tablePath);
    const auto it = table.constFind(TableKey(path));
    if (it == table.constEnd()) {
        return std::nullopt;
    }
    return ParseRecord(it->toString().toLatin1());
}

void WriteTableRecord(const QString& path, const Record& record, const QString& folder)
{
    const QString tablePath = TablePath(folder);
    if (tablePath.isEmpty()) {
        Raise(kClearing, path, QStringLiteral("there is no tool profile folder to record it in"));
    }
    QJsonObject table = ReadTable(tablePath);
    // Entries of files that are gone from a folder that is still there are dropped; a folder
    // that is missing may be a share that is not mounted just now.
    for (auto it = table.begin(); it != table.end();) {
        const QFileInfo entry(it.key());
        if (!entry.exists() && QFileInfo(entry.absolutePath()).isDir()) {
            it = table.erase(it);
        } else {
            ++it;
        }
    }
    table.insert(TableKey(path), QString::fromLatin1(RecordText(record)));
    QDir().mkpath(folder);
    QSaveFile file(tablePath);
    if (!file.open(QIODevice::WriteOnly)) {
        Raise(kClearing, path, file.errorString());
    }
    const Result<> saved = SaveWhole(file, QJsonDocument(table).toJson(QJsonDocument::Compact));
    if (!saved) {
        Raise(kClearing, path, saved.Reason());
    }
}

// Marks that could not be recorded anywhere (the disk full), by the file's full path, kept
// for the rest of the run: else the file counts as set at every check and is imported again.
QHash<QString, Record>& UnrecordedMarks()
{
    static QHash<QString, Record> marks;
    return marks;
}

// Files whose record in the file itself was found to match, by version: writing the record, or
// anything else, changes the file's change time and so its version.
FileVersionCache<bool>& ClearedFiles()
{
    static FileVersionCache<bool> cleared;
    return cleared;
}

} // namespace

namespace {

void RecordMark(const QByteArray& native, const QString& path, const Record& current,
                const ArchiveAttribute::Options& options)
{
    using A = ArchiveAttribute;
    const bool link = IsLink(native);
    if (!link && OnCifs(native)) {
        quint32 attributes = CifsAttributes(native, path, kClearing);
        if ((attributes & A::ArchiveBit) == 0) {
            return;
        }
        attributes &= ~A::ArchiveBit;
        if (attributes == 0) {
            attributes = kFileAttributeNormal;
        }
        uchar value[4];
        qToLittleEndian<quint32>(attributes, value);
        if (::setxattr(native.constData(), A::CifsAttributeName, value, sizeof value, 0) != 0) {
            Raise(kClearing, path, errno);
        }
        return;
    }
    if (!link && options.extendedAttributes) {
        const QByteArray text = RecordText(current);
        if (::setxattr(native.constData(), A::RecordName, text.constData(), size_t(text.size()),
                       0) == 0) {
            return;
        }
        const int error = errno;
        // Not the file's owner, or a read-only mount: the table still has room for it.
        if (!Unsupported(error) && error != EPERM && error != EACCES && error != EROFS) {
            Raise(kClearing, path, error);
        }
    }
    WriteTableRecord(path, current, options.tableFolder);
}

} // namespace

bool ArchiveAttribute::IsSet(const QString& path, const Options& options)
{
    const QByteArray native =
        QFile::encodeName(options.reachedAs.isEmpty() ? path : options.reachedAs);
    if (!UnrecordedMarks().isEmpty()) {
        const auto unrecorded = UnrecordedMarks().constFind(TableKey(path));
        if (unrecorded != UnrecordedMarks().constEnd()) {
            if (*unrecorded == StatRecord(native, path, kReading)) {
                return false;
            }
            UnrecordedMarks().remove(TableKey(path));
        }
    }
    // One look tells both whether the name is a link and, when it is a plain file, its version.
    struct stat seen
    {
    };
    const bool looked = options.seen || ::lstat(native.constData(), &seen) == 0;
    const bool link = !options.seen && looked && S_ISLNK(seen.st_mode);
    const std::optional<FileVersionKey> version =
        options.seen                      ? options.seen
        : looked && S_ISREG(seen.st_mode) ? std::optional(FileVersionKey::FromStat(seen))
                                          : std::nullopt;
    if (version && ClearedFiles().Lookup(*version) && options.extendedAttributes) {
        return false;
    }
    const Record current = StatRecord(native, path, kReading);
    if (!link && OnCifs(native)) {
        return (CifsAttributes(native, path, kReading) & ArchiveBit) != 0;
    }
    if (!link && options.extendedAttributes) {
        char buffer[64];
        const ssize_t got = ::getxattr(native.constData(), RecordName, buffer, sizeof buffer);
        const int error = got < 0 ? errno : 0;
        if (got >= 0 && ParseRecord(QByteArray(buffer, int(got))) == current) {
            if (version && current.size == version->size &&
                current.modifiedNs == version->modifiedNs) {
                ClearedFiles().Store(*version, true);
            }
            return false;
        }
        // ERANGE: a record longer than ours is none of ours.
        if (got < 0 && error != ENODATA && error != ERANGE && !Unsupported(error)) {
            Raise(kReading, path, error);
        }
    }
    // Also where recording in the file was refused on an otherwise capable file system.
    const std::optional<Record> recorded = TableRecord(path, options.tableFolder);
    return !recorded || *recorded != current;
}

void ArchiveAttribute::Clear(const QString& path, const Options& options)
{
    const QByteArray native =
        QFile::encodeName(options.reachedAs.isEmpty() ? path : options.reachedAs);
    const Record current = StatRecord(native, path, kClearing);
    try {
        RecordMark(native, path, current, options);
        UnrecordedMarks().remove(TableKey(path));
    } catch (const ToolError&) {
        if (UnrecordedMarks().size() >= 100000) {
            UnrecordedMarks().clear();
        }
        UnrecordedMarks().insert(TableKey(path), current);
        throw;
    }
}
