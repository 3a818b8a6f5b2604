#pragma once

#include "platform/system/DateTimeFunctions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Full paths of the entries under path that match mask ("*.*" when empty), depth first, a
// folder's own entry (with includeFolders) right before its contents. Symbolic links to folders
// are never entered (listed as folders); a link to a file is listed as a file. Each folder is
// entered once; an unreadable folder lists nothing. Empty when nothing was found.
QStringList GetFolderTree(const QString& path, const QString& mask, bool includeFolders);
struct FolderNamesNotText
{
    QString folder;
    QList<QByteArray> names;
};
// Files of a folder tree, each a name in one of its folders: a large tree's full paths are not
// all held at once.
struct FolderTreeFiles
{
    struct File
    {
        qint32 folder = 0; // in folders
        QString name;
    };
    QStringList folders; // each ending in "/"
    QList<File> files;

    QString Path(qsizetype at) const;
    // -1 when the path is none of the files.
    qsizetype IndexOf(const QString& path) const;
};
// The files GetFolderTree lists (no folders), in its order. Names that are not UTF-8 cannot be
// listed; notText receives each folder that holds some (its path without the trailing "/") with
// those names' bytes. resolved receives path with its links resolved, empty when it cannot be.
FolderTreeFiles GetFolderTreeFiles(const QString& path, const QString& mask,
                                   QList<FolderNamesNotText>* notText, QString* resolved = nullptr);

// "YYYY-MM-DDThh:mm:ss" of a time record.
QString FormatISODateTime(const TimeRecord& record);

// Writes one key of an INI file; a value equal to the default (case-sensitive) removes the key
// instead. 1 when the file was written, 0 otherwise.
qint32 WriteProfileValue(const QString& section, const QString& key, const QString& value,
                         const QString& fileName, const QString& defaultValue);

// Each character outside the component's character set becomes the replacement.
QString FilterCharacters(const QString& text, qint32 characterSet, const QString& replacement);

// Fills the whole array: the text's character codes, cut to fit, then zeros. No terminating
// zero when the text fills the array; characters beyond Latin-1 become "?".
void StringToByteArray(QByteArray& bytes, const QString& text);

// Closes a find handle of FileFunctions and sets it to 0.
void CloseFindHandle(qint32& handle);

template <typename T> bool ArrayIsEmpty(const QList<T>& array)
{
    return array.isEmpty();
}
