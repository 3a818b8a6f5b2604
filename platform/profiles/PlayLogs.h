#pragma once

#include "platform/profiles/PlayoutLogging.h"

#include <QDate>

class PlayoutAudio;

// The play logs of the open profile: one file per day in the cart store's play-log folder,
// <base folder>/PlayLogs/yyyy-mm-dd.log, written by the playout side. Only files that exist are
// listed.
class PlayLogs : public PlayoutLogging
{
public:
    explicit PlayLogs(const PlayoutAudio& store) : m_store(store) {}

    static constexpr const char* FolderName = "PlayLogs";
    // The folder for the store's base folder.
    static QString FolderOf(const QString& baseFolder);
    // "yyyy-mm-dd.log"
    static QString FileNameOf(const QDate& day);
    // The OLE Automation day number of a date.
    static qint32 DayNumber(const QDate& day);

    QStringList GetLogFiles(qint32 firstDay, qint32 lastDay) const override;

private:
    const PlayoutAudio& m_store;
};
