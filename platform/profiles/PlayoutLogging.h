#pragma once

#include <QStringList>

// The playout system's play logs.
class PlayoutLogging
{
public:
    virtual ~PlayoutLogging() = default;
    // The play-log files of the days from firstDay to lastDay (OLE Automation day numbers),
    // in day order; empty when there are none.
    virtual QStringList GetLogFiles(qint32 firstDay, qint32 lastDay) const = 0;
};
