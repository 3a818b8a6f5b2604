#pragma once

#include <QDateTime>

// The component's 8-byte time record: day number (OLE Automation day, local time) and the
// time of day in seconds since midnight. Set while Day is above 0.
struct TimeRecord
{
    qint32 Day = 0;
    float TimeOfDay = 0.0f;
};

// Utility component: current time, time texts, stamps and waits. Stamps are 100-nanosecond
// counts since 1 January 1601 UTC.
class DateTimeFunctions
{
public:
    static DateTimeFunctions& instance();

    TimeRecord CurrentDateTime(qint32 flags = 0) const;
    TimeRecord NextCheckTime(float intervalSeconds, const TimeRecord& lastCheck) const;
    double SecondsElapsed(const TimeRecord& since) const;
    // Seconds until the record (negative once it has passed). Differences go through absolute
    // time, so a daylight-saving change does not distort them.
    double TimeLeft(const TimeRecord& until) const;

    // value in seconds; hours take two digits or more. Code 1: "hh:mm:ss.hh", rounded to the
    // hundredth; code 2: "hh:mm:ss", whole seconds passed (a time of day 14:35:41.7 gives
    // "14:35:41"); code 22: countdown "hh:mm:ss", rounded up to the second and never negative.
    // Raises ToolError for other codes.
    QString FormatTimeText(double value, qint32 code) const;

    void Wait(double seconds) const;
    QDateTime NowStamp() const;

    // Days since 30 December 1899 in UTC, not local time, so that the number orders date-times
    // across daylight-saving changes and DateToStamp gives back the same instant. Raises
    // ToolError for an invalid date-time.
    double NormaliseDate(const QDateTime& dateTime) const;
    // The stamp of a date from NormaliseDate, split into its low (unsigned bits) and high halves.
    void DateToStamp(double normalisedDate, qint32& low, qint32& high) const;
    qint64 MakeStamp(qint32 low, qint32 high) const;
    // a - b in seconds.
    double StampDifference(qint64 a, qint64 b) const;
    // Stamps are kept in one form (UTC ticks), so a stored stamp is already the one compared.
    qint64 StampToDate(qint64 stamp, qint32 flags = 0) const;

    // Conversions used by the helpers above and by the stand-ins.
    static double ToOleDate(const QDateTime& dateTime);
    static QDateTime FromOleDate(double oleDate);
    static qint64 ToStamp(const QDateTime& dateTime);
    static QDateTime FromStamp(qint64 stamp);
    static QDateTime FromTimeRecord(const TimeRecord& record);
    static TimeRecord ToTimeRecord(const QDateTime& dateTime);

private:
    DateTimeFunctions() = default;
};
