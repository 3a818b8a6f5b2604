#include "framework/AppLog.h"

#include "framework/DebugLog.h"
#include "framework/LogText.h"
#include "framework/ToolGlobals.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/MessageBox.h"
#include "platform/system/SystemInfoFunctions.h"

#include <QDate>

#include <cmath>
#include <limits>

namespace {

constexpr qint32 kNumbered = 1;
constexpr qint32 kNewFilePerDay = 2;
constexpr qint32 kComputerName = 4;

const QDate kDayZero(1899, 12, 30);

std::function<QDate()>& TodayFunction()
{
    static std::function<QDate()> today;
    return today;
}

qint32 Today()
{
    const QDate date = TodayFunction() ? TodayFunction()() : QDate::currentDate();
    return qint32(kDayZero.daysTo(date));
}

// The file name of a day without its number part and extension.
QString DayFileStem(qint32 day)
{
    QString stem = Globals::AppLogFolder + QLatin1Char('/') +
                   kDayZero.addDays(day).toString(QStringLiteral("yyyy-MM-dd"));
    if (Globals::AppLogOptions & kComputerName) {
        stem += QLatin1Char('-') + SystemInfoFunctions::instance().ComputerName();
    }
    return stem;
}

} // namespace

bool InitialiseAppLog(const QString& logFolder, qint32 options, std::function<QDate()> today)
{
    if (logFolder.isEmpty()) {
        return false;
    }
    TodayFunction() = std::move(today);
    Globals::AppLogFolder = logFolder;
    FileFunctions::instance().CreateFolder(Globals::AppLogFolder, 0);
    Globals::AppLogOptions = options;
    Globals::AppLogDate = Today();
    BuildAppLogFileName();
    return true;
}

void BuildAppLogFileName()
{
    const qint32 options = Globals::AppLogOptions;
    if ((options & kNewFilePerDay) || Globals::AppLogDate == 0) {
        const qint32 today = Today();
        if (today != Globals::AppLogDate) {
            Globals::AppLogSequence = 0;
            Globals::AppLogDate = today;
        }
    }

    const QString stem = DayFileStem(Globals::AppLogDate);
    const FileFunctions& files = FileFunctions::instance();
    for (;;) {
        // At the last number the search stops and that file is appended to.
        const bool atLast = Globals::AppLogSequence == std::numeric_limits<qint16>::max();
        if (!atLast) {
            ++Globals::AppLogSequence;
        }
        QString name = stem;
        if (options & kNumbered) {
            name += QLatin1Char('-') +
                    QStringLiteral("%1").arg(Globals::AppLogSequence, 3, 10, QLatin1Char('0'));
        }
        Globals::AppLogFile = name + QStringLiteral(".log");
        if (!(options & kNumbered) || atLast || !files.FileExists(Globals::AppLogFile)) {
            break;
        }
    }
}

void AddToAppLog(const QString& prefix, const QString& text)
{
    if (Globals::AppLogFile.isEmpty()) {
        MessageBox::Show(
            QStringLiteral(
                "Internal problem writing to Application Log File, please contact Orvane"),
            MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        return;
    }
    const QString entry =
        EscapeControlCharacters(prefix.isEmpty() ? text : prefix + QLatin1Char(':') + text);
    if ((Globals::AppLogOptions & kNewFilePerDay) && Today() != Globals::AppLogDate) {
        BuildAppLogFileName();
    }
    AddToDebugLog(QStringLiteral("AppLog: ") + entry, 5, ovNone);
    GeneralFunctions::instance().AppendToTextFile(Globals::AppLogFile, true, entry);
}

QStringList GetAppLogFiles(double fromDate, double toDate)
{
    QStringList result;
    // Rounded to the nearest day, a half to the even one.
    const double first = std::nearbyint(fromDate);
    const double last = std::nearbyint(toDate);
    if (!std::isfinite(first) || !std::isfinite(last)) {
        return result;
    }
    const FileFunctions& files = FileFunctions::instance();
    for (double day = first; day <= last; ++day) {
        QString name = DayFileStem(qint32(day));
        if (Globals::AppLogOptions & kNumbered) {
            name += QStringLiteral("-???");
        }
        name += QStringLiteral(".log");
        if (files.GetFileSize(name) >= 0) {
            result.append(name);
        }
    }
    return result;
}
