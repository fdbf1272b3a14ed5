// DateTime group and System 9 on the operand stack: stack effects, error
// order, the date-time blocks and their boxes.
#include "DateTime.h"
#include "VmNativeFixture.h"
#include "ZoneGuard.h"

using namespace vm;

namespace {

using Pair = VmNativeFixture::Pair;

enum { DATETIME = 29, SYSTEM = 32 };

struct VmDateTimeNatives : VmNativeFixture {
    ZoneGuard zone{"Europe/Berlin"};

    // A date value: a kept cell holding a new date-time block.
    Word date(int aDay, int aMonth, int aYear, int aHour, int aMinute, int aSecond, int aZone)
    {
        Word target = cell();
        callWith(DATETIME, 4, {target, aDay, aMonth, aYear, aHour, aMinute, aSecond, aZone}, 0);
        return target;
    }
    std::string show(Word aDate) { return dateTimeOf(heap(), Addr(aDate)).toString().toLatin1(); }
    Word field(int aFunction, Word aDate) { return callWith(DATETIME, aFunction, {aDate}, 1); }
};

}  // namespace

TEST_F(VmDateTimeNatives, CreatingStoresANewBlockIntoTheTarget)
{
    Word target = cell();
    callWith(DATETIME, 1, {target}, 0);
    Addr block = Addr(load(target));
    ASSERT_NE(block, 0u);
    EXPECT_EQ(heap().gcCodeOf(block), GC_CODE_DATETIME);
    EXPECT_EQ(heap().payloadSize(block), 32u);
    EXPECT_EQ(field(13, target), 0);  // now is local time

    Word fields = date(5, 3, 2010, 7, 8, 9, 1);
    EXPECT_EQ(show(fields), "2010-03-05 07:08:09Z");
    for (int function : {2, 3}) {
        Word copy = cell();
        callWith(DATETIME, function, {copy, fields}, 0);
        EXPECT_NE(load(copy), load(fields));  // a new block
        EXPECT_EQ(show(copy), "2010-03-05 07:08:09Z");
        callWith(DATETIME, 14, {copy, 20}, 0);
        EXPECT_EQ(show(fields), "2010-03-05 07:08:09Z");  // independent of the original
    }
}

TEST_F(VmDateTimeNatives, CreationErrorsComeInOrderAndLeaveTheTarget)
{
    Word target = cell(0);
    EXPECT_EQ(errorWith(DATETIME, 1, {0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(errorWith(DATETIME, 4, {0, 40, 13, 10000, 0, 0, 0, 0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(errorWith(DATETIME, 4, {target, 40, 13, 10000, 0, 0, 0, 0}),
              Pair(6, "InvalidArgumentException: Invalid year"));
    EXPECT_EQ(errorWith(DATETIME, 4, {target, 40, 13, 2010, 0, 0, 0, 0}),
              Pair(6, "InvalidArgumentException: Invalid month"));
    EXPECT_EQ(errorWith(DATETIME, 4, {target, 31, 4, 2010, 0, 0, 0, 0}),
              Pair(6, "InvalidArgumentException: Invalid day"));
    EXPECT_EQ(errorWith(DATETIME, 4, {target, 30, 4, 2010, 0, 0, 0, 5}),
              Pair(6, "InvalidArgumentException: Invalid timezone"));
    EXPECT_EQ(load(target), 0);
    Word date = this->date(1, 1, 2000, 0, 0, 0, 0);
    EXPECT_EQ(errorWith(DATETIME, 2, {0, date}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(errorWith(DATETIME, 2, {target, 0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(errorWith(DATETIME, 3, {target, cell(0)}), Pair(1, "NullPointerException: NULL pointer"));
    // A cell holding something that is no date-time.
    EXPECT_EQ(errorWith(DATETIME, 2, {target, cell(string("x"))}), Pair(10, "VMException: Invalid object"));
    EXPECT_EQ(load(target), 0);
}

TEST_F(VmDateTimeNatives, GettersReplaceTheOperand)
{
    Word d = date(5, 3, 2010, 7, 8, 9, 1);
    EXPECT_EQ(field(7, d), 5);
    EXPECT_EQ(field(8, d), 3);
    EXPECT_EQ(field(9, d), 2010);
    EXPECT_EQ(field(10, d), 7);
    EXPECT_EQ(field(11, d), 8);
    EXPECT_EQ(field(12, d), 9);
    EXPECT_EQ(field(13, d), 1);
    for (int function = 7; function <= 13; ++function)
        EXPECT_EQ(errorWith(DATETIME, function, {0}), Pair(1, "NullPointerException: NULL pointer")) << function;
}

TEST_F(VmDateTimeNatives, SettersAndMovesPopTheirOperands)
{
    Word d = date(5, 3, 2010, 7, 8, 9, 1);
    callWith(DATETIME, 14, {d, 6}, 0);
    callWith(DATETIME, 15, {d, 4}, 0);
    callWith(DATETIME, 16, {d, 2011}, 0);
    callWith(DATETIME, 17, {d, 10}, 0);
    callWith(DATETIME, 18, {d, 11}, 0);
    callWith(DATETIME, 19, {d, 12}, 0);
    EXPECT_EQ(show(d), "2011-04-06 10:11:12Z");
    callWith(DATETIME, 20, {d, 0}, 0);
    EXPECT_EQ(show(d), "2011-04-06 12:11:12");  // summer time in Berlin
    callWith(DATETIME, 5, {d, 1, 2, 3, 4}, 0);
    EXPECT_EQ(show(d), "2011-04-07 14:14:16");
    callWith(DATETIME, 6, {d, 2, 0, 0, 16}, 0);
    EXPECT_EQ(show(d), "2011-04-05 14:14:00");

    for (int function = 14; function <= 19; ++function) {
        EXPECT_EQ(errorWith(DATETIME, function, {0, 1}), Pair(1, "NullPointerException: NULL pointer"));
        EXPECT_EQ(errorWith(DATETIME, function, {d, 10000}), Pair(6, "InvalidArgumentException")) << function;
    }
    EXPECT_EQ(errorWith(DATETIME, 20, {d, 2}), Pair(6, "InvalidArgumentException"));
    EXPECT_EQ(errorWith(DATETIME, 14, {d, 31}), Pair(6, "InvalidArgumentException"));  // April has 30 days
    EXPECT_EQ(errorWith(DATETIME, 5, {0, 1, 2, 3, 4}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(errorWith(DATETIME, 6, {0, 1, 2, 3, 4}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(show(d), "2011-04-05 14:14:00");
}

TEST_F(VmDateTimeNatives, ToStringMakesANewString)
{
    Word d = date(5, 3, 999, 7, 8, 9, 0);
    Word s = callWith(DATETIME, 21, {d}, 1);
    EXPECT_EQ(text(s), "0999-03-05 07:08:09");
    EXPECT_EQ(errorWith(DATETIME, 21, {0}), Pair(1, "NullPointerException: NULL pointer"));
}

TEST_F(VmDateTimeNatives, IdentityAndComparisonsPushOneOrZero)
{
    Word a = date(15, 1, 2010, 23, 0, 0, 0);
    Word b = date(15, 1, 2010, 23, 0, 0, 0);
    Word utc = date(15, 1, 2010, 22, 0, 0, 1);  // the same moment
    Word later = date(15, 1, 2010, 23, 0, 1, 0);
    EXPECT_EQ(callWith(DATETIME, 22, {a, a}, 1), 1);
    EXPECT_EQ(callWith(DATETIME, 22, {a, b}, 1), 0);
    EXPECT_EQ(callWith(DATETIME, 23, {a, b}, 1), 1);
    EXPECT_EQ(callWith(DATETIME, 23, {a, a}, 1), 0);
    EXPECT_EQ(callWith(DATETIME, 22, {0, 0}, 1), 1);  // no dereference
    EXPECT_EQ(callWith(DATETIME, 24, {a, b}, 1), 1);
    EXPECT_EQ(callWith(DATETIME, 24, {a, utc}, 1), 1);
    EXPECT_EQ(callWith(DATETIME, 25, {a, utc}, 1), 0);
    EXPECT_EQ(callWith(DATETIME, 25, {a, later}, 1), 1);
    struct Case {
        int function;
        int less, equal, greater;
    } cases[] = {{26, 1, 0, 0}, {27, 1, 1, 0}, {28, 0, 0, 1}, {29, 0, 1, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(callWith(DATETIME, c.function, {a, later}, 1), c.less) << c.function;
        EXPECT_EQ(callWith(DATETIME, c.function, {a, utc}, 1), c.equal) << c.function;
        EXPECT_EQ(callWith(DATETIME, c.function, {later, a}, 1), c.greater) << c.function;
    }
    for (int function = 24; function <= 29; ++function) {
        EXPECT_EQ(errorWith(DATETIME, function, {0, a}), Pair(1, "NullPointerException: NULL pointer"));
        EXPECT_EQ(errorWith(DATETIME, function, {a, 0}), Pair(1, "NullPointerException: NULL pointer"));
    }
}

TEST_F(VmDateTimeNatives, UnknownFunctionsNameTheGroupAndPosition)
{
    for (int function : {0, 30, 127, -1})
        EXPECT_EQ(errorWith(DATETIME, function, {}), Pair(10, "VMException: DateTime:77")) << function;
}

TEST_F(VmDateTimeNatives, SystemNowReturnsABoxedDateTime)
{
    Word boxed = callWith(SYSTEM, 9, {1}, 1);
    EXPECT_EQ(heap().gcCodeOf(Addr(boxed)), GC_CODE_REFERENCE);
    EXPECT_EQ(heap().payloadSize(Addr(boxed)), 4u);
    EXPECT_EQ(heap().gcCodeOf(Addr(load(boxed))), GC_CODE_DATETIME);
    const Kelvar::DateTime& now = dateTimeOf(heap(), Addr(boxed));
    EXPECT_EQ(now.getTimezone(), 1);
    EXPECT_EQ(show(boxed).back(), 'Z');
    QDateTime read = now.toPlatform();
    EXPECT_LE(std::llabs(QDateTime::currentDateTimeUtc().secsTo(read)), 2);
    Word local = callWith(SYSTEM, 9, {0}, 1);
    EXPECT_EQ(dateTimeOf(heap(), Addr(local)).getTimezone(), 0);
    EXPECT_EQ(errorWith(SYSTEM, 9, {2}), Pair(6, "InvalidArgumentException"));
}
