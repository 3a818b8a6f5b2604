#pragma once

#include "platform/system/Clocks.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

class QObject;

// Utility component: existence, sizes, name parts, folders, special folders, find first and
// next, file dates, copy with progress. Paths use "/"; folders come back without a trailing "/".
class FileFunctions
{
public:
    static FileFunctions& instance();
    // The program uses instance(); one of its own reads the given clocks (which decide when a
    // folder has rested).
    explicit FileFunctions(Clocks clocks = {}) : m_clocks(std::move(clocks)) {}

    bool FileExists(const QString& path) const;
    bool FolderExists(const QString& path) const;
    // Creates the folder with any missing parents; true when it exists afterwards.
    bool CreateFolder(const QString& path, qint32 flags = 0) const;

    // Enumerates the names (not paths) matching the pattern's last part (wildcards * and ?,
    // without regard to case; as on Windows "name.*" also matches "name", so "*.*" matches
    // everything), "." and ".." first, then in name order; "" after the last. handle receives a
    // non-zero number to pass to FindNext and FindClose, or 0 when nothing matched.
    QString FindFirst(const QString& pattern, qint32 flags, qint32& handle);
    QString FindNext(qint32 handle);
    void FindClose(qint32 handle);

    // Our addition: FindFirst's and FindNext's names at once, each with what it is. The kind
    // comes from the listing where the file system tells it, so a folder of plain files costs
    // no look at each file; and a local folder left unchanged for two seconds or more is not
    // listed again until it changes (its device, inode, modification or change time).
    struct FoundEntry
    {
        enum class Kind
        {
            File,        // anything that is not a folder: a link to a file, a broken link too
            Folder,      // a folder itself, "." and ".." included
            LinkToFolder // a symbolic link that leads to a folder
        };
        QString name;
        Kind kind = Kind::File;
        bool link = false; // a symbolic link, whatever it leads to
    };
    QList<FoundEntry> FindAll(const QString& pattern);
    // Names that are not UTF-8 are never listed (no text names them); notText receives them,
    // as their bytes, whatever the pattern.
    QList<FoundEntry> FindAll(const QString& pattern, QList<QByteArray>* notText);
    // Whether FindAll keeps the listing of a folder last modified then, on a file system of that
    // kind (statfs f_type): only once it rests, and never where another machine may change it.
    static bool ListingMayBeKept(qint64 modifiedNs, qint64 nowNs, long fileSystemType);
    // Whether FindAll keeps a listing of the folder (named as in its pattern) just now.
    bool HoldsListingOf(const QString& folder) const;

    // Our addition: the names in the folder (hidden ones too, no "." or "..") that begin with
    // the prefix, without regard to case, in FindFirst's order. The folder is listed again only
    // when it changed since it was last listed (its modification or change time, or it was
    // replaced), so asking for each of its files costs one look at the folder.
    QStringList NamesStartingWith(const QString& folder, const QString& prefix);

    // Size in bytes; negative when the file does not exist (or is a folder). A name holding the
    // wildcards * or ? gives the size of the first matching file.
    double GetFileSize(const QString& path) const;

    QString GetExtensionName(const QString& path) const;
    // Our addition: whether GetExtensionName(path).toUpper() is `upper`, without making either.
    bool ExtensionIs(const QString& path, QLatin1String upper) const;
    QString GetFileName(const QString& path) const;
    QString GetFileTitle(const QString& path) const;
    QString GetFolderName(const QString& path, qint32 flags = 0) const;
    QString GetPathWithoutExtension(const QString& path) const;
    QString GetParentFolder(const QString& folder) const;

    // 35: common application data ($XDG_DATA_HOME); 36: the "Windows folder" (the state
    // folder holding the default debug folder).
    QString GetSpecialFolder(qint32 code) const;

    // Raises ToolError when the file does not exist.
    QDateTime GetDateLastModified(const QString& path) const;
    // Our addition: the same instant in UTC, which spares the local-time conversion.
    QDateTime GetDateLastModifiedUtc(const QString& path) const;
    // A modification time in nanoseconds since the epoch as GetDateLastModifiedUtc gives it.
    static QDateTime UtcFromNs(qint64 modifiedNs);

    // Copies completely or not at all (hidden temporary name beside the destination, synced,
    // then renamed), replacing an existing destination; permissions and modification time are
    // the source's, as a Windows copy keeps them. Shows progress (ProgressDisplay) only when it
    // has an owner window. Returns 0 when copied, otherwise an errno value (ECANCELED when the
    // display was cancelled). The three flags are accepted and left unchanged.
    qint32 CopyFileWithProgress(const QString& source, const QString& destination,
                                const QString& caption, QObject* ownerWindow, qint16& flag1,
                                qint16& flag2, qint32& flags);

private:
    Clocks m_clocks;

    struct FindState
    {
        QStringList names;
        int next = 0;
    };
    QHash<qint32, FindState> m_finds;
    qint32 m_nextHandle = 1;

    // The folder last listed by NamesStartingWith.
    struct Listing
    {
        QString folder;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 modifiedNs = -1;
        qint64 changedNs = -1;
        // A folder changed within the clock's resolution of the listing may change again
        // without a new time: such a listing serves only the call that made it.
        bool lasting = false;
        QStringList names;      // FindFirst's order
        QStringList folded;     // the names case-folded, sorted
        QList<qsizetype> order; // for each of those, its index in names
    };
    Listing m_listing;

    // Folders FindAll listed, while they stay unchanged.
    struct KeptFolder
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 modifiedNs = -1;
        qint64 changedNs = -1;
        QList<FoundEntry> entries;
        QList<QByteArray> notText;
    };
    QHash<QString, KeptFolder> m_keptFolders;
    static constexpr qsizetype MaxKeptFolders = 64;
    QList<FoundEntry> ListKept(const QString& folder, QList<QByteArray>& notText);
};
