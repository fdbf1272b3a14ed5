// Byte, Char, Long and Range native groups.
//
// A long is a reference to an 8-byte heap block (low word first); every
// access to it goes through the checked accessors of the space, so a bogus
// reference yields a VM error, never a host access. 64-bit arithmetic wraps
// (computed unsigned); division and remainder by zero raise code 3 with an
// empty message as int division does, and INT64_MIN / -1 wraps to INT64_MIN
// with remainder 0. Shift counts follow the int shift rules: a count above 63
// gives 0 in both directions (also for a negative value shifted right), a
// negative count shifts the other way by its magnitude.
#include <cstring>
#include <string>

#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

TInt64 loadLong(VMSpace& space, Word reference)
{
    TInt64 v;
    std::memcpy(&v, space.ptr(nullCheck(Addr(reference)), 8), 8);
    return v;
}

void storeLong(VMSpace& space, Word reference, TInt64 value)
{
    std::memcpy(space.ptr(nullCheck(Addr(reference)), 8), &value, 8);
}

Word newLong(VMHeap& heap, TInt64 value)
{
    Addr block = heap.alloc(8, 0, GC_CODE_NATIVE);
    std::memcpy(heap.space().ptr(block, 8), &value, 8);
    return Word(block);
}

TInt64 wrapAdd(TInt64 a, TInt64 b) { return TInt64(TUint64(a) + TUint64(b)); }
TInt64 wrapSub(TInt64 a, TInt64 b) { return TInt64(TUint64(a) - TUint64(b)); }
TInt64 wrapMul(TInt64 a, TInt64 b) { return TInt64(TUint64(a) * TUint64(b)); }

TInt64 longDivide(TInt64 a, TInt64 b)
{
    if (b == 0)
        raiseVmError(KErrDivisionByZero);
    if (b == -1)
        return TInt64(TUint64(0) - TUint64(a));
    return a / b;
}

TInt64 longRemainder(TInt64 a, TInt64 b)
{
    if (b == 0)
        raiseVmError(KErrDivisionByZero);
    if (b == -1)
        return 0;
    return a % b;
}

TInt64 longShiftRight(TInt64 a, TInt64 n);

TInt64 longShiftLeft(TInt64 a, TInt64 n)
{
    if (n < 0)
        return longShiftRight(a, -n);
    if (n > 63)
        return 0;
    return TInt64(TUint64(a) << n);
}

TInt64 longShiftRight(TInt64 a, TInt64 n)
{
    if (n < 0)
        return longShiftLeft(a, -n);
    if (n > 63)
        return 0;
    return a >> n;
}

// Result of the binary functions 5-9, 24-28 and of the assignments 13-17,
// 29-33 (which apply the same operation as function - 8 or - 5).
TInt64 longBinary(int function, TInt64 a, TInt64 b)
{
    // The shift count is the low word of b, as an int.
    TInt64 n = TInt32(TUint32(TUint64(b)));
    switch (function) {
    case 5: return wrapAdd(a, b);
    case 6: return wrapSub(a, b);
    case 7: return wrapMul(a, b);
    case 8: return longDivide(a, b);
    case 9: return longRemainder(a, b);
    case 24: return a & b;
    case 25: return a | b;
    case 26: return a ^ b;
    case 27: return longShiftLeft(a, n);
    case 28: return longShiftRight(a, n);
    }
    return 0;
}

[[noreturn]] void invalidArgument()
{
    raiseVmError(KErrInvalidArgument);
}

}  // namespace

// Byte arithmetic is done by instructions: no function number is known.
void VirtualMachine::byteNative(int function)
{
    (void)function;
    unknownNativeFunction("Byte:");
}

void VirtualMachine::charNative(int function)
{
    switch (function) {
    case 1:
    case 2: {
        char16_t c = char16_t(arg(0));
        arg(1) = function == 1 ? OString::lower(c) : OString::upper(c);
        pop(1);
        break;
    }
    case 3: arg(0) = OString::lower(char16_t(arg(0))); break;
    case 4: arg(0) = OString::upper(char16_t(arg(0))); break;
    case 5: arg(0) = OString::isLetter(char16_t(arg(0))) ? 1 : 0; break;
    case 6: arg(0) = OString::isDigit(char16_t(arg(0))) ? 1 : 0; break;
    case 7: arg(0) = OString::isSpace(char16_t(arg(0))) ? 1 : 0; break;
    case 8: {
        char16_t c = char16_t(arg(0));
        arg(0) = Word(newStringObject(heap(), OString(&c, 1)));
        break;
    }
    case 9: arg(0) &= 0xFFFF; break;
    default: unknownNativeFunction("Char:");
    }
}

void VirtualMachine::longNative(int function)
{
    VMSpace& s = space();
    switch (function) {
    case 1:
        storeLong(s, arg(0), 0);
        pop(1);
        break;
    case 2:
    case 3:
        storeLong(s, arg(1), loadLong(s, arg(0)));
        pop(2);
        break;
    case 5: case 6: case 7: case 8: case 9:
    case 24: case 25: case 26: case 27: case 28: {
        TInt64 r = longBinary(function, loadLong(s, arg(1)), loadLong(s, arg(0)));
        arg(1) = newLong(heap(), r);
        pop(1);
        break;
    }
    case 10:
        arg(0) = newLong(heap(), wrapSub(0, loadLong(s, arg(0))));
        break;
    case 11:
    case 12: {
        TInt64 v = loadLong(s, arg(0));
        storeLong(s, arg(0), function == 11 ? wrapAdd(v, 1) : wrapSub(v, 1));
        pop(1);
        break;
    }
    case 13: case 14: case 15: case 16: case 17:
    case 29: case 30: case 31: case 32: case 33: {
        int operation = function <= 17 ? function - 8 : function - 5;
        TInt64 r = longBinary(operation, loadLong(s, arg(1)), loadLong(s, arg(0)));
        storeLong(s, arg(1), r);
        pop(2);
        break;
    }
    case 18: case 19: case 20: case 21: case 22: case 23: {
        TInt64 a = loadLong(s, arg(1));
        TInt64 b = loadLong(s, arg(0));
        bool r = false;
        switch (function) {
        case 18: r = a == b; break;
        case 19: r = a < b; break;
        case 20: r = a <= b; break;
        case 21: r = a != b; break;
        case 22: r = a > b; break;
        case 23: r = a >= b; break;
        }
        // The result stays in T's slot, just above the new top.
        arg(0) = r ? 1 : 0;
        pop(1);
        break;
    }
    case 34: {
        std::string text = std::to_string(loadLong(s, arg(0)));
        arg(0) = Word(newStringObject(heap(), OString(text.c_str())));
        break;
    }
    case 35:
    case 36:
        break;
    case 37:
        arg(0) = TInt32(TUint32(TUint64(loadLong(s, arg(0)))));
        break;
    case 38:
        arg(0) = newLong(heap(), TInt64(arg(0)));
        break;
    default:
        // Includes 4, which has no operation.
        unknownNativeFunction("Long:");
    }
}

// A range variable is two words {first, length} at an address.
void VirtualMachine::rangeNative(int function)
{
    VMSpace& s = space();
    auto storeRange = [&](Word address, Word first, Word length) {
        Addr a = nullCheck(Addr(address));
        s.check(a, 8);
        s.storeWord(a, first);
        s.storeWord(a + 4, length);
    };
    switch (function) {
    case 1:
        storeRange(arg(0), 0, 0);
        pop(1);
        break;
    case 2: {
        Addr from = nullCheck(Addr(arg(0)));
        s.check(from, 8);
        storeRange(arg(1), s.loadWord(from), s.loadWord(from + 4));
        pop(2);
        break;
    }
    case 3: {
        Word first = arg(1), last = arg(0);
        if (first < 0 || last < 0 || last < first)
            invalidArgument();
        // {0, INT32_MAX} is the longest range: last - first + 1 must fit.
        TInt64 length = TInt64(last) - first + 1;
        if (length > INT32_MAX)
            invalidArgument();
        storeRange(arg(2), first, Word(length));
        pop(3);
        break;
    }
    case 4: {
        Word first = arg(1), length = arg(0);
        if (first < 0 || length < 0)
            invalidArgument();
        storeRange(arg(2), first, length);
        pop(3);
        break;
    }
    case 5:
        arg(0) = s.loadWord(nullCheck(Addr(arg(0))));
        break;
    case 6: {
        Addr a = nullCheck(Addr(arg(0)));
        s.check(a, 8);
        arg(0) = s.loadWord(a + 4);
        break;
    }
    case 7:
    case 8: {
        Word value = arg(0);
        if (value < 0)
            invalidArgument();
        Addr a = nullCheck(Addr(arg(1)));
        s.check(a, 8);
        s.storeWord(function == 7 ? a : a + 4, value);
        pop(2);
        break;
    }
    case 9:
    case 10: {
        bool equal = arg(3) == arg(1) && arg(2) == arg(0);
        arg(3) = (function == 9) == equal ? 1 : 0;
        pop(3);
        break;
    }
    case 11:
    case 12: {
        Word first = arg(0);
        if (first < 0)
            invalidArgument();
        storeRange(arg(1), first, -1);
        pop(2);
        break;
    }
    default:
        unknownNativeFunction("Range:");
    }
}

}  // namespace vm
