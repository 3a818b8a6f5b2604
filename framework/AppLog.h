#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QDate;

// The application log: the operator-visible record, one file per day in the log folder.
// Options: 1 numbered files, 2 a new file when the day changes, 4 the computer name in the name.
// today gives the date the log goes by; without it, the system's.
bool InitialiseAppLog(const QString& logFolder, qint32 options, std::function<QDate()> today = {});
void BuildAppLogFileName();
void AddToAppLog(const QString& prefix, const QString& text);
// Dates are OLE Automation dates; the names of the days that have a file, in day order.
QStringList GetAppLogFiles(double fromDate, double toDate);
