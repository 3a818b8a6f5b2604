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
    // Seconds until the record (negative once it has passed).
    double TimeLeft(const TimeRecord& until) const;

    // value in seconds. Code 1: "hh:mm:ss.hh"; code 2: "hh:mm:ss"; code 22: countdown "hh:mm:ss"
    // (never negative).
    QString FormatTimeText(double value, qint32 code) const;

    void Wait(double seconds) const;
    QDateTime NowStamp() const;

    // OLE Automation date (days since 30 December 1899, local time).
    double NormaliseDate(const QDateTime& dateTime) const;
    void DateToStamp(double oleDate, qint32& low, qint32& high) const;
    qint64 MakeStamp(qint32 low, qint32 high) const;
    // a - b in seconds.
    double StampDifference(qint64 a, qint64 b) const;
    qint64 StampToDate(qint64 stamp, qint32 flags = 0) const;

    // Conversions used by the helpers above and by the stand-ins.
    static double ToOleDate(const QDateTime& dateTime);
    static QDateTime FromOleDate(double oleDate);
    static qint64 ToStamp(const QDateTime& dateTime);
    static QDateTime FromStamp(qint64 stamp);
    static QDateTime FromTimeRecord(const TimeRecord& record);

private:
    DateTimeFunctions() = default;
};
