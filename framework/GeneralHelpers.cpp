#include "framework/GeneralHelpers.h"

#include "framework/DebugLog.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/IniFile.h"

#include <QDate>
#include <QFileInfo>
#include <QSet>

namespace {

// canonical: path with its links resolved, when known.
void FolderTree(QString path, QString mask, bool includeFolders, QSet<QString>& visited,
                QList<FolderNamesNotText>* notText, QString canonical, FolderTreeFiles& found)
{
    AddToDebugLog(QStringLiteral("Started GetFolderTree: ") + path + QStringLiteral(", ") + mask +
                      QStringLiteral(", ") +
                      (includeFolders ? QStringLiteral("True") : QStringLiteral("False")),
                  5, ovIndent);
    if (path.isEmpty()) {
        AddToDebugLog(QStringLiteral("Exit : No Path"), 5, ovOutdent);
        return;
    }
    if (!path.endsWith(QLatin1Char('/'))) {
        path.append(QLatin1Char('/'));
    }
    if (mask.isEmpty()) {
        mask = QStringLiteral("*.*");
    }
    if (canonical.isEmpty()) {
        canonical = QFileInfo(path).canonicalFilePath();
    }
    if (!canonical.isEmpty()) {
        visited.insert(canonical);
    }

    using Kind = FileFunctions::FoundEntry::Kind;
    const bool tracing = DebugLogTakes(5);
    QList<QByteArray> namesNotText;
    const QList<FileFunctions::FoundEntry> entries =
        FileFunctions::instance().FindAll(path + mask, notText ? &namesNotText : nullptr);
    if (!namesNotText.isEmpty()) {
        notText->append({path.chopped(1), namesNotText});
    }
    const qint32 here = qint32(found.folders.size());
    found.folders.append(path);
    for (const FileFunctions::FoundEntry& entry : entries) {
        const QString& name = entry.name;
        if (tracing) {
            AddToDebugLog(QStringLiteral("Found File: ") + name, 5, ovNone);
        }
        if (name == QLatin1String(".") || name == QLatin1String("..")) {
            continue;
        }
        const bool isFolder = entry.kind != Kind::File;
        if (!isFolder || includeFolders) {
            // The listing's own name: a large tree's names are not copied.
            found.files.append({here, name});
        }
        // As find and rsync do: a link to a folder may lead anywhere, outside the watched
        // folder too, where a delete after importing must never reach.
        if (entry.kind != Kind::Folder) {
            continue;
        }
        const QString fullPath = path + name;
        // A folder itself, not a link: its resolved path needs no look at the file system.
        const QString inside = canonical.isEmpty() ? QFileInfo(fullPath).canonicalFilePath()
                                                   : (canonical.endsWith(QLatin1Char('/'))
                                                          ? canonical
                                                          : canonical + QLatin1Char('/')) +
                                                         name;
        if (!visited.contains(inside)) {
            FolderTree(fullPath + QLatin1Char('/'), mask, includeFolders, visited, notText, inside,
                       found);
        }
    }
    AddToDebugLog(QStringLiteral("Finish GetFolderTree"), 5, ovOutdent);
}

} // namespace

QString FolderTreeFiles::Path(qsizetype at) const
{
    const File& file = files.at(at);
    return folders.at(file.folder) + file.name;
}

qsizetype FolderTreeFiles::IndexOf(const QString& path) const
{
    for (qsizetype at = 0; at < files.size(); ++at) {
        const File& file = files.at(at);
        const QString& folder = folders.at(file.folder);
        if (path.size() == folder.size() + file.name.size() && path.startsWith(folder) &&
            QStringView(path).mid(folder.size()) == file.name) {
            return at;
        }
    }
    return -1;
}

QStringList GetFolderTree(const QString& path, const QString& mask, bool includeFolders)
{
    QSet<QString> visited;
    FolderTreeFiles found;
    FolderTree(path, mask, includeFolders, visited, nullptr, QFileInfo(path).canonicalFilePath(),
               found);
    QStringList paths;
    paths.reserve(found.files.size());
    for (qsizetype at = 0; at < found.files.size(); ++at) {
        paths.append(found.Path(at));
    }
    return paths;
}

FolderTreeFiles GetFolderTreeFiles(const QString& path, const QString& mask,
                                   QList<FolderNamesNotText>* notText, QString* resolved)
{
    QSet<QString> visited;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (resolved) {
        *resolved = canonical;
    }
    FolderTreeFiles found;
    FolderTree(path, mask, false, visited, notText, canonical, found);
    return found;
}

QString FormatISODateTime(const TimeRecord& record)
{
    return QDate(1899, 12, 30).addDays(record.Day).toString(QStringLiteral("yyyy-MM-dd")) +
           QLatin1Char('T') + DateTimeFunctions::instance().FormatTimeText(record.TimeOfDay, 2);
}

qint32 WriteProfileValue(const QString& section, const QString& key, const QString& value,
                         const QString& fileName, const QString& defaultValue)
{
    // A null text means "delete" to the INI writer, so an empty value that differs from the
    // default must go as an empty, non-null text.
    const bool written = value == defaultValue
                             ? IniFile::WriteString(fileName, section, key, QString())
                             : IniFile::WriteString(fileName, section, key,
                                                    value.isNull() ? QStringLiteral("") : value);
    return written ? 1 : 0;
}

QString FilterCharacters(const QString& text, qint32 characterSet, const QString& replacement)
{
    const GeneralFunctions& general = GeneralFunctions::instance();
    QString result;
    result.reserve(text.size());
    for (const QChar character : text) {
        if (general.IsCharacterInSet(character, characterSet)) {
            result.append(character);
        } else {
            result.append(replacement);
        }
    }
    return result;
}

void StringToByteArray(QByteArray& bytes, const QString& text)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i < text.size()) {
            const char16_t code = text.at(i).unicode();
            bytes[i] = code <= 0xFF ? char(code) : '?';
        } else {
            bytes[i] = '\0';
        }
    }
}

void CloseFindHandle(qint32& handle)
{
    FileFunctions::instance().FindClose(handle);
    handle = 0;
}
