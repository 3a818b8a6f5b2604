#include "platform/profiles/PlayLogs.h"

#include "platform/cartstore/PlayoutAudio.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

namespace {
const QDate kOleEpoch(1899, 12, 30);
}

QString PlayLogs::FolderOf(const QString& baseFolder)
{
    return baseFolder + u'/' + FolderName;
}

QString PlayLogs::FileNameOf(const QDate& day)
{
    return day.toString(u"yyyy-MM-dd") + ".log";
}

qint32 PlayLogs::DayNumber(const QDate& day)
{
    return qint32(kOleEpoch.daysTo(day));
}

QStringList PlayLogs::GetLogFiles(qint32 firstDay, qint32 lastDay) const
{
    const QString base = m_store.BaseFolder();
    if (base.isEmpty() || lastDay < firstDay) {
        return {};
    }
    // Walk the folder rather than the days, so that any range of days costs the same.
    QMap<qint32, QString> byDay;
    const QDir folder(FolderOf(base));
    const QFileInfoList entries = folder.entryInfoList({"*.log"}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (name.size() != 14 || name.right(4).compare(".log", Qt::CaseInsensitive) != 0) {
            continue;
        }
        const QDate date = QDate::fromString(name.left(10), u"yyyy-MM-dd");
        if (!date.isValid()) {
            continue;
        }
        const qint32 day = DayNumber(date);
        if (day >= firstDay && day <= lastDay) {
            byDay.insert(day, entry.absoluteFilePath());
        }
    }
    return byDay.values();
}
