#include "ORaw.h"

#include <cmath>
#include <string>

#include "VMError.h"

namespace vm {
namespace ORaw {

namespace {

constexpr TUint64 kFractionMask = 0xFFFFFFFFu;

[[noreturn]] void mathError()
{
    raiseVmError(KErrMath);
}

}  // namespace

TInt64 toFixed(TReal aReal)
{
    if (std::isnan(aReal))
        mathError();
    if (aReal >= 0x1p31)
        return FIXED_MAX;
    if (aReal <= -0x1p31)
        return FIXED_MIN;
    // |aReal * 2^32| < 2^63: the conversion is in range.
    return TInt64(aReal * 0x1p32);
}

TInt64 divide(TInt64 a, TInt64 b)
{
    if (b == 0)
        mathError();
    return toFixed(TReal(a) / TReal(b));
}

TInt64 pow(TInt64 x, TInt64 y)
{
    if (y == 0)
        return one;
    if (x == 0) {
        if (y < 0)
            mathError();
        return 0;
    }
    bool negative = false;
    if (x < 0) {
        if ((TUint64(y) & kFractionMask) != 0)
            mathError();
        negative = (TUint64(y) >> 32) & 1;
    }
    TReal r = std::pow(std::fabs(toReal(x)), std::fabs(toReal(y)));
    if (y < 0)
        r = 1.0 / r;
    return toFixed(negative ? -r : r);
}

TInt64 negate(TInt64 x)
{
    if (x == FIXED_MAX)
        return FIXED_MIN;
    if (x == FIXED_MIN)
        return FIXED_MAX;
    return -x;
}

TInt64 abs(TInt64 x)
{
    if (x == FIXED_MIN)
        return FIXED_MAX;
    return x < 0 ? -x : x;
}

}  // namespace ORaw

OString fixedToText(TInt64 aRaw, int aDecimals)
{
    if (aDecimals <= -2)
        raiseVmError(KErrInvalidArgument);
    std::string text;
    if (aRaw < 0)
        text += '-';
    TUint64 mag = aRaw < 0 ? TUint64(0) - TUint64(aRaw) : TUint64(aRaw);
    TUint64 integer = mag >> 32;  // at most 2^31 (FIXED_MIN)
    TUint64 fraction = mag & 0xFFFFFFFFu;

    std::string digits;
    int padding = 0;  // zeros after the digits
    if (aDecimals == -1) {
        do {
            fraction *= 10;
            digits += char('0' + (fraction >> 32));
            fraction &= 0xFFFFFFFFu;
        } while (fraction != 0);
    } else {
        // 32 fraction bits end after at most 32 decimal digits; beyond them
        // every digit, the rounding digit included, is 0.
        int produced = aDecimals < 32 ? aDecimals : 32;
        padding = aDecimals - produced;
        for (int i = 0; i < produced; ++i) {
            fraction *= 10;
            digits += char('0' + (fraction >> 32));
            fraction &= 0xFFFFFFFFu;
        }
        if (((fraction * 10) >> 32) >= 5) {
            int i = int(digits.size()) - 1;
            for (; i >= 0; --i) {
                if (digits[size_t(i)] != '9') {
                    ++digits[size_t(i)];
                    break;
                }
                digits[size_t(i)] = '0';
            }
            if (i < 0) {
                if (integer == 0x7FFFFFFF)
                    digits.assign(digits.size(), '9');
                else
                    ++integer;
            }
        }
    }
    text += std::to_string(integer);
    if (aDecimals != 0) {
        text += '.';
        text += digits;
    }
    OString result(text.c_str());
    if (padding > 0)
        result.append(OString::filled(u'0', padding));
    return result;
}

TInt64 parseFixed(const OString& aText)
{
    OString trimmed(aText);
    trimmed.trim();
    std::u16string_view s = trimmed.view();
    size_t i = 0;
    while (i < s.size() && s[i] == u'+')
        ++i;
    bool negative = false;
    if (i < s.size() && s[i] == u'-') {
        negative = true;
        ++i;
    }
    auto isDigit = [&](size_t k) { return k < s.size() && s[k] >= u'0' && s[k] <= u'9'; };
    if (!isDigit(i))
        raiseVmError(KErrDataFormat);
    TUint64 integer = 0;
    for (; isDigit(i); ++i) {
        integer = integer * 10 + TUint64(s[i] - u'0');
        if (integer > 0x7FFFFFFF)
            return negative ? ORaw::FIXED_MIN : ORaw::FIXED_MAX;
    }
    TUint64 fraction = 0;
    if (i < s.size() && s[i] == u'.') {
        ++i;
        if (!isDigit(i))
            raiseVmError(KErrDataFormat);
        // The first 32 digits as an integer P < 10^32; the fraction is
        // floor(P / 10^32 * 2^32) = floor(P / 5^32).
        unsigned __int128 p = 0;
        int count = 0;
        for (; isDigit(i); ++i) {
            if (count < 32) {
                p = p * 10 + unsigned(s[i] - u'0');
                ++count;
            }
        }
        unsigned __int128 fivePow32 = 1;
        for (int k = 0; k < 32; ++k) {
            fivePow32 *= 5;
            if (k >= count)
                p *= 10;
        }
        fraction = TUint64(p / fivePow32);
    }
    TInt64 raw = TInt64((integer << 32) | fraction);
    return negative ? -raw : raw;
}

}  // namespace vm
