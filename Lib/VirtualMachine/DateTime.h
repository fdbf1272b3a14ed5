// Kelvar::DateTime: a calendar date and time (broken-down fields) that are
// either local time or UTC. Calendar arithmetic and conversions go through
// QDateTime; the object stores only the fields.
//
// Input is validated: year 0..9999, month 1..12, day 1..31, hour 0..23,
// minute and second 0..59, timezone 0 (local) or 1 (UTC). Failures raise code
// 6 (InvalidArgumentException). Fields that results of arithmetic produce are
// not limited (a year may pass 9999).
//
// Choices where the calendar has no answer:
//  - A day that passes the range test but does not exist in its month
//    (31 April, 29 February of a common year) is refused like an
//    out-of-range value ("Invalid day" when constructing, no text for the
//    setters), and the value is left unchanged: QDate reports such a date
//    invalid and there is no moment to read back.
//  - Year 0 is the year before year 1 (proleptic Gregorian, as ISO 8601 and
//    astronomical numbering have it, a leap year); QDate calls it -1.
//  - Local times that a daylight-saving change skips or repeats: QDateTime
//    calls a time in a spring-forward gap invalid; it is read with the UTC
//    offset of the day before instead, which moves it forward by the gap
//    (02:30 becomes 03:30 in Central Europe). A wall time that occurs twice
//    is taken as QDateTime takes it, as the second occurrence (standard
//    time); the fields cannot tell the two apart. `add`, `subtract` and
//    `setTimezone` move the moment in real seconds, so wall times across a
//    change shift by the change.
//  - A move whose result QDateTime cannot represent raises code 6 and leaves
//    the value unchanged.
#pragma once

#include <QDateTime>

#include "../Containers/CAppsString.h"
#include "GCObject.h"
#include "Types.h"

namespace Kelvar {

class DateTime : public vm::GCObject {
public:
    enum TTimezone : TInt32 { ELocal = 0, EUtc = 1 };

    // Now, local time.
    DateTime();
    // Validates year, month, day, hour, minute, second, timezone in that
    // order ("Invalid year" ... "Invalid timezone").
    DateTime(TInt32 aDay, TInt32 aMonth, TInt32 aYear, TInt32 aHour, TInt32 aMinute, TInt32 aSecond,
             TInt32 aTimezone);
    DateTime(const DateTime& aOther) = default;
    DateTime& operator=(const DateTime& aOther) = default;
    // The fields of a valid moment, in its own time spec (UTC or local).
    static DateTime fromPlatform(const QDateTime& aMoment);

    TInt32 getDay() const { return iDay; }
    TInt32 getMonth() const { return iMonth; }
    TInt32 getYear() const { return iYear; }
    TInt32 getHour() const { return iHour; }
    TInt32 getMinute() const { return iMinute; }
    TInt32 getSecond() const { return iSecond; }
    TInt32 getTimezone() const { return iTimezone; }

    // Out of range: code 6 without text. The other fields stay; the moment is
    // rebuilt and every field read back.
    void setDay(TInt32 aDay);
    void setMonth(TInt32 aMonth);
    void setYear(TInt32 aYear);
    void setHour(TInt32 aHour);
    void setMinute(TInt32 aMinute);
    void setSecond(TInt32 aSecond);
    // Converts the moment to local time or UTC; the same zone does nothing.
    void setTimezone(TInt32 aTimezone);

    // Moves the moment by days * 86400 + hours * 3600 + minutes * 60 +
    // seconds seconds (64-bit sum).
    void add(TInt32 aDays, TInt32 aHours, TInt32 aMinutes, TInt32 aSeconds);
    void subtract(TInt32 aDays, TInt32 aHours, TInt32 aMinutes, TInt32 aSeconds);

    // Hour, minute, second; the timezones must be equal (asserted).
    TInt32 compareTimeTo(const DateTime& aOther) const;
    // Year, month, day, then the time; the other is converted to this
    // timezone first when they differ. -1, 0 or 1.
    TInt32 compare(const DateTime& aOther) const;
    bool operator==(const DateTime& aOther) const { return compare(aOther) == 0; }
    bool operator!=(const DateTime& aOther) const { return compare(aOther) != 0; }
    bool operator<(const DateTime& aOther) const { return compare(aOther) < 0; }
    bool operator<=(const DateTime& aOther) const { return compare(aOther) <= 0; }
    bool operator>(const DateTime& aOther) const { return compare(aOther) > 0; }
    bool operator>=(const DateTime& aOther) const { return compare(aOther) >= 0; }

    // "YYYY-MM-DD hh:mm:ss", then "Z" for UTC.
    CAppsString toString() const;

    // The moment the fields name (invalid for an impossible date).
    QDateTime toPlatform() const;

private:
    DateTime(TInt32 aTimezone, TInt32 aDay, TInt32 aMonth, TInt32 aYear, TInt32 aHour, TInt32 aMinute,
             TInt32 aSecond, bool aUnchecked);
    // Replaces the fields by those of aMoment; raises code 6 (without text,
    // or aMessage) when the moment is invalid.
    void readBack(const QDateTime& aMoment, const char* aMessage = "");
    void move(TInt64 aSeconds);
    // aField := aValue (in aLow..aHigh, else code 6), then read back.
    void setField(TInt32 DateTime::*aField, TInt32 aValue, TInt32 aLow, TInt32 aHigh);

    TInt32 iTimezone;
    TInt32 iDay;
    TInt32 iMonth;
    TInt32 iYear;
    TInt32 iHour;
    TInt32 iMinute;
    TInt32 iSecond;
};

}  // namespace Kelvar

namespace vm {

class VMHeap;

// Date-time objects in the heap: a 32-byte block (GC_CODE_DATETIME,
// isGcObject -1) whose first word is the handle of its Kelvar::DateTime. A
// date-time value of bytecode is a reference to a cell (a one-word box or an
// object's first field) that holds the block's address.
constexpr uint32_t kDateTimeBlockSize = 32;

// A new block owning a copy of aValue; returns the block (to be stored into
// a cell).
Addr newDateTimeBlock(VMHeap& aHeap, const Kelvar::DateTime& aValue);
// A new date-time value: block and box allocated together; returns the box.
Addr newDateTimeObject(VMHeap& aHeap, const Kelvar::DateTime& aValue);
// The DateTime of a date-time value: aReference null-checked (code 1), its
// first word must name a block owning a DateTime (null: code 1, anything
// else: code 10 "Invalid object").
Kelvar::DateTime& dateTimeOf(VMHeap& aHeap, Addr aReference);

}  // namespace vm
