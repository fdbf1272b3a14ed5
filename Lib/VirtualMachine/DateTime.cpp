#include "DateTime.h"

#include <cstdio>

#include "Heap.h"
#include "ObjectModel.h"
#include "VMError.h"

namespace Kelvar {

namespace {

// QDate has no year 0: it numbers 1 BC as -1.
int toQtYear(TInt32 aYear)
{
    return aYear <= 0 ? aYear - 1 : aYear;
}

TInt32 fromQtYear(int aYear)
{
    return aYear < 0 ? aYear + 1 : aYear;
}

void check(bool aValid, const char* aMessage = "")
{
    if (!aValid)
        vm::raiseVmError(vm::KErrInvalidArgument, aMessage);
}

bool isTimezone(TInt32 aTimezone)
{
    return aTimezone == DateTime::ELocal || aTimezone == DateTime::EUtc;
}

int sign(TInt32 aDifference)
{
    return aDifference < 0 ? -1 : aDifference > 0 ? 1 : 0;
}

}  // namespace

DateTime::DateTime() : DateTime(fromPlatform(QDateTime::currentDateTime())) {}

DateTime::DateTime(TInt32 aDay, TInt32 aMonth, TInt32 aYear, TInt32 aHour, TInt32 aMinute, TInt32 aSecond,
                   TInt32 aTimezone)
    : DateTime(aTimezone, aDay, aMonth, aYear, aHour, aMinute, aSecond, true)
{
    check(aYear >= 0 && aYear <= 9999, "Invalid year");
    check(aMonth >= 1 && aMonth <= 12, "Invalid month");
    check(aDay >= 1 && aDay <= 31, "Invalid day");
    check(aHour >= 0 && aHour <= 23, "Invalid hour");
    check(aMinute >= 0 && aMinute <= 59, "Invalid minute");
    check(aSecond >= 0 && aSecond <= 59, "Invalid second");
    check(isTimezone(aTimezone), "Invalid timezone");
    readBack(toPlatform(), "Invalid day");
}

DateTime::DateTime(TInt32 aTimezone, TInt32 aDay, TInt32 aMonth, TInt32 aYear, TInt32 aHour, TInt32 aMinute,
                   TInt32 aSecond, bool)
    : iTimezone(aTimezone), iDay(aDay), iMonth(aMonth), iYear(aYear), iHour(aHour), iMinute(aMinute),
      iSecond(aSecond)
{
}

DateTime DateTime::fromPlatform(const QDateTime& aMoment)
{
    KELVAR_ASSERT(aMoment.isValid());
    QDateTime moment = aMoment.timeSpec() == Qt::UTC || aMoment.timeSpec() == Qt::LocalTime
                           ? aMoment
                           : aMoment.toLocalTime();
    DateTime result(ELocal, 1, 1, 1970, 0, 0, 0, true);
    result.readBack(moment);
    return result;
}

QDateTime DateTime::toPlatform() const
{
    QDate date(toQtYear(iYear), iMonth, iDay);
    QTime time(iHour, iMinute, iSecond);
    if (iTimezone == EUtc)
        return QDateTime(date, time, Qt::UTC);
    QDateTime moment(date, time, Qt::LocalTime);
    if (!moment.isValid() && date.isValid() && time.isValid()) {
        // A wall time that a spring-forward change skips: read with the
        // offset in force the day before, it lands after the gap.
        QDateTime dayBefore(date.addDays(-1), time, Qt::LocalTime);
        if (dayBefore.isValid())
            moment = QDateTime(date, time, Qt::OffsetFromUTC, dayBefore.offsetFromUtc()).toLocalTime();
    }
    return moment;
}

void DateTime::readBack(const QDateTime& aMoment, const char* aMessage)
{
    check(aMoment.isValid(), aMessage);
    QDate date = aMoment.date();
    QTime time = aMoment.time();
    iTimezone = aMoment.timeSpec() == Qt::UTC ? EUtc : ELocal;
    iYear = fromQtYear(date.year());
    iMonth = date.month();
    iDay = date.day();
    iHour = time.hour();
    iMinute = time.minute();
    iSecond = time.second();
}

void DateTime::setField(TInt32 DateTime::*aField, TInt32 aValue, TInt32 aLow, TInt32 aHigh)
{
    check(aValue >= aLow && aValue <= aHigh);
    DateTime changed(*this);
    changed.*aField = aValue;
    readBack(changed.toPlatform());
}

void DateTime::setDay(TInt32 aDay)
{
    setField(&DateTime::iDay, aDay, 1, 31);
}

void DateTime::setMonth(TInt32 aMonth)
{
    setField(&DateTime::iMonth, aMonth, 1, 12);
}

void DateTime::setYear(TInt32 aYear)
{
    setField(&DateTime::iYear, aYear, 0, 9999);
}

void DateTime::setHour(TInt32 aHour)
{
    setField(&DateTime::iHour, aHour, 0, 23);
}

void DateTime::setMinute(TInt32 aMinute)
{
    setField(&DateTime::iMinute, aMinute, 0, 59);
}

void DateTime::setSecond(TInt32 aSecond)
{
    setField(&DateTime::iSecond, aSecond, 0, 59);
}

void DateTime::setTimezone(TInt32 aTimezone)
{
    if (aTimezone == iTimezone)
        return;
    check(isTimezone(aTimezone));
    QDateTime moment = toPlatform();
    readBack(aTimezone == EUtc ? moment.toUTC() : moment.toLocalTime());
}

void DateTime::move(TInt64 aSeconds)
{
    readBack(toPlatform().addSecs(aSeconds));
}

void DateTime::add(TInt32 aDays, TInt32 aHours, TInt32 aMinutes, TInt32 aSeconds)
{
    move(TInt64(aDays) * 86400 + TInt64(aHours) * 3600 + TInt64(aMinutes) * 60 + aSeconds);
}

void DateTime::subtract(TInt32 aDays, TInt32 aHours, TInt32 aMinutes, TInt32 aSeconds)
{
    move(-(TInt64(aDays) * 86400 + TInt64(aHours) * 3600 + TInt64(aMinutes) * 60 + aSeconds));
}

TInt32 DateTime::compareTimeTo(const DateTime& dt) const
{
    KELVAR_ASSERT(this->getTimezone() == dt.getTimezone());
    if (iHour != dt.iHour)
        return sign(iHour - dt.iHour);
    if (iMinute != dt.iMinute)
        return sign(iMinute - dt.iMinute);
    return sign(iSecond - dt.iSecond);
}

TInt32 DateTime::compare(const DateTime& aOther) const
{
    DateTime other(aOther);
    other.setTimezone(iTimezone);
    if (iYear != other.iYear)
        return iYear < other.iYear ? -1 : 1;
    if (iMonth != other.iMonth)
        return sign(iMonth - other.iMonth);
    if (iDay != other.iDay)
        return sign(iDay - other.iDay);
    return compareTimeTo(other);
}

CAppsString DateTime::toString() const
{
    char text[80];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%s", int(iYear), int(iMonth), int(iDay),
                          int(iHour), int(iMinute), int(iSecond), iTimezone == EUtc ? "Z" : "");
    return CAppsString(text, n);
}

}  // namespace Kelvar

namespace vm {

Addr newDateTimeBlock(VMHeap& aHeap, const Kelvar::DateTime& aValue)
{
    return aHeap.construct<Kelvar::DateTime>(kDateTimeBlockSize, GC_CODE_DATETIME, aValue);
}

Addr newDateTimeObject(VMHeap& aHeap, const Kelvar::DateTime& aValue)
{
    return newBoxedObject(aHeap, kDateTimeBlockSize, GC_CODE_DATETIME, new Kelvar::DateTime(aValue));
}

Kelvar::DateTime& dateTimeOf(VMHeap& aHeap, Addr aReference)
{
    return objectOf<Kelvar::DateTime>(aHeap, unbox(aHeap, aReference));
}

}  // namespace vm
