// Fixed, Math and Number native groups.
//
// A fixed value on the stack is two words, the low (fraction) word in the
// lower slot; `a` is the pair at top-3/top-2, `b` the pair at top-1/top. A
// fixed variable is the same two words at an address, accessed only through
// the checked accessors of the space.
#include <cmath>
#include <cstring>

#include "ORaw.h"
#include "ObjectModel.h"
#include "Random.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

using namespace ORaw;

TInt64 loadFixed(VMSpace& space, Word address)
{
    TInt64 v;
    std::memcpy(&v, space.ptr(nullCheck(Addr(address)), 8), 8);
    return v;
}

void storeFixed(VMSpace& space, Word address, TInt64 value)
{
    std::memcpy(space.ptr(nullCheck(Addr(address)), 8), &value, 8);
}

[[noreturn]] void mathError()
{
    raiseVmError(KErrMath);
}

TInt64 naturalLog(TInt64 x)
{
    if (x <= 0)
        mathError();
    return toFixed(std::log(toReal(x)));
}

// lo + u * span, u a draw taken as 32 fraction bits (a value in [0, 1)); span
// >= 0, so the product is at most span and the sum stays in [lo, lo + span].
TInt64 randomIn(VirtualMachine& vm, TInt64 lo, TInt64 span)
{
    TInt64 u = TInt64(drawRandom(vm));
    return add(lo, multiply(u, span));
}

TInt64 randomFixed(VirtualMachine& vm, TInt64 x, TInt64 y)
{
    TInt64 lo = x < y ? x : y;
    TInt64 hi = x < y ? y : x;
    TInt64 span;
    TInt64 r;
    if (!__builtin_sub_overflow(hi, lo, &span)) {
        r = randomIn(vm, lo, span);
    } else {
        // lo < 0 < hi. The span of [lo, 0] overflows only for lo ==
        // FIXED_MIN; it is then taken as FIXED_MAX, which keeps v1 in range.
        TInt64 v1 = randomIn(vm, lo, subtract(0, lo));
        TInt64 v2 = randomIn(vm, 0, hi);
        r = (drawRandom(vm) & 1) ? v1 : v2;
    }
    if (r < lo || r > hi)
        raiseVmError(KErrAssertion);
    return r;
}

}  // namespace

void VirtualMachine::fixedNative(int function)
{
    VMSpace& s = space();
    auto pairA = [&] { return fromWords(arg(3), arg(2)); };
    auto pairB = [&] { return fromWords(arg(1), arg(0)); };
    // Replaces the words from arg(k) up with the fixed value x (two words) and
    // moves top to its high word.
    auto setPairAt = [&](int k, TInt64 x) {
        arg(k) = lowWord(x);
        arg(k - 1) = highWord(x);
        pop(k - 1);
    };
    auto pushFixed = [&](TInt64 x) {
        push(lowWord(x));
        push(highWord(x));
    };
    switch (function) {
    case 1: {
        TInt64 x = loadFixed(s, arg(0));
        arg(0) = lowWord(x);
        push(highWord(x));
        break;
    }
    case 2:
    case 3: {
        Word v = function == 2 ? Word(int8_t(arg(0))) : arg(0);
        arg(0) = 0;
        push(v);
        break;
    }
    case 4: {
        TInt64 x = parseFixed(stringOf(heap(), Addr(arg(0))));
        arg(0) = lowWord(x);
        push(highWord(x));
        break;
    }
    case 5: setPairAt(1, ORaw::abs(pairB())); break;
    case 6: setPairAt(1, negate(pairB())); break;
    case 7: setPairAt(3, add(pairA(), pairB())); break;
    case 8: setPairAt(3, subtract(pairA(), pairB())); break;
    case 9: setPairAt(3, multiply(pairA(), pairB())); break;
    case 10: setPairAt(3, divide(pairA(), pairB())); break;
    case 11: setPairAt(3, ORaw::pow(pairA(), pairB())); break;
    case 12: case 13: case 14: case 15: {
        Word p = arg(2);
        TInt64 a = loadFixed(s, p);
        TInt64 b = pairB();
        TInt64 r = function == 12 ? add(a, b)
                 : function == 13 ? subtract(a, b)
                 : function == 14 ? multiply(a, b)
                                  : divide(a, b);
        storeFixed(s, p, r);
        pop(3);
        break;
    }
    case 16:
    case 17: {
        TInt64 a = loadFixed(s, arg(0));
        storeFixed(s, arg(0), function == 16 ? add(a, one) : subtract(a, one));
        pop(1);
        break;
    }
    case 18: case 19: case 20: case 21: case 22: case 23: {
        TInt64 a = pairA(), b = pairB();
        bool r = false;
        switch (function) {
        case 18: r = a == b; break;
        case 19: r = a != b; break;
        case 20: r = a < b; break;
        case 21: r = a <= b; break;
        case 22: r = a > b; break;
        case 23: r = a >= b; break;
        }
        arg(3) = r ? 1 : 0;
        pop(3);
        break;
    }
    case 24: {
        OString text = fixedToText(loadFixed(s, arg(1)), arg(0));
        arg(1) = Word(newStringObject(heap(), text));
        pop(1);
        break;
    }
    case 25: {
        OString text = fixedToText(loadFixed(s, arg(0)), -1);
        arg(0) = Word(newStringObject(heap(), text));
        break;
    }
    case 26: case 27: case 28: {
        // high is the floor of the value, low the fraction bits above it.
        TUint32 low = TUint32(arg(1));
        TInt32 high = arg(0);
        TInt32 r = high;
        if (function == 26) {
            // Halves away from zero: up from .5 for positive values, only
            // above .5 for negative ones (-2.5 has floor -3 and low .5).
            bool up = high >= 0 ? low >= 0x80000000u : low > 0x80000000u;
            if (up && high != INT32_MAX)
                r = high + 1;
        } else if (function == 27) {
            if (low != 0 && high != INT32_MAX)
                r = high + 1;
        }
        arg(1) = r;
        pop(1);
        break;
    }
    case 29: pushFixed(FIXED_MIN); break;
    case 30: pushFixed(FIXED_MAX); break;
    default: unknownNativeFunction("Fixed:");
    }
}

void VirtualMachine::mathNative(int function)
{
    auto top1 = [&] { return fromWords(arg(1), arg(0)); };
    auto setTop = [&](TInt64 x) {
        arg(1) = lowWord(x);
        arg(0) = highWord(x);
    };
    switch (function) {
    case 1: setTop(toFixed(std::sin(toReal(top1())))); break;
    case 2: setTop(toFixed(std::cos(toReal(top1())))); break;
    case 3: {
        TInt64 r = toFixed(std::tan(toReal(top1())));
        if (r == FIXED_MAX || r == FIXED_MIN)
            mathError();
        setTop(r);
        break;
    }
    case 4:
    case 5: {
        TInt64 x = top1();
        if (x < -one || x > one)
            mathError();
        TReal v = toReal(x);
        setTop(toFixed(function == 4 ? std::asin(v) : std::acos(v)));
        break;
    }
    case 6: setTop(toFixed(std::atan(toReal(top1())))); break;
    case 7: {
        TInt64 x = top1();
        // A little rounding slack above 2pi is clamped; more is an error.
        if (magnitude(x) > TUint64(twoPi)) {
            if (magnitude(x) > 0x00000006487EFFFFull)
                mathError();
            x = x < 0 ? -twoPi : twoPi;
        }
        setTop(multiply(x, radiansToDegrees));
        break;
    }
    case 8: {
        TInt64 x = top1();
        if (magnitude(x) > TUint64(360 * one))
            mathError();
        setTop(multiply(x, degreesToRadians));
        break;
    }
    case 9: {
        TInt64 x = top1();
        if (x < 0)
            mathError();
        setTop(toFixed(std::sqrt(toReal(x))));
        break;
    }
    case 10: {
        // Both logarithms are taken as function 11 takes them, so a or b <= 0
        // raises code 8 rather than dividing an infinity.
        TInt64 a = fromWords(arg(3), arg(2));
        TInt64 b = top1();
        if (b == 0 || b == one || b == -one)
            mathError();
        TInt64 r = a == b ? one : divide(naturalLog(a), naturalLog(b));
        arg(3) = lowWord(r);
        arg(2) = highWord(r);
        pop(2);
        break;
    }
    case 11: setTop(naturalLog(top1())); break;
    case 12: {
        TInt64 x = arg(1), y = arg(0);
        TInt64 lo = x < y ? x : y;
        TInt64 hi = x < y ? y : x;
        TUint64 span = TUint64(hi - lo + 1);  // 1 .. 2^32
        arg(1) = Word(lo + TInt64(drawRandom(*this) % span));
        pop(1);
        break;
    }
    case 13: {
        TInt64 r = randomFixed(*this, fromWords(arg(3), arg(2)), top1());
        arg(3) = lowWord(r);
        arg(2) = highWord(r);
        pop(2);
        break;
    }
    case 14: case 15: case 17: case 18: {
        Word x = arg(1), y = arg(0);
        if (function == 14 || function == 17) {
            x = int8_t(x);
            y = int8_t(y);
        }
        bool minimum = function < 16;
        arg(1) = minimum ? (x < y ? x : y) : (x < y ? y : x);
        pop(1);
        break;
    }
    case 16:
    case 19: {
        TInt64 a = fromWords(arg(3), arg(2)), b = top1();
        TInt64 r = function == 16 ? (a < b ? a : b) : (a < b ? b : a);
        arg(3) = lowWord(r);
        arg(2) = highWord(r);
        pop(2);
        break;
    }
    case 20:
    case 21:
    case 22: {
        TInt64 c = function == 20 ? e : function == 21 ? pi : epsilon;
        push(lowWord(c));
        push(highWord(c));
        break;
    }
    default: unknownNativeFunction("Math:");
    }
}

void VirtualMachine::numberNative(int function)
{
    switch (function) {
    case 1: {
        // Only a byte value <= 0 changes (to its negation, -128 giving 128).
        Word b = int8_t(arg(0));
        if (b <= 0)
            arg(0) = -b;
        break;
    }
    case 2: {
        Word v = arg(0);
        arg(0) = v == INT32_MIN ? INT32_MAX : (v < 0 ? -v : v);
        break;
    }
    case 3: {
        OString text = OString::number(TUint32(arg(1)), arg(0));
        arg(1) = Word(newStringObject(heap(), text));
        pop(1);
        break;
    }
    default: unknownNativeFunction("Number:");
    }
}

}  // namespace vm
