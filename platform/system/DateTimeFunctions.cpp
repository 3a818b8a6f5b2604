#include "platform/system/DateTimeFunctions.h"

#include "platform/system/ToolError.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace {

constexpr qint64 kMSecsPerDay = 86400000;
// Milliseconds from 1 January 1601 to 1 January 1970.
constexpr qint64 kEpochOffsetMSecs = 11644473600000;
constexpr qint64 kTicksPerMSec = 10000;

QDate oleBase()
{
    return QDate(1899, 12, 30);
}

// A wall-clock time of the given kind; Qt moves a local time inside a daylight-saving gap past
// the gap.
QDateTime clockAt(qint64 day, qint64 msecsOfDay, Qt::TimeSpec kind)
{
    day += msecsOfDay / kMSecsPerDay;
    msecsOfDay %= kMSecsPerDay;
    if (msecsOfDay < 0) {
        msecsOfDay += kMSecsPerDay;
        --day;
    }
    return QDateTime(oleBase().addDays(day),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecsOfDay)), kind);
}

QDateTime localAt(qint64 day, qint64 msecsOfDay)
{
    return clockAt(day, msecsOfDay, Qt::LocalTime);
}

// The OLE day number of the date and time as the value shows them.
double oleDateOf(const QDateTime& value)
{
    const qint64 days = oleBase().daysTo(value.date());
    const double fraction = value.time().msecsSinceStartOfDay() / double(kMSecsPerDay);
    return days >= 0 ? double(days) + fraction : double(days) - fraction;
}

// OLE dates below 0 count the day backwards but the time of day forwards (-1.25 is
// 29 December 1899, 06:00).
void splitOleDate(double oleDate, qint64& day, double& fraction)
{
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > 3.0e6) {
        throw ToolError(ToolErrors::Overflow, QStringLiteral("Date out of range: %1").arg(oleDate));
    }
    const double whole = std::trunc(oleDate);
    day = static_cast<qint64>(whole);
    fraction = std::fabs(oleDate - whole);
}

QString clockText(qint64 totalSeconds)
{
    const qint64 hours = totalSeconds / 3600;
    const qint64 minutes = totalSeconds / 60 % 60;
    const qint64 seconds = totalSeconds % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(hours, 2, 10, QChar(u'0'))
        .arg(minutes, 2, 10, QChar(u'0'))
        .arg(seconds, 2, 10, QChar(u'0'));
}

} // namespace

DateTimeFunctions& DateTimeFunctions::instance()
{
    static DateTimeFunctions functions;
    return functions;
}

TimeRecord DateTimeFunctions::ToTimeRecord(const QDateTime& dateTime)
{
    const QDateTime local = dateTime.toLocalTime();
    TimeRecord record;
    record.Day = static_cast<qint32>(oleBase().daysTo(local.date()));
    record.TimeOfDay = static_cast<float>(local.time().msecsSinceStartOfDay() / 1000.0);
    return record;
}

QDateTime DateTimeFunctions::FromTimeRecord(const TimeRecord& record)
{
    return localAt(record.Day, std::llround(double(record.TimeOfDay) * 1000.0));
}

TimeRecord DateTimeFunctions::CurrentDateTime(qint32 flags) const
{
    return ToTimeRecord(QDateTime::currentDateTime());
}

TimeRecord DateTimeFunctions::NextCheckTime(float intervalSeconds,
                                            const TimeRecord& lastCheck) const
{
    // Through absolute time, so that a daylight-saving change neither stalls nor hurries a check.
    const qint64 interval = std::llround(double(intervalSeconds) * 1000.0);
    return ToTimeRecord(FromTimeRecord(lastCheck).addMSecs(interval));
}

double DateTimeFunctions::SecondsElapsed(const TimeRecord& since) const
{
    return FromTimeRecord(since).msecsTo(QDateTime::currentDateTime()) / 1000.0;
}

double DateTimeFunctions::TimeLeft(const TimeRecord& until) const
{
    return QDateTime::currentDateTime().msecsTo(FromTimeRecord(until)) / 1000.0;
}

QString DateTimeFunctions::FormatTimeText(double value, qint32 code) const
{
    if (!std::isfinite(value)) {
        value = 0;
    }
    // A thousandth of tolerance absorbs the error of single-precision times of day.
    constexpr double tolerance = 0.0005;
    switch (code) {
    case 1: {
        const qint64 hundredths = std::llround(std::fabs(value) * 100.0);
        const QString sign = value < 0 && hundredths > 0 ? QStringLiteral("-") : QString();
        return sign + clockText(hundredths / 100) + u'.' +
               QStringLiteral("%1").arg(hundredths % 100, 2, 10, QChar(u'0'));
    }
    case 2: {
        // Whole seconds passed, as a clock shows them; never "24:00:00" for a time of day.
        const qint64 seconds = static_cast<qint64>(std::floor(std::fabs(value) + tolerance));
        const QString sign = value < 0 && seconds > 0 ? QStringLiteral("-") : QString();
        return sign + clockText(seconds);
    }
    case 22: {
        // A countdown shows "00:00:00" only once the time is up.
        const double left = std::ceil(value - tolerance);
        return clockText(left > 0 ? static_cast<qint64>(left) : 0);
    }
    default:
        throw ToolError(ToolErrors::InvalidProcedureCall,
                        QStringLiteral("Unknown time format code %1").arg(code));
    }
}

void DateTimeFunctions::Wait(double seconds) const
{
    if (std::isfinite(seconds) && seconds > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(std::llround(seconds * 1e6)));
    }
}

QDateTime DateTimeFunctions::NowStamp() const
{
    return QDateTime::currentDateTime();
}

double DateTimeFunctions::NormaliseDate(const QDateTime& dateTime) const
{
    if (!dateTime.isValid()) {
        throw ToolError(ToolErrors::TypeMismatch, QStringLiteral("Not a valid date"));
    }
    // Counted in UTC: local time repeats an hour when the clocks go back, and DateToStamp must
    // come back to the very instant, or a file changed in that hour looks newer at every check.
    return oleDateOf(dateTime.toUTC());
}

void DateTimeFunctions::DateToStamp(double oleDate, qint32& low, qint32& high) const
{
    qint64 day = 0;
    double fraction = 0;
    splitOleDate(oleDate, day, fraction);
    // To the millisecond: finer digits of a present-day double date are rounding noise, and
    // date-times come with milliseconds.
    const QDateTime utc = clockAt(day, std::llround(fraction * double(kMSecsPerDay)), Qt::UTC);
    const qint64 stamp = ToStamp(utc);
    low = static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(stamp) & 0xFFFFFFFFu));
    high = static_cast<qint32>(static_cast<quint64>(stamp) >> 32);
}

qint64 DateTimeFunctions::MakeStamp(qint32 low, qint32 high) const
{
    // The low half carries unsigned bits: a negative low half is a value above 2^31.
    return static_cast<qint64>((static_cast<quint64>(static_cast<quint32>(high)) << 32) |
                               static_cast<quint32>(low));
}

double DateTimeFunctions::StampDifference(qint64 a, qint64 b) const
{
    return static_cast<double>(a - b) / double(kTicksPerMSec * 1000);
}

qint64 DateTimeFunctions::StampToDate(qint64 stamp, qint32 flags) const
{
    return stamp;
}

double DateTimeFunctions::ToOleDate(const QDateTime& dateTime)
{
    return oleDateOf(dateTime.toLocalTime());
}

QDateTime DateTimeFunctions::FromOleDate(double oleDate)
{
    qint64 day = 0;
    double fraction = 0;
    try {
        splitOleDate(oleDate, day, fraction);
    } catch (const ToolError&) {
        return QDateTime();
    }
    return localAt(day, std::llround(fraction * double(kMSecsPerDay)));
}

qint64 DateTimeFunctions::ToStamp(const QDateTime& dateTime)
{
    return (dateTime.toMSecsSinceEpoch() + kEpochOffsetMSecs) * kTicksPerMSec;
}

QDateTime DateTimeFunctions::FromStamp(qint64 stamp)
{
    const qint64 msecs = stamp / kTicksPerMSec - kEpochOffsetMSecs;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toLocalTime();
}
