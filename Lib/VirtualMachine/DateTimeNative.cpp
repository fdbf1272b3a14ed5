// DateTime group: date-time objects (DateTime.h). A target operand is a
// reference to the cell (box or first field) that receives a new date-time
// block; a date operand is a reference to such a cell. Booleans are 1 and 0.
#include "DateTime.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

// Stores a new block owning aValue into the cell aTarget refers to.
void storeNew(VMHeap& aHeap, Addr aTarget, const Kelvar::DateTime& aValue)
{
    nullCheck(aTarget);
    aHeap.space().storeWord(aTarget, Word(newDateTimeBlock(aHeap, aValue)));
}

}  // namespace

void VirtualMachine::dateTimeNative(int function)
{
    VMHeap& heap = *heap_;
    switch (function) {
    case 1:  // target: now
        storeNew(heap, Addr(arg(0)), Kelvar::DateTime());
        pop(1);
        return;
    case 2:  // target, date: a copy
    case 3:
        nullCheck(Addr(arg(1)));
        storeNew(heap, Addr(arg(1)), dateTimeOf(heap, Addr(arg(0))));
        pop(2);
        return;
    case 4: {  // target, day, month, year, hour, minute, second, timezone
        nullCheck(Addr(arg(7)));
        Kelvar::DateTime value(arg(6), arg(5), arg(4), arg(3), arg(2), arg(1), arg(0));
        storeNew(heap, Addr(arg(7)), value);
        pop(8);
        return;
    }
    case 5:  // date, days, hours, minutes, seconds
    case 6: {
        Kelvar::DateTime& date = dateTimeOf(heap, Addr(arg(4)));
        if (function == 5)
            date.add(arg(3), arg(2), arg(1), arg(0));
        else
            date.subtract(arg(3), arg(2), arg(1), arg(0));
        pop(5);
        return;
    }
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13: {
        const Kelvar::DateTime& date = dateTimeOf(heap, Addr(arg(0)));
        const TInt32 fields[] = {date.getDay(),    date.getMonth(),  date.getYear(),    date.getHour(),
                                 date.getMinute(), date.getSecond(), date.getTimezone()};
        arg(0) = fields[function - 7];
        return;
    }
    case 14:
    case 15:
    case 16:
    case 17:
    case 18:
    case 19:
    case 20: {
        Kelvar::DateTime& date = dateTimeOf(heap, Addr(arg(1)));
        TInt32 value = arg(0);
        switch (function) {
        case 14:
            date.setDay(value);
            break;
        case 15:
            date.setMonth(value);
            break;
        case 16:
            date.setYear(value);
            break;
        case 17:
            date.setHour(value);
            break;
        case 18:
            date.setMinute(value);
            break;
        case 19:
            date.setSecond(value);
            break;
        default:
            date.setTimezone(value);
        }
        pop(2);
        return;
    }
    case 21: {
        CAppsString text = dateTimeOf(heap, Addr(arg(0))).toString();
        arg(0) = Word(newStringObject(heap, OString(text)));
        return;
    }
    case 22:
    case 23: {
        bool same = arg(1) == arg(0);
        pop(1);
        arg(0) = (function == 22) == same ? 1 : 0;
        return;
    }
    case 24:
    case 25:
    case 26:
    case 27:
    case 28:
    case 29: {
        const Kelvar::DateTime& first = dateTimeOf(heap, Addr(arg(1)));
        const Kelvar::DateTime& second = dateTimeOf(heap, Addr(arg(0)));
        TInt32 order = first.compare(second);
        const bool results[] = {order == 0, order != 0, order < 0, order <= 0, order > 0, order >= 0};
        pop(1);
        arg(0) = results[function - 24] ? 1 : 0;
        return;
    }
    default:
        unknownNativeFunction("DateTime:");
    }
}

}  // namespace vm
