#include "CAppsString.h"

#include <QChar>

#include <cstring>

using vm::KErrNull;
using vm::raiseVmError;

namespace {

unsigned short lowerUnit(unsigned short u)
{
    char32_t c = QChar::toLower(char32_t(u));
    return c > 0xFFFF ? u : (unsigned short)c;
}

unsigned short upperUnit(unsigned short u)
{
    char32_t c = QChar::toUpper(char32_t(u));
    return c > 0xFFFF ? u : (unsigned short)c;
}

bool isSpaceUnit(unsigned short u)
{
    return QChar::isSpace(char32_t(u));
}

bool sameUnit(unsigned short a, unsigned short b, bool caseSensitive)
{
    return a == b || (!caseSensitive && lowerUnit(a) == lowerUnit(b));
}

int digitValue(unsigned short u)
{
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'z')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'Z')
        return u - 'A' + 10;
    return 99;
}

// Digits from the lowest upwards into a buffer of 65 units.
template <typename Unsigned>
CAppsString decimal(bool negative, Unsigned magnitude)
{
    unsigned short digits[65];
    int i = 65;
    do {
        digits[--i] = (unsigned short)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative)
        digits[--i] = '-';
    return CAppsString(digits + i, 65 - i);
}

}  // namespace

CAppsString::CAppsString(const char* text)
{
    if (!text)
        raiseVmError(KErrNull);
    *this += text;
}

CAppsString::CAppsString(const char* text, int length)
{
    if (!text)
        raiseVmError(KErrNull);
    if (length < 0)
        raiseVmError(vm::KErrInvalidArgument);
    setCapacity(length);
    for (int i = 0; i < length; ++i)
        append((unsigned char)text[i]);
}

CAppsString::CAppsString(std::string_view text)
{
    setCapacity(int(text.size()));
    for (unsigned char c : text)
        append(c);
}

CAppsString::CAppsString(const unsigned short* text)
{
    if (!text)
        raiseVmError(KErrNull);
    while (*text)
        append(*text++);
}

CAppsString::CAppsString(const unsigned short* units, int count)
{
    if (!units && count > 0)
        raiseVmError(KErrNull);
    if (count < 0)
        raiseVmError(vm::KErrInvalidArgument);
    setCapacity(count);
    for (int i = 0; i < count; ++i)
        append(units[i]);
}

CAppsString::CAppsString(std::u16string_view text)
{
    setCapacity(int(text.size()));
    for (char16_t c : text)
        append(c);
}

CAppsString::CAppsString(const CAppsString& other, int start, int count)
{
    appendPart(other, start, count);
}

CAppsString& CAppsString::operator+=(const char* text)
{
    if (!text)
        raiseVmError(KErrNull);
    for (; *text; ++text)
        append((unsigned char)*text);
    return *this;
}

bool CAppsString::operator==(const CAppsString& other) const
{
    return count() == other.count() &&
           (count() == 0 || std::memcmp(data(), other.data(), size_t(count()) * 2) == 0);
}

CAppsString CAppsString::number(int value)
{
    return decimal(value < 0, value < 0 ? 0u - unsigned(value) : unsigned(value));
}

CAppsString CAppsString::number(long value)
{
    return number((long long)value);
}

CAppsString CAppsString::number(long long value)
{
    using U = unsigned long long;
    return decimal(value < 0, value < 0 ? U(0) - U(value) : U(value));
}

CAppsString CAppsString::repeated(int times) const
{
    if (times < 0)
        raiseVmError(vm::KErrInvalidArgument);
    CAppsString r;
    long long total = (long long)count() * times;
    if (total > 0x7FFFFFF0LL)
        raiseVmError(vm::KErrVm, "Out of memory");
    r.setCapacity(int(total));
    for (int k = 0; k < times; ++k)
        r.appendAll(*this);
    return r;
}

void CAppsString::insert(int position, const CAppsString& text)
{
    if (position < 0 || position > count())
        raiseVmError(vm::KErrIndexOutOfBounds);
    CAppsString r;
    r.setCapacity(count() + text.count());
    r.appendPart(*this, 0, position);
    r.appendAll(text);
    r.appendPart(*this, position, count() - position);
    swap(r);
}

CAppsString CAppsString::join(const Vec<CAppsString>& parts, const CAppsString& separator)
{
    CAppsString r;
    for (int i = 0; i < parts.count(); ++i) {
        if (i > 0)
            r += separator;
        r += parts[i];
    }
    return r;
}

bool CAppsString::matchesAt(int index, const CAppsString& text, bool caseSensitive) const
{
    const unsigned short* p = data() + index;
    const unsigned short* q = text.data();
    for (int i = 0; i < text.count(); ++i)
        if (!sameUnit(p[i], q[i], caseSensitive))
            return false;
    return true;
}

int CAppsString::find(const CAppsString& text, int from, bool caseSensitive, bool backwards) const
{
    const int lastStart = count() - text.count();
    if (backwards) {
        for (int i = from < lastStart ? from : lastStart; i >= 0; --i)
            if (matchesAt(i, text, caseSensitive))
                return i;
    } else {
        for (int i = from; i <= lastStart; ++i)
            if (matchesAt(i, text, caseSensitive))
                return i;
    }
    return -1;
}

int CAppsString::indexOf(const CAppsString& text, int from, bool caseSensitive) const
{
    if (from < 0 || from > count())
        raiseVmError(vm::KErrIndexOutOfBounds);
    return find(text, from, caseSensitive, false);
}

int CAppsString::lastIndexOf(const CAppsString& text, int from, bool caseSensitive) const
{
    if (from == -1)
        from = count();
    if (from < 0 || from > count())
        raiseVmError(vm::KErrIndexOutOfBounds);
    return find(text, from, caseSensitive, true);
}

bool CAppsString::startsWith(const CAppsString& text, bool caseSensitive) const
{
    return text.count() <= count() && matchesAt(0, text, caseSensitive);
}

bool CAppsString::endsWith(const CAppsString& text, bool caseSensitive) const
{
    return text.count() <= count() && matchesAt(count() - text.count(), text, caseSensitive);
}

bool CAppsString::equals(const CAppsString& other, bool caseSensitive) const
{
    return count() == other.count() && matchesAt(0, other, caseSensitive);
}

int CAppsString::compare(const CAppsString& other, bool caseSensitive) const
{
    const int common = count() < other.count() ? count() : other.count();
    for (int i = 0; i < common; ++i) {
        unsigned short a = data()[i], b = other.data()[i];
        if (!caseSensitive) {
            a = lowerUnit(a);
            b = lowerUnit(b);
        }
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (count() == other.count())
        return 0;
    return count() < other.count() ? -1 : 1;
}

CAppsString& CAppsString::trim()
{
    trimTrailing();
    return trimLeading();
}

CAppsString& CAppsString::trimLeading()
{
    int i = 0;
    while (i < count() && isSpaceUnit(data()[i]))
        ++i;
    if (i > 0) {
        CAppsString r(*this, i, count() - i);
        swap(r);
    }
    return *this;
}

CAppsString& CAppsString::trimTrailing()
{
    int i = count();
    while (i > 0 && isSpaceUnit(data()[i - 1]))
        --i;
    removeLast(count() - i);
    return *this;
}

CAppsString& CAppsString::toLowerCase()
{
    for (unsigned short& u : *this)
        u = lowerUnit(u);
    return *this;
}

CAppsString& CAppsString::toUpperCase()
{
    for (unsigned short& u : *this)
        u = upperUnit(u);
    return *this;
}

Vec<CAppsString> CAppsString::split(const CAppsString& separator, bool caseSensitive) const
{
    Vec<CAppsString> pieces;
    if (separator.isEmpty()) {
        if (!isEmpty())
            raiseVmError(vm::KErrInvalidArgument);
        return pieces;
    }
    int from = 0;
    for (int at = find(separator, 0, caseSensitive, false); at >= 0;
         at = find(separator, from, caseSensitive, false)) {
        if (at > from)
            pieces.append(CAppsString(*this, from, at - from));
        from = at + separator.count();
    }
    if (from < count())
        pieces.append(CAppsString(*this, from, count() - from));
    return pieces;
}

int CAppsString::replace(const CAppsString& before, const CAppsString& after, bool caseSensitive)
{
    if (before.isEmpty())
        return 0;
    CAppsString r;
    int from = 0, n = 0;
    for (int at = find(before, 0, caseSensitive, false); at >= 0;
         at = find(before, from, caseSensitive, false)) {
        r.appendPart(*this, from, at - from);
        r.appendAll(after);
        from = at + before.count();
        ++n;
    }
    if (n > 0) {
        r.appendPart(*this, from, count() - from);
        swap(r);
    }
    return n;
}

TUint64 CAppsString::parse(int radix) const
{
    if (radix < 2 || radix > 32)
        raiseVmError(vm::KErrInvalidArgument);
    int i = 0;
    while (i < count() && isSpaceUnit(data()[i]))
        ++i;
    bool negative = false;
    if (i < count() && (data()[i] == '-' || data()[i] == '+'))
        negative = data()[i++] == '-';
    TUint64 value = 0;
    int digits = 0;
    for (; i < count() && digitValue(data()[i]) < radix; ++i, ++digits)
        value = value * TUint64(radix) + TUint64(digitValue(data()[i]));
    if (digits == 0)
        raiseVmError(vm::KErrDataFormat);
    return negative ? TUint64(0) - value : value;
}

TInt32 CAppsString::toInt32(int radix) const
{
    return TInt32(TUint32(parse(radix)));
}

TInt64 CAppsString::toInt64(int radix) const
{
    return TInt64(parse(radix));
}

std::u16string CAppsString::toU16() const
{
    return std::u16string(reinterpret_cast<const char16_t*>(data()), size_t(count()));
}

std::string CAppsString::toLatin1() const
{
    std::string s;
    s.reserve(size_t(count()));
    for (unsigned short u : *this)
        s.push_back(char(u & 0xFF));
    return s;
}
