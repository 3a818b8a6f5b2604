#include "platform/system/PathIgnoringCase.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace PathIgnoringCase {

namespace {

QString Find(const QString& folder, const QString& relative, bool lastIsFolder)
{
    if (folder.isEmpty()) {
        return QString();
    }
    QString path = folder;
    const QStringList parts = relative.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        return QString();
    }
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool wantFolder = i < parts.size() - 1 || lastIsFolder;
        const QDir dir(path);
        const QFileInfo exact(dir.filePath(parts[i]));
        if (wantFolder ? exact.isDir() : exact.isFile()) {
            path = exact.filePath();
            continue;
        }
        const QStringList entries = dir.entryList((wantFolder ? QDir::Dirs : QDir::Files) |
                                                      QDir::Hidden | QDir::NoDotAndDotDot,
                                                  QDir::Name);
        QString match;
        for (const QString& entry : entries) {
            if (entry.compare(parts[i], Qt::CaseInsensitive) == 0) {
                match = entry;
                break;
            }
        }
        if (match.isEmpty()) {
            return QString();
        }
        path = dir.filePath(match);
    }
    return path;
}

} // namespace

QString FindFile(const QString& folder, const QString& relative)
{
    return Find(folder, relative, false);
}

QString FindFolder(const QString& folder, const QString& relative)
{
    return Find(folder, relative, true);
}

} // namespace PathIgnoringCase
