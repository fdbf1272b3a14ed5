#include "OString.h"

#include <QChar>
#include <QString>

#include <cstring>
#include <functional>
#include <unordered_map>

#include "../VirtualMachine/VMError.h"
#include "../VirtualMachine/VMSpace.h"
#include "CAppsString.h"

using vm::raiseVmError;

// A resolved range: units start..end inclusive; empty when end < start.
struct OString::Span {
    int start;
    int end;
    bool empty() const { return end < start; }
    int size() const { return empty() ? 0 : end - start + 1; }
};

namespace {

enum Which { EFirst, ELast, EAll };

std::u16string lowered(std::u16string_view aText)
{
    std::u16string out(aText.size(), u'\0');
    for (size_t i = 0; i < aText.size(); ++i)
        out[i] = OString::lower(aText[i]);
    return out;
}

// The text as searched: itself, or lower-cased when case is ignored.
struct Folded {
    std::u16string storage;
    std::u16string_view text;
    Folded(std::u16string_view aText, bool aExact)
    {
        if (aExact) {
            text = aText;
        } else {
            storage = lowered(aText);
            text = storage;
        }
    }
};

void copyUnits(char16_t* aTo, const char16_t* aFrom, size_t aCount)
{
    if (aCount)
        std::memmove(aTo, aFrom, aCount * sizeof(char16_t));
}

int digitValue(char16_t aCh)
{
    if (aCh >= u'0' && aCh <= u'9')
        return aCh - u'0';
    if (aCh >= u'a' && aCh <= u'z')
        return aCh - u'a' + 10;
    if (aCh >= u'A' && aCh <= u'Z')
        return aCh - u'A' + 10;
    return 99;
}

}  // namespace

// ---------------------------------------------------------------------------
// Buffers

int OString::capacityFor(int aLength)
{
    long long c = (long long)aLength * 6 / 5;  // length * 1.2, truncated
    return c < 10 ? 10 : int(c);
}

int OString::checkedLength(long long aLength)
{
    if (aLength > kMaxLength)
        raiseVmError(vm::KErrVm, "Out of memory");
    return int(aLength);
}

vm::VMSpace* OString::space() const
{
    return pBuffer ? pBuffer->space : vm::VMSpace::current();
}

StringBuffer* OString::newBuffer(int aLength, vm::VMSpace* aSpace)
{
    KELVAR_ASSERT(aSpace != nullptr);
    int capacity = capacityFor(aLength);
    uint64_t bytes = bufferBytes(capacity);
    vm::Addr data = aSpace->allocBuffer(bytes);
    StringBuffer* buffer;
    try {
        buffer = new StringBuffer{data, 1, capacity, aLength, aSpace};
    } catch (...) {
        aSpace->freeBuffer(data, bytes);
        throw;
    }
    unitsOf(buffer)[aLength] = 0;
    return buffer;
}

void OString::release(StringBuffer* aBuffer)
{
    if (aBuffer && --aBuffer->refCount == 0) {
        aBuffer->space->freeBuffer(aBuffer->data, bufferBytes(aBuffer->capacity));
        delete aBuffer;
    }
}

bool OString::growInPlace(int aLength)
{
    const int capacity = capacityFor(aLength);
    if (!pBuffer->space->growBuffer(pBuffer->data, bufferBytes(pBuffer->capacity), bufferBytes(capacity)))
        return false;
    pBuffer->capacity = capacity;
    return true;
}

char16_t* OString::unitsOf(const StringBuffer* aBuffer)
{
    return aBuffer->space->raw<char16_t>(aBuffer->data);
}

bool OString::aliases(const char16_t* aPointer) const
{
    if (!pBuffer || !aPointer)
        return false;
    std::less_equal<const char16_t*> le;
    const char16_t* p = units();
    return le(p, aPointer) && le(aPointer, p + pBuffer->capacity);
}

void OString::assign(const char16_t* aSource, int aCount)
{
    if (aCount == 0) {
        clear();
        return;
    }
    if (pBuffer && pBuffer->refCount == 1 && (aCount <= pBuffer->capacity || growInPlace(aCount)) &&
        (aCount >= pBuffer->length || aCount > pBuffer->capacity / 2)) {
        char16_t* p = units();
        if (p != aSource)
            copyUnits(p, aSource, size_t(aCount));
        pBuffer->length = aCount;
        p[aCount] = 0;
        return;
    }
    StringBuffer* fresh = newBuffer(aCount, space());
    copyUnits(unitsOf(fresh), aSource, size_t(aCount));  // the old buffer is still alive
    release(pBuffer);
    pBuffer = fresh;
}

void OString::splice(int aPosition, int aRemoved, const char16_t* aSource, int aInserted)
{
    const int n = length();
    const int newLength = checkedLength((long long)n - aRemoved + aInserted);
    if (newLength == 0) {
        clear();
        return;
    }
    std::u16string copy;
    if (aInserted > 0 && aliases(aSource)) {
        copy.assign(aSource, size_t(aInserted));
        aSource = copy.data();
    }
    const int tail = n - aPosition - aRemoved;
    if (pBuffer && pBuffer->refCount == 1 && (newLength <= pBuffer->capacity || growInPlace(newLength)) &&
        (newLength >= n || newLength > pBuffer->capacity / 2)) {
        char16_t* p = units();
        copyUnits(p + aPosition + aInserted, p + aPosition + aRemoved, size_t(tail));
        copyUnits(p + aPosition, aSource, size_t(aInserted));
        pBuffer->length = newLength;
        p[newLength] = 0;
        return;
    }
    StringBuffer* fresh = newBuffer(newLength, space());
    char16_t* q = unitsOf(fresh);
    const char16_t* p = units();
    copyUnits(q, p, size_t(aPosition));
    copyUnits(q + aPosition, aSource, size_t(aInserted));
    copyUnits(q + aPosition + aInserted, p ? p + aPosition + aRemoved : nullptr, size_t(tail));
    release(pBuffer);
    pBuffer = fresh;
}

// ---------------------------------------------------------------------------
// Construction

OString::OString(const OString& aOther) noexcept : vm::GCObject(), pBuffer(aOther.pBuffer)
{
    if (pBuffer)
        ++pBuffer->refCount;
}

OString& OString::operator=(const OString& aOther) noexcept
{
    if (pBuffer == aOther.pBuffer)
        return *this;
    if (aOther.pBuffer)
        ++aOther.pBuffer->refCount;
    release(pBuffer);
    pBuffer = aOther.pBuffer;
    return *this;
}

OString& OString::operator=(OString&& aOther) noexcept
{
    if (this != &aOther) {
        release(pBuffer);
        pBuffer = aOther.pBuffer;
        aOther.pBuffer = nullptr;
    }
    return *this;
}

OString::~OString()
{
    release(pBuffer);
}

OString::OString(const char* aLatin1, int aStart)
{
    if (!aLatin1)
        raiseVmError(vm::KErrNull);
    size_t total = std::strlen(aLatin1);
    if (aStart < 0 || size_t(aStart) >= total)
        return;
    *this = fromLatin1(aLatin1 + aStart, checkedLength((long long)(total - size_t(aStart))));
}

OString::OString(const char16_t* aText)
{
    if (!aText)
        raiseVmError(vm::KErrNull);
    size_t n = std::char_traits<char16_t>::length(aText);
    assign(aText, checkedLength((long long)n));
}

OString::OString(const char16_t* aUnits, int aCount)
{
    if (aCount < 0)
        raiseVmError(vm::KErrInvalidArgument);
    if (!aUnits && aCount > 0)
        raiseVmError(vm::KErrNull);
    assign(aUnits, checkedLength(aCount));
}

OString::OString(std::u16string_view aText)
{
    assign(aText.data(), checkedLength((long long)aText.size()));
}

OString::OString(const QString& aText)
{
    assign(reinterpret_cast<const char16_t*>(aText.utf16()), checkedLength((long long)aText.size()));
}

OString::OString(const CAppsString& aText)
{
    assign(reinterpret_cast<const char16_t*>(aText.data()), aText.count());
}

OString OString::fromLatin1(const char* aBytes, int aCount)
{
    if (aCount < 0)
        raiseVmError(vm::KErrInvalidArgument);
    if (!aBytes && aCount > 0)
        raiseVmError(vm::KErrNull);
    OString s;
    if (aCount == 0)
        return s;
    s.pBuffer = newBuffer(checkedLength(aCount), vm::VMSpace::current());
    char16_t* p = s.units();
    for (int i = 0; i < aCount; ++i)
        p[i] = char16_t((unsigned char)aBytes[i]);
    return s;
}

OString OString::fromUtf8(const char* aBytes, int aCount)
{
    if (aCount < 0)
        raiseVmError(vm::KErrInvalidArgument);
    if (!aBytes && aCount > 0)
        raiseVmError(vm::KErrNull);
    if (aCount == 0)
        return OString();
    return OString(QString::fromUtf8(aBytes, aCount));
}

OString OString::filled(char16_t aCh, int aCount)
{
    if (aCount < 0)
        raiseVmError(vm::KErrInvalidArgument);
    OString s;
    if (aCount == 0)
        return s;
    s.pBuffer = newBuffer(checkedLength(aCount), vm::VMSpace::current());
    std::char_traits<char16_t>::assign(s.units(), size_t(aCount), aCh);
    return s;
}

OString OString::number(TInt32 aValue)
{
    char16_t digits[65];
    int i = 65;
    uint32_t v = aValue < 0 ? 0u - uint32_t(aValue) : uint32_t(aValue);
    do {
        digits[--i] = char16_t(u'0' + v % 10);
        v /= 10;
    } while (v);
    if (aValue < 0)
        digits[--i] = u'-';
    return OString(digits + i, 65 - i);
}

OString OString::number(TUint32 aValue, int aRadix)
{
    if (aRadix < 2 || aRadix > 36)
        return OString();
    static const char16_t kDigits[] = u"0123456789abcdefghijklmnopqrstuvwxyz";
    char16_t digits[65];
    int i = 65;
    do {
        digits[--i] = kDigits[aValue % TUint32(aRadix)];
        aValue /= TUint32(aRadix);
    } while (aValue);
    return OString(digits + i, 65 - i);
}

OString OString::substring(Range aRange) const
{
    Span s = resolveSubstring(aRange);
    if (s.empty())
        return OString();
    if (s.start == 0 && s.end == length() - 1)
        return *this;
    return OString(units() + s.start, s.size());
}

OString OString::everyNth(int aStep) const
{
    if (aStep <= 0)
        raiseVmError(vm::KErrInvalidArgument);
    return everyNth(Range{0, -1}, aStep);
}

OString OString::everyNth(Range aRange, int aStep) const
{
    if (aStep <= 0)
        raiseVmError(vm::KErrInvalidArgument);
    Span s = resolve(aRange, true);
    if (s.empty())
        return OString();
    if (aStep == 1)
        return substring(aRange);
    std::u16string out;
    const char16_t* p = units();
    for (long long i = s.start; i <= s.end; i += aStep)
        out.push_back(p[i]);
    return OString(std::u16string_view(out));
}

OString OString::concat(const OString& aOther) const
{
    OString r(*this);
    r.append(aOther);
    return r;
}

OString OString::repeated(int aTimes) const
{
    OString r(*this);
    r.repeat(aTimes);
    return r;
}

Vec<OString> OString::split(const OString& aSeparator, bool aExact) const
{
    Vec<OString> pieces;
    for (Range r : splitRanges(aSeparator, aExact))
        pieces.append(OString(units() + r.start, r.length));
    return pieces;
}

Vec<OString> OString::split(char16_t aSeparator, bool aExact) const
{
    Vec<OString> pieces;
    for (Range r : splitRanges(aSeparator, aExact))
        pieces.append(OString(units() + r.start, r.length));
    return pieces;
}

std::vector<OString::Range> OString::splitRanges(const OString& aSeparator, bool aExact) const
{
    return splitBy(aSeparator.view(), aExact);
}

std::vector<OString::Range> OString::splitRanges(char16_t aSeparator, bool aExact) const
{
    return splitBy(std::u16string_view(&aSeparator, 1), aExact);
}

std::vector<OString::Range> OString::splitBy(std::u16string_view aSeparator, bool aExact) const
{
    std::vector<Range> pieces;
    if (aSeparator.empty()) {
        if (!isEmpty())
            raiseVmError(vm::KErrInvalidArgument);
        return pieces;
    }
    Folded text(view(), aExact);
    Folded separator(aSeparator, aExact);
    size_t from = 0;
    bool found = false;
    for (;;) {
        size_t at = text.text.find(separator.text, from);
        if (at == std::u16string_view::npos)
            break;
        found = true;
        if (at > from)
            pieces.push_back(Range{int(from), int(at - from)});
        from = at + separator.text.size();
    }
    if (found && from < text.text.size())
        pieces.push_back(Range{int(from), int(text.text.size() - from)});
    return pieces;
}

// ---------------------------------------------------------------------------
// Conversions

QString OString::toQString() const
{
    return QString::fromUtf16(units(), length());
}

CAppsString OString::toCAppsString() const
{
    CAppsString out;
    out.setCapacity(length());
    for (char16_t u : view())
        out.append((unsigned short)u);
    return out;
}

std::string OString::toUtf8() const
{
    return toQString().toUtf8().toStdString();
}

std::string OString::toLatin1() const
{
    std::string out;
    out.reserve(size_t(length()));
    for (char16_t u : view())
        out.push_back(char(u & 0xFF));
    return out;
}

std::u16string OString::toU16() const
{
    return std::u16string(view());
}

std::u16string_view OString::view() const
{
    if (!pBuffer)
        return {};
    return std::u16string_view(units(), size_t(pBuffer->length));
}

// ---------------------------------------------------------------------------
// Ranges

OString::Span OString::whole() const
{
    return Span{0, length() - 1};
}

OString::Span OString::resolve(Range aRange, bool aAllowEmpty) const
{
    const int n = length();
    if (aRange.start < 0)
        raiseVmError(vm::KErrRange);
    long long end = aRange.length < 0 ? n - 1 : (long long)aRange.start + aRange.length - 1;
    if (aRange.start <= end && end < n)
        return Span{aRange.start, int(end)};
    if (aAllowEmpty && aRange.start == 0 && end == -1)
        return Span{0, -1};
    raiseVmError(vm::KErrRange);
}

OString::Span OString::resolveSubstring(Range aRange) const
{
    if (aRange.start >= 0 && aRange.length < 0 && aRange.start >= length())
        return Span{0, -1};
    return resolve(aRange, true);
}

// ---------------------------------------------------------------------------
// Queries

char16_t OString::at(int aIndex) const
{
    if (aIndex < 0 || aIndex >= length())
        raiseVmError(vm::KErrIndexOutOfBounds);
    return units()[aIndex];
}

char16_t OString::first() const
{
    return at(0);
}

char16_t OString::last() const
{
    return at(length() - 1);
}

vm::Addr OString::unitAddress(int aIndex)
{
    if (aIndex < 0 || aIndex >= length())
        raiseVmError(vm::KErrIndexOutOfBounds);
    if (pBuffer->refCount > 1)
        assign(units(), pBuffer->length);  // a private copy
    return pBuffer->data + vm::Addr(aIndex) * sizeof(char16_t);
}

int OString::find(std::u16string_view aPattern, Span aSpan, bool aExact, bool aLast) const
{
    if (aPattern.empty() || aSpan.empty() || aPattern.size() > size_t(aSpan.size()))
        return -1;
    Folded text(view().substr(size_t(aSpan.start), size_t(aSpan.size())), aExact);
    Folded pattern(aPattern, aExact);
    size_t at = aLast ? text.text.rfind(pattern.text) : text.text.find(pattern.text);
    return at == std::u16string_view::npos ? -1 : aSpan.start + int(at);
}

int OString::countIn(std::u16string_view aPattern, Span aSpan, bool aExact) const
{
    if (aPattern.empty() || aSpan.empty() || aPattern.size() > size_t(aSpan.size()))
        return 0;
    Folded text(view().substr(size_t(aSpan.start), size_t(aSpan.size())), aExact);
    Folded pattern(aPattern, aExact);
    int n = 0;
    for (size_t at = text.text.find(pattern.text); at != std::u16string_view::npos;
         at = text.text.find(pattern.text, at + pattern.text.size()))
        ++n;
    return n;
}

OString::Range OString::findRange(const OString& aPattern) const
{
    int at = find(aPattern.view(), whole(), false, false);
    return at < 0 ? Range{0, 0} : Range{at, aPattern.length()};
}

int OString::indexOf(const OString& aPattern, bool aExact) const
{
    return find(aPattern.view(), whole(), aExact, false);
}
int OString::indexOf(const OString& aPattern, Range aRange, bool aExact) const
{
    return find(aPattern.view(), resolve(aRange, true), aExact, false);
}
int OString::indexOf(char16_t aCh, bool aExact) const
{
    return find(std::u16string_view(&aCh, 1), whole(), aExact, false);
}
int OString::indexOf(char16_t aCh, Range aRange, bool aExact) const
{
    return find(std::u16string_view(&aCh, 1), resolve(aRange, true), aExact, false);
}
int OString::lastIndexOf(const OString& aPattern, bool aExact) const
{
    return find(aPattern.view(), whole(), aExact, true);
}
int OString::lastIndexOf(const OString& aPattern, Range aRange, bool aExact) const
{
    return find(aPattern.view(), resolve(aRange, true), aExact, true);
}
int OString::lastIndexOf(char16_t aCh, bool aExact) const
{
    return find(std::u16string_view(&aCh, 1), whole(), aExact, true);
}
int OString::lastIndexOf(char16_t aCh, Range aRange, bool aExact) const
{
    return find(std::u16string_view(&aCh, 1), resolve(aRange, true), aExact, true);
}
int OString::count(const OString& aPattern, bool aExact) const
{
    return countIn(aPattern.view(), whole(), aExact);
}
int OString::count(const OString& aPattern, Range aRange, bool aExact) const
{
    return countIn(aPattern.view(), resolve(aRange, true), aExact);
}
int OString::count(char16_t aCh, bool aExact) const
{
    return countIn(std::u16string_view(&aCh, 1), whole(), aExact);
}
int OString::count(char16_t aCh, Range aRange, bool aExact) const
{
    return countIn(std::u16string_view(&aCh, 1), resolve(aRange, true), aExact);
}

char16_t OString::mostFrequent(bool aExact) const
{
    return mostFrequent(Range{0, -1}, aExact);
}

char16_t OString::mostFrequent(Range aRange, bool aExact) const
{
    if (isEmpty())
        raiseVmError(vm::KErrDataFormat);
    // An empty range has no character to name: treated as an empty text.
    Span s = resolve(aRange, true);
    if (s.empty())
        raiseVmError(vm::KErrDataFormat);
    return mostFrequentIn(s, aExact);
}

char16_t OString::mostFrequentIn(Span aSpan, bool aExact) const
{
    // Occurrences of a single unit never overlap, so counting per (folded)
    // unit equals the count family's result for every position.
    Folded text(view().substr(size_t(aSpan.start), size_t(aSpan.size())), aExact);
    std::unordered_map<char16_t, int> counts;
    for (char16_t u : text.text)
        ++counts[u];
    size_t best = 0;
    int bestCount = 0;
    for (size_t i = 0; i < text.text.size(); ++i) {
        int c = counts[text.text[i]];
        if (c > bestCount) {
            bestCount = c;
            best = i;
        }
    }
    return text.text[best];
}

bool OString::startsWith(const OString& aOther, bool aExact) const
{
    const int n = length(), m = aOther.length();
    if (n == 0 || m == 0 || m > n)
        return false;
    return compareUnits(view().substr(0, size_t(m)), aOther.view(), aExact) == 0;
}

bool OString::endsWith(const OString& aOther, bool aExact) const
{
    const int n = length(), m = aOther.length();
    if (n == 0 || m == 0 || m > n)
        return false;
    return compareUnits(view().substr(size_t(n - m)), aOther.view(), aExact) == 0;
}

int OString::compareUnits(std::u16string_view aLeft, std::u16string_view aRight, bool aExact)
{
    size_t common = aLeft.size() < aRight.size() ? aLeft.size() : aRight.size();
    for (size_t i = 0; i < common; ++i) {
        char16_t a = aLeft[i], b = aRight[i];
        if (!aExact) {
            a = lower(a);
            b = lower(b);
        }
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (aLeft.size() == aRight.size())
        return 0;
    return aLeft.size() < aRight.size() ? -1 : 1;
}

int OString::compare(const OString& aOther, bool aExact) const
{
    if (pBuffer == aOther.pBuffer)
        return 0;
    return compareUnits(view(), aOther.view(), aExact);
}

bool OString::equals(const OString& aOther, bool aExact) const
{
    return length() == aOther.length() && compare(aOther, aExact) == 0;
}

int OString::compareRegion(const OString& aOther, Range aRange, bool aExact) const
{
    if (aRange.start == 0 && aRange.length < 0)
        return compare(aOther, aExact);
    // Against an empty text the general rule already gives 1 for a non-empty
    // region and 0 for the empty one.
    Span s = resolve(aRange, true);
    return compareUnits(view().substr(size_t(s.start), size_t(s.size())), aOther.view(), aExact);
}

bool OString::regionEquals(const OString& aOther, Range aRange, bool aExact) const
{
    if (aRange.start == 0 && aRange.length < 0)
        return equals(aOther, aExact);
    if (aOther.isEmpty())
        raiseVmError(vm::KErrInvalidArgument);
    Span s = resolve(aRange, true);
    return s.size() == aOther.length() &&
           compareUnits(view().substr(size_t(s.start), size_t(s.size())), aOther.view(), aExact) == 0;
}

TInt32 OString::toInt() const
{
    std::u16string_view v = view();
    size_t i = 0;
    while (i < v.size() && isSpace(v[i]))
        ++i;
    if (i == v.size())
        raiseVmError(vm::KErrDataFormat);
    if (v.size() - i >= 3 && v[i] == u'+' && v[i + 1] == u'-' && v[i + 2] == u'0')
        return 0;
    bool negative = false;
    if (v[i] == u'-') {
        negative = true;
        ++i;
    } else if (v[i] == u'+') {
        ++i;
    }
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < v.size() && v[i] >= u'0' && v[i] <= u'9'; ++i, ++digits)
        value = value * 10u + uint32_t(v[i] - u'0');
    if (digits == 0)
        raiseVmError(vm::KErrDataFormat);
    return TInt32(negative ? 0u - value : value);
}

TInt32 OString::toInt(int aRadix) const
{
    if (aRadix == 10)
        return toInt();
    if (aRadix < 2 || aRadix > 36)
        raiseVmError(vm::KErrInvalidArgument);
    std::u16string_view v = view();
    size_t i = 0;
    while (i < v.size() && isSpace(v[i]))
        ++i;
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < v.size() && digitValue(v[i]) < aRadix; ++i, ++digits)
        value = value * uint32_t(aRadix) + uint32_t(digitValue(v[i]));
    if (digits == 0)
        raiseVmError(vm::KErrDataFormat);
    return TInt32(value);
}

// ---------------------------------------------------------------------------
// Editing

void OString::insertTo(int aPosition, const OString& aSource, int aFirst, int aLast)
{
    if (aFirst == 0 && aLast == -1)
        return;
    const int m = aSource.length();
    if (aFirst < 0 || aLast < aFirst || aLast >= m)
        raiseVmError(vm::KErrRange);
    const int n = length();
    if (aPosition < 0 || aPosition > n)
        raiseVmError(vm::KErrIndexOutOfBounds);
    if (n == 0) {
        KELVAR_ASSERT(!pBuffer);
        if (aFirst == 0 && aLast == m - 1)
            *this = aSource;
        else
            assign(aSource.units() + aFirst, aLast - aFirst + 1);
        return;
    }
    splice(aPosition, 0, aSource.units() + aFirst, aLast - aFirst + 1);
}

void OString::insert(int aIndex, const OString& aText)
{
    if (aText.isEmpty())
        return;
    insertTo(aIndex, aText, 0, aText.length() - 1);
}

void OString::insert(int aIndex, char16_t aCh)
{
    if (aIndex < 0 || aIndex > length())
        raiseVmError(vm::KErrIndexOutOfBounds);
    splice(aIndex, 0, &aCh, 1);
}

void OString::insert(int aIndex, const OString& aText, Range aPart)
{
    Span s = aText.resolve(aPart, true);
    if (s.empty())
        return;
    insertTo(aIndex, aText, s.start, s.end);
}

void OString::prepend(const OString& aText)
{
    insert(0, aText);
}

void OString::prepend(char16_t aCh)
{
    insert(0, aCh);
}

void OString::append(const OString& aText)
{
    insert(length(), aText);
}

void OString::append(char16_t aCh)
{
    // The common case of a text built unit by unit: room in a private buffer.
    if (pBuffer && pBuffer->refCount == 1 && pBuffer->length < pBuffer->capacity) [[likely]] {
        char16_t* p = units();
        p[pBuffer->length++] = aCh;
        p[pBuffer->length] = 0;
        return;
    }
    insert(length(), aCh);
}

void OString::repeat(int aTimes)
{
    if (aTimes < 0)
        raiseVmError(vm::KErrInvalidArgument);
    if (aTimes == 0) {
        clear();
        return;
    }
    const int n = length();
    if (n == 0 || aTimes == 1)
        return;
    const int newLength = checkedLength((long long)n * aTimes);
    if (pBuffer->refCount == 1 && (newLength <= pBuffer->capacity || growInPlace(newLength))) {
        char16_t* p = units();
        for (int k = 1; k < aTimes; ++k)
            copyUnits(p + (long long)k * n, p, size_t(n));
        pBuffer->length = newLength;
        p[newLength] = 0;
        return;
    }
    StringBuffer* fresh = newBuffer(newLength, pBuffer->space);
    char16_t* q = unitsOf(fresh);
    for (int k = 0; k < aTimes; ++k)
        copyUnits(q + (long long)k * n, units(), size_t(n));
    release(pBuffer);
    pBuffer = fresh;
}

void OString::replace(Range aRange, const OString& aText)
{
    if (aText.isEmpty()) {
        remove(aRange);
        return;
    }
    Span s = resolve(aRange, true);
    if (s.empty())
        return;
    splice(s.start, s.size(), aText.units(), aText.length());
}

void OString::replace(Range aRange, char16_t aCh)
{
    Span s = resolve(aRange, true);
    if (s.empty())
        return;
    splice(s.start, s.size(), &aCh, 1);
}

void OString::replaceOrInsert(Range aRange, const OString& aText)
{
    if (aRange.length != 0) {
        replace(aRange, aText);
        return;
    }
    if (aRange.start < 0)
        raiseVmError(vm::KErrRange);
    insert(aRange.start, aText);
}

void OString::replaceOrInsert(Range aRange, const OString& aText, int aFirst, int aLast)
{
    if (aRange.length != 0) {
        replace(aRange, aText);
        return;
    }
    if (aRange.start < 0)
        raiseVmError(vm::KErrRange);
    insertTo(aRange.start, aText, aFirst, aLast);
}

void OString::removeAt(int aIndex)
{
    if (aIndex < 0 || aIndex >= length())
        raiseVmError(vm::KErrIndexOutOfBounds);
    splice(aIndex, 1, nullptr, 0);
}

void OString::remove(Range aRange)
{
    Span s = resolve(aRange, false);
    splice(s.start, s.size(), nullptr, 0);
}

void OString::replaceIn(std::u16string_view aPattern, Span aSpan, std::u16string_view aBy, bool aExact,
                        int aWhich)
{
    if (aPattern.empty() || aSpan.empty() || aPattern.size() > size_t(aSpan.size()))
        return;
    const std::u16string_view all = view();
    Folded text(all.substr(size_t(aSpan.start), size_t(aSpan.size())), aExact);
    Folded pattern(aPattern, aExact);
    const size_t m = pattern.text.size();
    std::vector<size_t> matches;
    if (aWhich == ELast) {
        size_t at = text.text.rfind(pattern.text);
        if (at != std::u16string_view::npos)
            matches.push_back(at);
    } else {
        for (size_t at = text.text.find(pattern.text); at != std::u16string_view::npos;
             at = text.text.find(pattern.text, at + m)) {
            matches.push_back(at);
            if (aWhich == EFirst)
                break;
        }
    }
    if (matches.empty())
        return;
    long long newLength =
        (long long)all.size() + (long long)matches.size() * ((long long)aBy.size() - (long long)m);
    checkedLength(newLength);
    std::u16string out;
    out.reserve(size_t(newLength));
    size_t cursor = 0;
    for (size_t at : matches) {
        size_t absolute = size_t(aSpan.start) + at;
        out.append(all.substr(cursor, absolute - cursor));
        out.append(aBy);
        cursor = absolute + m;
    }
    out.append(all.substr(cursor));
    assign(out.data(), int(out.size()));
}

void OString::removeFirst(const OString& aPattern, bool aExact)
{
    replaceIn(aPattern.view(), whole(), {}, aExact, EFirst);
}
void OString::removeFirst(const OString& aPattern, Range aRange, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), {}, aExact, EFirst);
}
void OString::removeFirst(char16_t aCh, bool aExact)
{
    replaceIn(std::u16string_view(&aCh, 1), whole(), {}, aExact, EFirst);
}
void OString::removeFirst(char16_t aCh, Range aRange, bool aExact)
{
    replaceIn(std::u16string_view(&aCh, 1), resolve(aRange, true), {}, aExact, EFirst);
}
void OString::removeLast(const OString& aPattern, bool aExact)
{
    replaceIn(aPattern.view(), whole(), {}, aExact, ELast);
}
void OString::removeLast(const OString& aPattern, Range aRange, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), {}, aExact, ELast);
}
void OString::removeLast(char16_t aCh, bool aExact)
{
    replaceIn(std::u16string_view(&aCh, 1), whole(), {}, aExact, ELast);
}
void OString::removeLast(char16_t aCh, Range aRange, bool aExact)
{
    replaceIn(std::u16string_view(&aCh, 1), resolve(aRange, true), {}, aExact, ELast);
}
void OString::removeAll(const OString& aPattern, bool aExact)
{
    replaceIn(aPattern.view(), whole(), {}, aExact, EAll);
}
void OString::removeAll(const OString& aPattern, Range aRange, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), {}, aExact, EAll);
}
void OString::removeAll(char16_t aCh, bool aExact)
{
    replaceIn(std::u16string_view(&aCh, 1), whole(), {}, aExact, EAll);
}
void OString::removeAll(char16_t aCh, Range aRange, bool aExact)
{
    replaceIn(std::u16string_view(&aCh, 1), resolve(aRange, true), {}, aExact, EAll);
}

void OString::replaceFirst(const OString& aPattern, const OString& aBy, bool aExact)
{
    replaceIn(aPattern.view(), whole(), aBy.view(), aExact, EFirst);
}
void OString::replaceFirst(const OString& aPattern, char16_t aBy, bool aExact)
{
    replaceIn(aPattern.view(), whole(), std::u16string_view(&aBy, 1), aExact, EFirst);
}
void OString::replaceFirst(const OString& aPattern, Range aRange, const OString& aBy, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), aBy.view(), aExact, EFirst);
}
void OString::replaceFirst(const OString& aPattern, Range aRange, char16_t aBy, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), std::u16string_view(&aBy, 1), aExact, EFirst);
}
void OString::replaceLast(const OString& aPattern, const OString& aBy, bool aExact)
{
    replaceIn(aPattern.view(), whole(), aBy.view(), aExact, ELast);
}
void OString::replaceLast(const OString& aPattern, char16_t aBy, bool aExact)
{
    replaceIn(aPattern.view(), whole(), std::u16string_view(&aBy, 1), aExact, ELast);
}
void OString::replaceLast(const OString& aPattern, Range aRange, const OString& aBy, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), aBy.view(), aExact, ELast);
}
void OString::replaceLast(const OString& aPattern, Range aRange, char16_t aBy, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), std::u16string_view(&aBy, 1), aExact, ELast);
}
void OString::replaceAll(const OString& aPattern, const OString& aBy, bool aExact)
{
    replaceIn(aPattern.view(), whole(), aBy.view(), aExact, EAll);
}
void OString::replaceAll(const OString& aPattern, char16_t aBy, bool aExact)
{
    replaceIn(aPattern.view(), whole(), std::u16string_view(&aBy, 1), aExact, EAll);
}
void OString::replaceAll(const OString& aPattern, Range aRange, const OString& aBy, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), aBy.view(), aExact, EAll);
}
void OString::replaceAll(const OString& aPattern, Range aRange, char16_t aBy, bool aExact)
{
    replaceIn(aPattern.view(), resolve(aRange, true), std::u16string_view(&aBy, 1), aExact, EAll);
}

void OString::removeHead(int aCount)
{
    if (aCount < 0 || aCount > length())
        raiseVmError(vm::KErrInvalidArgument);
    if (aCount > 0)
        splice(0, aCount, nullptr, 0);
}

void OString::removeTail(int aCount)
{
    if (aCount < 0 || aCount > length())
        raiseVmError(vm::KErrInvalidArgument);
    if (aCount > 0)
        splice(length() - aCount, aCount, nullptr, 0);
}

void OString::clear()
{
    release(pBuffer);
    pBuffer = nullptr;
}

void OString::trimLeading()
{
    std::u16string_view v = view();
    size_t i = 0;
    while (i < v.size() && isSpace(v[i]))
        ++i;
    if (i > 0)
        splice(0, int(i), nullptr, 0);
}

void OString::trimTrailing()
{
    std::u16string_view v = view();
    size_t i = v.size();
    while (i > 0 && isSpace(v[i - 1]))
        --i;
    if (i < v.size())
        splice(int(i), int(v.size() - i), nullptr, 0);
}

void OString::trim()
{
    std::u16string_view v = view();
    size_t first = 0, last = v.size();
    while (first < v.size() && isSpace(v[first]))
        ++first;
    if (first == v.size()) {
        clear();
        return;
    }
    while (isSpace(v[last - 1]))
        --last;
    std::u16string out;
    for (size_t i = first; i < last; ++i)
        if (!(isSpace(v[i]) && isSpace(v[i - 1])))  // i > first: v[first] is no space
            out.push_back(v[i]);
    const int n = int(out.size());
    KELVAR_ASSERT(n > 0);
    if (n == length())
        return;
    assign(out.data(), n);
}

void OString::toLowerCase()
{
    std::u16string out = lowered(view());
    if (out != view())
        assign(out.data(), int(out.size()));
}

void OString::toUpperCase()
{
    std::u16string out(view());
    for (char16_t& u : out)
        u = upper(u);
    if (out != view())
        assign(out.data(), int(out.size()));
}

// ---------------------------------------------------------------------------
// Single units

char16_t OString::lower(char16_t aCh)
{
    char32_t c = QChar::toLower(char32_t(aCh));
    return c > 0xFFFF ? aCh : char16_t(c);
}

char16_t OString::upper(char16_t aCh)
{
    char32_t c = QChar::toUpper(char32_t(aCh));
    return c > 0xFFFF ? aCh : char16_t(c);
}

bool OString::isLetter(char16_t aCh)
{
    return QChar::isLetter(char32_t(aCh));
}

bool OString::isDigit(char16_t aCh)
{
    return QChar::isDigit(char32_t(aCh));
}

bool OString::isSpace(char16_t aCh)
{
    return QChar::isSpace(char32_t(aCh));
}
