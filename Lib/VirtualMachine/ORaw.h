// ORaw: fixed-point arithmetic on raw values. A fixed value is a signed
// 64-bit two's-complement number with 32 fraction bits (value = raw / 2^32).
// Arithmetic saturates at FIXED_MAX / FIXED_MIN instead of wrapping; domain
// errors raise code 8 (MathException) with an empty message. In bytecode a
// fixed value is two words, the low (fraction) word first.
#pragma once

#include <cstdint>

#include "../Containers/OString.h"
#include "Types.h"

namespace vm {
namespace ORaw {

constexpr TInt64 FIXED_MAX = INT64_MAX;
constexpr TInt64 FIXED_MIN = INT64_MIN;
constexpr TInt64 one = 0x0000000100000000LL;
constexpr TInt64 pi = 0x00000003243F6A89LL;
constexpr TInt64 e = 0x00000002B7E15163LL;
constexpr TInt64 epsilon = 0x0000000000000001LL;
constexpr TInt64 degreesToRadians = 0x000000000477D1A8LL;
constexpr TInt64 radiansToDegrees = 0x000000394BB834C7LL;
constexpr TInt64 twoPi = 0x00000006487ED511LL;

// real * 2^32 truncated toward zero; real >= 2^31 gives FIXED_MAX, real <=
// -2^31 FIXED_MIN (infinities included); NaN raises code 8.
TInt64 toFixed(TReal aReal);
inline TReal toReal(TInt64 aRaw) { return TReal(aRaw) * 0x1p-32; }
inline TInt64 fromInt(TInt32 aValue) { return TInt64(TUint64(TInt64(aValue)) << 32); }

// The words of a fixed value as bytecode holds them.
inline TInt32 lowWord(TInt64 aRaw) { return TInt32(TUint32(TUint64(aRaw))); }
inline TInt32 highWord(TInt64 aRaw) { return TInt32(TUint32(TUint64(aRaw) >> 32)); }
inline TInt64 fromWords(TInt32 aLow, TInt32 aHigh)
{
    return TInt64((TUint64(TUint32(aHigh)) << 32) | TUint32(aLow));
}

// Inline: the interpreter runs these itself for the Fixed natives.
inline TInt64 add(TInt64 a, TInt64 b)
{
    TInt64 r;
    if (__builtin_add_overflow(a, b, &r)) [[unlikely]]
        return a < 0 ? FIXED_MIN : FIXED_MAX;
    return r;
}
inline TInt64 subtract(TInt64 a, TInt64 b)
{
    TInt64 r;
    if (__builtin_sub_overflow(a, b, &r)) [[unlikely]]
        return a < 0 ? FIXED_MIN : FIXED_MAX;
    return r;
}
// |x| without overflow: FIXED_MIN has the magnitude 2^63.
inline TUint64 magnitude(TInt64 x) { return x < 0 ? TUint64(0) - TUint64(x) : TUint64(x); }
// Exact product of the magnitudes truncated to 32 fraction bits, signed by
// the product; saturates when it does not fit.
inline TInt64 multiply(TInt64 a, TInt64 b)
{
    bool negative = (a < 0) != (b < 0);
    unsigned __int128 m = ((unsigned __int128)magnitude(a) * magnitude(b)) >> 32;
    if (negative) {
        if (m > (unsigned __int128)1 << 63) [[unlikely]]
            return FIXED_MIN;
        return TInt64(TUint64(0) - TUint64(m));
    }
    if (m > (unsigned __int128)INT64_MAX) [[unlikely]]
        return FIXED_MAX;
    return TInt64(m);
}
// b == 0 raises code 8; otherwise toFixed(a / b in doubles).
TInt64 divide(TInt64 a, TInt64 b);
// y == 0 gives one; 0 to a negative power and a negative base to a power
// with fraction bits raise code 8. A result too small for 32 fraction bits
// (including a double underflow to 0) is 0: the nearest fixed value toward
// zero, as every other conversion truncates.
TInt64 pow(TInt64 x, TInt64 y);
// Saturation is symmetric: -FIXED_MAX is FIXED_MIN and -FIXED_MIN FIXED_MAX.
TInt64 negate(TInt64 x);
TInt64 abs(TInt64 x);

}  // namespace ORaw

// The decimal text of a fixed value. aDecimals -1: every digit of the exact
// fraction (at least one); aDecimals >= 0: that many digits, rounded half up
// on the magnitude (a carry into an integer part of 2147483647 turns the
// digits to 9 instead). aDecimals <= -2 raises code 6.
OString fixedToText(TInt64 aRaw, int aDecimals);

// Parses [+...][-]digits[.digits] after trimming white space; trailing text
// is ignored. An integer part above 2147483647 saturates. The fraction is the
// exact decimal value truncated to 32 bits (digits beyond the 32nd cannot
// change it, so they are skipped). No integer digit, or a "." without a digit
// after it, raises code 4 with an empty message.
TInt64 parseFixed(const OString& aText);

}  // namespace vm
