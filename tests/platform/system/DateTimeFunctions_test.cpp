#include "platform/system/DateTimeFunctions.h"
#include "platform/system/ToolError.h"

#include <ctime>
#include <gtest/gtest.h>

TEST(DateTimeFunctionsTest, StampHalvesRoundTripIncludingANegativeLowHalf)
{
    const auto& dt = DateTimeFunctions::instance();
    const QDateTime when(QDate(2024, 3, 15), QTime(14, 35, 41, 250), Qt::LocalTime);
    qint32 low = 0;
    qint32 high = 0;
    dt.DateToStamp(dt.NormaliseDate(when), low, high);
    const qint64 stamp = dt.MakeStamp(low, high);
    EXPECT_EQ(stamp, DateTimeFunctions::ToStamp(when));
    EXPECT_EQ(DateTimeFunctions::FromStamp(stamp), when);
    EXPECT_EQ(dt.StampToDate(stamp, 0), stamp);

    // A low half with its top bit set is stored negative and must not borrow from the high half.
    const qint64 topBit = (qint64(0x01D9A1B2) << 32) | 0x89ABCDEFu;
    qint32 lowHalf = static_cast<qint32>(static_cast<quint32>(topBit & 0xFFFFFFFF));
    ASSERT_LT(lowHalf, 0);
    EXPECT_EQ(dt.MakeStamp(lowHalf, 0x01D9A1B2), topBit);
    const QDateTime back = DateTimeFunctions::FromStamp(topBit);
    dt.DateToStamp(dt.NormaliseDate(back), low, high);
    EXPECT_EQ(dt.MakeStamp(low, high), DateTimeFunctions::ToStamp(back));

    // The known epoch of the stamps: 1 January 1970 UTC.
    EXPECT_EQ(DateTimeFunctions::ToStamp(QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC)),
              116444736000000000LL);
}

TEST(DateTimeFunctionsTest, StampDifferenceIsInSeconds)
{
    const auto& dt = DateTimeFunctions::instance();
    const QDateTime file(QDate(2023, 11, 5), QTime(8, 0, 2, 500), Qt::LocalTime);
    const QDateTime cart = file.addMSecs(-2500);
    qint32 fl, fh, cl, ch;
    dt.DateToStamp(dt.NormaliseDate(file), fl, fh);
    dt.DateToStamp(dt.NormaliseDate(cart), cl, ch);
    EXPECT_DOUBLE_EQ(dt.StampDifference(dt.MakeStamp(fl, fh), dt.MakeStamp(cl, ch)), 2.5);
    EXPECT_DOUBLE_EQ(dt.StampDifference(dt.MakeStamp(cl, ch), dt.MakeStamp(fl, fh)), -2.5);
}

TEST(DateTimeFunctionsTest, OleDates)
{
    const auto& dt = DateTimeFunctions::instance();
    EXPECT_DOUBLE_EQ(dt.NormaliseDate(QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC)), 0.0);
    EXPECT_DOUBLE_EQ(dt.NormaliseDate(QDateTime(QDate(2000, 1, 1), QTime(18, 0), Qt::UTC)),
                     36526.75);
    EXPECT_DOUBLE_EQ(dt.NormaliseDate(QDateTime(QDate(1899, 12, 29), QTime(6, 0), Qt::UTC)), -1.25);
    EXPECT_EQ(DateTimeFunctions::FromOleDate(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    EXPECT_EQ(DateTimeFunctions::FromOleDate(36526.75), QDateTime(QDate(2000, 1, 1), QTime(18, 0)));
    EXPECT_THROW(dt.NormaliseDate(QDateTime()), ToolError);
    qint32 low, high;
    EXPECT_THROW(dt.DateToStamp(std::numeric_limits<double>::quiet_NaN(), low, high), ToolError);
}

TEST(DateTimeFunctionsTest, FormatTimeTextCodes)
{
    const auto& dt = DateTimeFunctions::instance();
    // Code 1: hundredths, rounded.
    EXPECT_EQ(dt.FormatTimeText(90.5, 1), "00:01:30.50");
    EXPECT_EQ(dt.FormatTimeText(59.996, 1), "00:01:00.00");
    EXPECT_EQ(dt.FormatTimeText(0.004, 1), "00:00:00.00");
    EXPECT_EQ(dt.FormatTimeText(3600 * 123 + 1.25, 1), "123:00:01.25");
    // Code 2: whole seconds, also for a time of day held as a single.
    EXPECT_EQ(dt.FormatTimeText(14 * 3600 + 35 * 60 + 41, 2), "14:35:41");
    EXPECT_EQ(dt.FormatTimeText(float(14 * 3600 + 35 * 60 + 41.7), 2), "14:35:41");
    EXPECT_EQ(dt.FormatTimeText(86399.9, 2), "23:59:59");
    EXPECT_EQ(dt.FormatTimeText(3.9999999, 2), "00:00:04");
    // Code 22: a countdown, rounded up, never negative.
    EXPECT_EQ(dt.FormatTimeText(59.2, 22), "00:01:00");
    EXPECT_EQ(dt.FormatTimeText(0.0, 22), "00:00:00");
    EXPECT_EQ(dt.FormatTimeText(-12.0, 22), "00:00:00");
    EXPECT_EQ(dt.FormatTimeText(3661, 22), "01:01:01");
    EXPECT_THROW(dt.FormatTimeText(1, 3), ToolError);
}

TEST(DateTimeFunctionsTest, TimeRecordsAndCheckTimes)
{
    const auto& dt = DateTimeFunctions::instance();
    const TimeRecord now = dt.CurrentDateTime(0);
    EXPECT_EQ(now.Day, QDate(1899, 12, 30).daysTo(QDate::currentDate()));
    EXPECT_GE(now.TimeOfDay, 0.0f);
    EXPECT_LT(now.TimeOfDay, 86400.0f);

    TimeRecord late;
    late.Day = 45000;
    late.TimeOfDay = 86400 - 30;
    const TimeRecord next = dt.NextCheckTime(60, late);
    EXPECT_EQ(next.Day, 45001);
    EXPECT_FLOAT_EQ(next.TimeOfDay, 30);

    // Computed against the clock: an hour back has elapsed about 3600 s and the next check of a
    // 60 s interval is long due.
    const TimeRecord hourAgo =
        DateTimeFunctions::ToTimeRecord(QDateTime::currentDateTime().addSecs(-3600));
    EXPECT_NEAR(dt.SecondsElapsed(hourAgo), 3600, 5);
    EXPECT_LT(dt.TimeLeft(dt.NextCheckTime(60, hourAgo)), 0);
    EXPECT_NEAR(dt.TimeLeft(dt.NextCheckTime(600, now)), 600, 5);
}

TEST(DateTimeFunctionsTest, NextCheckTimeCrossesADaylightSavingChange)
{
    const QByteArray savedTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const auto& dt = DateTimeFunctions::instance();
    // 31 March 2024: the clocks go from 02:00 straight to 03:00.
    const TimeRecord last =
        DateTimeFunctions::ToTimeRecord(QDateTime(QDate(2024, 3, 31), QTime(1, 59, 30)));
    const TimeRecord next = dt.NextCheckTime(60, last);
    EXPECT_EQ(next.Day, last.Day);
    EXPECT_FLOAT_EQ(next.TimeOfDay, 3 * 3600 + 30);
    if (savedTz.isNull()) {
        qunsetenv("TZ");
    } else {
        qputenv("TZ", savedTz);
    }
    tzset();
}

// Both changes of the year in Berlin: the hour repeated in October and the gap in March. The
// C library resolves a repeated local time by its previous conversion, so each instant is
// converted after a winter and after a summer one.
TEST(DateTimeFunctionsTest, StampsOfFileTimesSurviveDaylightSavingChanges)
{
    const QByteArray savedTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const auto& dt = DateTimeFunctions::instance();
    const QDateTime instants[] = {
        QDateTime(QDate(2026, 10, 25), QTime(0, 30), Qt::UTC), // first 02:30
        QDateTime(QDate(2026, 10, 25), QTime(1, 30), Qt::UTC), // second 02:30
        QDateTime(QDate(2026, 10, 25), QTime(0, 59, 59, 999), Qt::UTC),
        QDateTime(QDate(2026, 3, 29), QTime(0, 59, 59, 999), Qt::UTC), // 01:59:59 CET
        QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC),           // 03:00 CEST
    };
    for (const QDateTime& instant : instants) {
        // A file's time as the file functions hand it out.
        const QDateTime local = instant.toLocalTime();
        for (int month : {1, 7}) {
            SCOPED_TRACE(instant.toString(Qt::ISODateWithMs).toStdString() + " after month " +
                         std::to_string(month));
            QDateTime(QDate(2026, month, 1), QTime(12, 0), Qt::LocalTime).toMSecsSinceEpoch();
            qint32 low = 0;
            qint32 high = 0;
            dt.DateToStamp(dt.NormaliseDate(local), low, high);
            EXPECT_EQ(dt.MakeStamp(low, high), DateTimeFunctions::ToStamp(instant));
        }
    }
    // The later of the two 02:30 is the larger number.
    EXPECT_LT(dt.NormaliseDate(instants[0].toLocalTime()),
              dt.NormaliseDate(instants[1].toLocalTime()));
    if (savedTz.isNull()) {
        qunsetenv("TZ");
    } else {
        qputenv("TZ", savedTz);
    }
    tzset();
}
