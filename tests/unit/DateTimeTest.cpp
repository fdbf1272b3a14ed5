// Kelvar::DateTime: validation, setters, arithmetic, conversion and
// comparison, under fixed time zones set by the tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "DateTime.h"
#include "TestSupport.h"
#include "ZoneGuard.h"

using Kelvar::DateTime;

namespace {

using Pair = std::pair<int, std::string>;

std::string text(const DateTime& aValue)
{
    return aValue.toString().toLatin1();
}

DateTime make(int aDay, int aMonth, int aYear, int aHour, int aMinute, int aSecond, int aZone)
{
    return DateTime(aDay, aMonth, aYear, aHour, aMinute, aSecond, aZone);
}

Pair constructionError(int aDay, int aMonth, int aYear, int aHour, int aMinute, int aSecond, int aZone)
{
    return errorOf([&] { make(aDay, aMonth, aYear, aHour, aMinute, aSecond, aZone); });
}

struct DateTimeBerlin : ::testing::Test {
    ZoneGuard zone{"Europe/Berlin"};
};

}  // namespace

TEST(DateTime, FormatsPaddedFieldsAndMarksUtc)
{
    ZoneGuard zone("UTC");
    EXPECT_EQ(text(make(5, 3, 2010, 7, 8, 9, 0)), "2010-03-05 07:08:09");
    EXPECT_EQ(text(make(5, 3, 2010, 7, 8, 9, 1)), "2010-03-05 07:08:09Z");
    EXPECT_EQ(text(make(31, 12, 999, 23, 59, 59, 1)), "0999-12-31 23:59:59Z");
    EXPECT_EQ(text(make(1, 1, 5, 0, 0, 0, 0)), "0005-01-01 00:00:00");
    DateTime d = make(5, 3, 2010, 7, 8, 9, 1);
    EXPECT_EQ(d.getDay(), 5);
    EXPECT_EQ(d.getMonth(), 3);
    EXPECT_EQ(d.getYear(), 2010);
    EXPECT_EQ(d.getHour(), 7);
    EXPECT_EQ(d.getMinute(), 8);
    EXPECT_EQ(d.getSecond(), 9);
    EXPECT_EQ(d.getTimezone(), 1);
}

TEST(DateTime, ValidatesFieldsInOrderYearMonthDayHourMinuteSecondTimezone)
{
    EXPECT_EQ(constructionError(40, 13, 10000, 24, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid year"));
    EXPECT_EQ(constructionError(40, 13, -1, 24, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid year"));
    EXPECT_EQ(constructionError(40, 13, 2010, 24, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid month"));
    EXPECT_EQ(constructionError(40, 0, 2010, 24, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid month"));
    EXPECT_EQ(constructionError(32, 1, 2010, 24, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid day"));
    EXPECT_EQ(constructionError(0, 1, 2010, 24, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid day"));
    EXPECT_EQ(constructionError(1, 1, 2010, 24, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid hour"));
    EXPECT_EQ(constructionError(1, 1, 2010, -1, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid hour"));
    EXPECT_EQ(constructionError(1, 1, 2010, 23, 60, 60, 2), Pair(6, "InvalidArgumentException: Invalid minute"));
    EXPECT_EQ(constructionError(1, 1, 2010, 23, 59, 60, 2), Pair(6, "InvalidArgumentException: Invalid second"));
    EXPECT_EQ(constructionError(1, 1, 2010, 23, 59, -1, 2), Pair(6, "InvalidArgumentException: Invalid second"));
    EXPECT_EQ(constructionError(1, 1, 2010, 23, 59, 59, 2), Pair(6, "InvalidArgumentException: Invalid timezone"));
    EXPECT_EQ(constructionError(1, 1, 2010, 23, 59, 59, -1), Pair(6, "InvalidArgumentException: Invalid timezone"));
    EXPECT_EQ(constructionError(1, 1, 0, 0, 0, 0, 1), Pair(0, ""));
    EXPECT_EQ(constructionError(31, 12, 9999, 23, 59, 59, 1), Pair(0, ""));
}

TEST(DateTime, ImpossibleDaysAreRefusedAndLeaveTheValueUnchanged)
{
    EXPECT_EQ(constructionError(31, 4, 2010, 0, 0, 0, 1), Pair(6, "InvalidArgumentException: Invalid day"));
    EXPECT_EQ(constructionError(29, 2, 2010, 0, 0, 0, 1), Pair(6, "InvalidArgumentException: Invalid day"));
    EXPECT_EQ(constructionError(29, 2, 1900, 0, 0, 0, 1), Pair(6, "InvalidArgumentException: Invalid day"));
    EXPECT_EQ(constructionError(29, 2, 2012, 0, 0, 0, 1), Pair(0, ""));
    EXPECT_EQ(constructionError(29, 2, 2000, 0, 0, 0, 1), Pair(0, ""));
    EXPECT_EQ(constructionError(29, 2, 0, 0, 0, 0, 1), Pair(0, ""));  // year 0 is a leap year

    DateTime d = make(30, 4, 2010, 1, 2, 3, 1);
    EXPECT_EQ(errorOf([&] { d.setDay(31); }), Pair(6, "InvalidArgumentException"));
    EXPECT_EQ(text(d), "2010-04-30 01:02:03Z");
    DateTime j = make(31, 1, 2011, 1, 2, 3, 1);
    EXPECT_EQ(errorOf([&] { j.setMonth(2); }), Pair(6, "InvalidArgumentException"));
    EXPECT_EQ(text(j), "2011-01-31 01:02:03Z");
    DateTime leap = make(29, 2, 2012, 0, 0, 0, 1);
    EXPECT_EQ(errorOf([&] { leap.setYear(2013); }), Pair(6, "InvalidArgumentException"));
    leap.setYear(2016);
    EXPECT_EQ(text(leap), "2016-02-29 00:00:00Z");
}

TEST(DateTime, SettersCheckTheirRangeAndKeepTheOtherFields)
{
    DateTime d = make(15, 6, 2010, 12, 30, 45, 1);
    d.setDay(1);
    d.setMonth(12);
    d.setYear(1999);
    d.setHour(23);
    d.setMinute(0);
    d.setSecond(59);
    EXPECT_EQ(text(d), "1999-12-01 23:00:59Z");
    struct Case {
        void (DateTime::*setter)(TInt32);
        TInt32 low, high;
    } cases[] = {{&DateTime::setDay, 0, 32},   {&DateTime::setMonth, 0, 13},  {&DateTime::setYear, -1, 10000},
                 {&DateTime::setHour, -1, 24}, {&DateTime::setMinute, -1, 60}, {&DateTime::setSecond, -1, 60}};
    for (const Case& c : cases) {
        EXPECT_EQ(errorOf([&] { (d.*c.setter)(c.low); }), Pair(6, "InvalidArgumentException"));
        EXPECT_EQ(errorOf([&] { (d.*c.setter)(c.high); }), Pair(6, "InvalidArgumentException"));
    }
    EXPECT_EQ(errorOf([&] { d.setTimezone(2); }), Pair(6, "InvalidArgumentException"));
    EXPECT_EQ(errorOf([&] { d.setTimezone(1); }), Pair(0, ""));  // the same zone: nothing
    EXPECT_EQ(text(d), "1999-12-01 23:00:59Z");
}

TEST(DateTime, AddAndSubtractMoveTheMomentInSeconds)
{
    DateTime d = make(31, 12, 1999, 23, 59, 30, 1);
    d.add(1, -24, 0, 0);
    EXPECT_EQ(text(d), "1999-12-31 23:59:30Z");
    d.add(0, 0, 0, 31);
    EXPECT_EQ(text(d), "2000-01-01 00:00:01Z");
    d.subtract(0, 0, 1, 2);
    EXPECT_EQ(text(d), "1999-12-31 23:58:59Z");
    d.add(60, 0, 0, 0);  // 2000 is a leap year
    EXPECT_EQ(text(d), "2000-02-29 23:58:59Z");
    d.subtract(0, 48, 0, 0);
    EXPECT_EQ(text(d), "2000-02-27 23:58:59Z");
    d.subtract(-1, 0, -1, -1);
    EXPECT_EQ(text(d), "2000-02-29 00:00:00Z");
    // The sum is taken in 64 bits: 30000 days of seconds do not wrap.
    DateTime far = make(1, 1, 2000, 0, 0, 0, 1);
    far.add(0, 0, 0, 2147483647);
    EXPECT_EQ(text(far), "2068-01-19 03:14:07Z");
    far.add(30000, 0, 0, 0);
    EXPECT_EQ(text(far), "2150-03-10 03:14:07Z");
    // Past year 9999 the fields just go on.
    DateTime last = make(31, 12, 9999, 23, 0, 0, 1);
    last.add(0, 2, 0, 0);
    EXPECT_EQ(text(last), "10000-01-01 01:00:00Z");
    // Year 0 comes before year 1.
    DateTime first = make(1, 1, 1, 0, 0, 0, 1);
    first.subtract(0, 0, 0, 1);
    EXPECT_EQ(text(first), "0000-12-31 23:59:59Z");
}

TEST(DateTime, CompareUsesDateThenTime)
{
    DateTime a = make(1, 2, 2010, 10, 0, 0, 1);
    EXPECT_EQ(a.compare(make(1, 2, 2010, 10, 0, 0, 1)), 0);
    EXPECT_EQ(a.compare(make(1, 2, 2011, 9, 0, 0, 1)), -1);
    EXPECT_EQ(a.compare(make(1, 3, 2009, 9, 0, 0, 1)), 1);
    EXPECT_EQ(a.compare(make(1, 3, 2010, 9, 0, 0, 1)), -1);
    EXPECT_EQ(a.compare(make(2, 1, 2010, 9, 0, 0, 1)), 1);
    EXPECT_EQ(a.compare(make(2, 2, 2010, 9, 0, 0, 1)), -1);
    EXPECT_EQ(a.compare(make(1, 2, 2010, 9, 59, 59, 1)), 1);
    EXPECT_EQ(a.compare(make(1, 2, 2010, 10, 0, 1, 1)), -1);
    EXPECT_EQ(a.compare(make(1, 2, 2010, 10, 1, 0, 1)), -1);
    EXPECT_EQ(a.compareTimeTo(make(5, 5, 2020, 9, 0, 0, 1)), 1);
    EXPECT_EQ(a.compareTimeTo(make(5, 5, 2000, 10, 0, 0, 1)), 0);
    EXPECT_TRUE(a == make(1, 2, 2010, 10, 0, 0, 1));
    EXPECT_TRUE(a != make(1, 2, 2010, 10, 0, 1, 1));
    EXPECT_TRUE(a < make(1, 2, 2010, 10, 0, 1, 1));
    EXPECT_TRUE(a <= a);
    EXPECT_FALSE(a > a);
    EXPECT_TRUE(a >= a);
    EXPECT_TRUE(make(1, 2, 2010, 10, 0, 1, 1) > a);
}

TEST_F(DateTimeBerlin, ConvertsBetweenLocalTimeAndUtc)
{
    DateTime summer = make(1, 7, 2010, 12, 0, 0, 0);
    summer.setTimezone(1);
    EXPECT_EQ(text(summer), "2010-07-01 10:00:00Z");
    DateTime winter = make(31, 12, 2010, 23, 30, 0, 1);
    winter.setTimezone(0);
    EXPECT_EQ(text(winter), "2011-01-01 00:30:00");
    EXPECT_EQ(winter.getTimezone(), 0);
    // 23:00 local against 22:00 UTC: the second is converted first.
    DateTime local = make(15, 1, 2010, 23, 0, 0, 0);
    EXPECT_EQ(local.compare(make(15, 1, 2010, 22, 0, 0, 1)), 0);
    EXPECT_EQ(local.compare(make(15, 1, 2010, 22, 30, 0, 1)), -1);
    EXPECT_EQ(make(15, 1, 2010, 22, 0, 0, 1).compare(local), 0);
}

TEST_F(DateTimeBerlin, DaylightSavingGapsAndOverlapsFollowQt)
{
    // 28 March 2010: 02:00 jumps to 03:00. A time in the gap moves forward.
    DateTime gap = make(28, 3, 2010, 2, 30, 0, 0);
    EXPECT_EQ(text(gap), "2010-03-28 03:30:00");
    // A day of seconds across the change is 23 hours of wall time.
    DateTime before = make(27, 3, 2010, 12, 0, 0, 0);
    before.add(1, 0, 0, 0);
    EXPECT_EQ(text(before), "2010-03-28 13:00:00");
    // 31 October 2010: 03:00 falls back to 02:00; 02:30 happens twice and
    // is taken as the second (standard-time) occurrence.
    DateTime twice = make(31, 10, 2010, 2, 30, 0, 0);
    EXPECT_EQ(text(twice), "2010-10-31 02:30:00");
    twice.setTimezone(1);
    EXPECT_EQ(text(twice), "2010-10-31 01:30:00Z");
    // Both UTC moments read as the same wall time.
    DateTime first = make(31, 10, 2010, 0, 30, 0, 1);
    first.setTimezone(0);
    EXPECT_EQ(text(first), "2010-10-31 02:30:00");
    DateTime second = make(31, 10, 2010, 1, 30, 0, 1);
    second.setTimezone(0);
    EXPECT_EQ(text(second), "2010-10-31 02:30:00");
    DateTime autumn = make(30, 10, 2010, 12, 0, 0, 0);
    autumn.add(1, 0, 0, 0);
    EXPECT_EQ(text(autumn), "2010-10-31 11:00:00");
    // Setting the hour into the gap reads back the moved time.
    DateTime morning = make(28, 3, 2010, 1, 15, 0, 0);
    morning.setHour(2);
    EXPECT_EQ(text(morning), "2010-03-28 03:15:00");
}

TEST(DateTime, NowIsLocalAndFromPlatformKeepsTheSpec)
{
    ZoneGuard zone("UTC");
    QDateTime before = QDateTime::currentDateTime();
    DateTime now;
    EXPECT_EQ(now.getTimezone(), 0);
    QDateTime read = now.toPlatform();
    EXPECT_LE(std::llabs(before.secsTo(read)), 2);
    DateTime utc = DateTime::fromPlatform(QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC));
    EXPECT_EQ(text(utc), "2001-02-03 04:05:06Z");
}
