// OString: the string object of bytecode, a copy-on-write UTF-16 string.
//
// An OString holds one pointer to a host-side StringBuffer, or null for the
// empty string. The code units (capacity + 1 of them: the text, then a 0
// unit) live in the VM address space so that bytecode can address single
// units; the buffer's bookkeeping stays on the host side, so whatever
// bytecode writes into the units can change the text but never its length.
//
// Invariants:
//  - pBuffer == nullptr <=> length 0; a buffer is never empty.
//  - refCount == number of OStrings pointing at the buffer.
//  - capacity == max(10, length * 1.2 truncated) when the buffer is made.
//  - A buffer is edited in place only when refCount is 1, the capacity holds
//    the new length and, for a shortening edit, the new length exceeds half
//    the capacity; otherwise the result goes to a new buffer.
//
// Ranges: Range{start, length}; length < 0 means "up to the end". For a text
// of n units end = start + length - 1 (n - 1 for a negative length); a range
// is valid when 0 <= start <= end < n and raises code 5 otherwise, except that
// start 0 / end -1 is the empty range for searches, counts, substrings and
// edits by a non-empty text. Searches and counts without an explicit case
// switch ignore case; `exact == false` compares units through QChar::toLower.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "../VirtualMachine/GCObject.h"
#include "../VirtualMachine/Types.h"
#include "Vec.h"

class QString;
class CAppsString;

namespace vm {
class VMSpace;
}

struct StringBuffer {
    vm::Addr data;       // capacity + 1 units in the VM space
    int refCount;
    int capacity;
    int length;
    vm::VMSpace* space;  // the space that owns `data`
};

class OString : public vm::GCObject {
public:
    struct Range {
        int start;
        int length;  // < 0: up to the end
    };

    // Longest text a string may hold; longer results raise code 10
    // "Out of memory" (the buffer of such a text would not fit the space).
    static constexpr int kMaxLength = 1 << 30;

    // Construction ------------------------------------------------------
    OString() = default;
    OString(const OString& aOther) noexcept;
    OString(OString&& aOther) noexcept : pBuffer(aOther.pBuffer) { aOther.pBuffer = nullptr; }
    OString& operator=(const OString& aOther) noexcept;
    OString& operator=(OString&& aOther) noexcept;
    ~OString() override;

    // 0-terminated 8-bit text from byte aStart on; each byte becomes the unit
    // of the same value. Null raises code 1; a start beyond the text gives "".
    explicit OString(const char* aLatin1, int aStart = 0);
    explicit OString(const char16_t* aText);  // 0-terminated; null raises code 1
    OString(const char16_t* aUnits, int aCount);
    explicit OString(std::u16string_view aText);
    explicit OString(const QString& aText);
    explicit OString(const CAppsString& aText);

    static OString fromLatin1(const char* aBytes, int aCount);
    // Decodes UTF-8 (malformed sequences become U+FFFD). A negative count
    // raises code 6, null bytes with a positive count code 1.
    static OString fromUtf8(const char* aBytes, int aCount);
    // aCount copies of aCh; aCount < 0 raises code 6.
    static OString filled(char16_t aCh, int aCount);
    // Decimal text, "-" before negative values.
    static OString number(TInt32 aValue);
    // aValue as unsigned in radix 2..36 ("0"-"9", "a"-"z"); any other radix "".
    static OString number(TUint32 aValue, int aRadix);

    // The part over aRange; a negative length with start >= length gives "".
    // The whole text shares the buffer.
    OString substring(Range aRange) const;
    // Every aStep-th unit from index 0 / over aRange; aStep <= 0 raises code 6.
    OString everyNth(int aStep) const;
    OString everyNth(Range aRange, int aStep) const;
    OString concat(const OString& aOther) const;
    // The text aTimes times; aTimes < 0 raises code 6.
    OString repeated(int aTimes) const;
    // The non-empty pieces between separators (and after the last one); no
    // separator in the text gives no pieces. An empty separator raises code 6
    // unless the text is empty too.
    Vec<OString> split(const OString& aSeparator, bool aExact = false) const;
    Vec<OString> split(char16_t aSeparator, bool aExact = false) const;
    // The parts {start, length} of the text that split() makes into pieces.
    std::vector<Range> splitRanges(const OString& aSeparator, bool aExact = false) const;
    std::vector<Range> splitRanges(char16_t aSeparator, bool aExact = false) const;

    // Conversions -------------------------------------------------------
    QString toQString() const;
    CAppsString toCAppsString() const;
    std::string toUtf8() const;
    std::string toLatin1() const;  // low byte of every unit
    std::u16string toU16() const;
    // The units; valid until the string or the space changes.
    std::u16string_view view() const;

    // Queries -----------------------------------------------------------
    int length() const { return pBuffer ? pBuffer->length : 0; }
    bool isEmpty() const { return pBuffer == nullptr; }
    // Unit at aIndex; outside 0..length-1 raises code 2.
    char16_t at(int aIndex) const;
    char16_t first() const;  // code 2 when empty
    char16_t last() const;   // code 2 when empty
    // VM address of the unit at aIndex (outside 0..length-1: code 2), through
    // which bytecode reads and writes the unit. The buffer is made private to
    // this string first, so writes there never reach strings that shared it.
    vm::Addr unitAddress(int aIndex);

    // {index, length of aPattern} of the first case-insensitive occurrence,
    // {0, 0} when there is none (or the pattern is empty).
    Range findRange(const OString& aPattern) const;

    // Index of the first / last occurrence within the range, -1 if none or
    // if the pattern is empty. Without a range the whole text is searched.
    int indexOf(const OString& aPattern, bool aExact = false) const;
    int indexOf(const OString& aPattern, Range aRange, bool aExact = false) const;
    int indexOf(char16_t aCh, bool aExact = false) const;
    int indexOf(char16_t aCh, Range aRange, bool aExact = false) const;
    int lastIndexOf(const OString& aPattern, bool aExact = false) const;
    int lastIndexOf(const OString& aPattern, Range aRange, bool aExact = false) const;
    int lastIndexOf(char16_t aCh, bool aExact = false) const;
    int lastIndexOf(char16_t aCh, Range aRange, bool aExact = false) const;
    // Non-overlapping occurrences, left to right; 0 for an empty pattern.
    int count(const OString& aPattern, bool aExact = false) const;
    int count(const OString& aPattern, Range aRange, bool aExact = false) const;
    int count(char16_t aCh, bool aExact = false) const;
    int count(char16_t aCh, Range aRange, bool aExact = false) const;

    // The unit with the most occurrences in the range, the earliest position
    // winning ties; lower-cased when !aExact. An empty text or an empty range
    // raises code 4.
    char16_t mostFrequent(bool aExact = false) const;
    char16_t mostFrequent(Range aRange, bool aExact = false) const;

    // False when either text is empty or aOther is longer.
    bool startsWith(const OString& aOther, bool aExact = false) const;
    bool endsWith(const OString& aOther, bool aExact = false) const;

    // -1, 0 or 1: unit by unit over the shorter length, then the shorter is
    // smaller. Strings sharing a buffer are equal at once.
    int compare(const OString& aOther, bool aExact) const;
    bool equals(const OString& aOther, bool aExact) const;
    bool operator==(const OString& aOther) const { return equals(aOther, true); }
    // Sign of the comparison of the part over aRange with aOther. Start 0 with
    // a negative length compares the whole text. An empty aOther gives 1 for a
    // non-empty part and 0 for an empty one.
    int compareRegion(const OString& aOther, Range aRange, bool aExact) const;
    // The part over aRange equals aOther. Start 0 with a negative length is
    // plain equality; otherwise an empty aOther raises code 6.
    bool regionEquals(const OString& aOther, Range aRange, bool aExact) const;

    // Decimal: leading whitespace skipped, then "-" negates or "+" is skipped
    // ("+-0" gives 0), then digits with 32-bit wrap-around up to the first
    // non-digit. Empty, all whitespace or no digit raises code 4.
    TInt32 toInt() const;
    // Radix 10 as toInt(); radix 2..36 (else code 6): leading whitespace
    // skipped, digits of either case below the radix, no sign; no digit: 4.
    TInt32 toInt(int aRadix) const;

    // Editing -----------------------------------------------------------
    // Inserts the source's units aFirst..aLast at aPosition. aFirst 0 with
    // aLast -1 inserts nothing; otherwise aFirst < 0, aLast < aFirst or aLast
    // beyond the source raise code 5, then a position outside 0..length
    // raises code 2. Into an empty string the whole source is shared.
    void insertTo(int aPosition, const OString& aSource, int aFirst, int aLast);
    // An empty aText inserts nothing, whatever the index; otherwise an index
    // outside 0..length raises code 2.
    void insert(int aIndex, const OString& aText);
    void insert(int aIndex, char16_t aCh);
    void insert(int aIndex, const OString& aText, Range aPart);
    void prepend(const OString& aText);
    void prepend(char16_t aCh);
    void append(const OString& aText);
    void append(char16_t aCh);
    OString& operator+=(const OString& aText)
    {
        append(aText);
        return *this;
    }
    // The text becomes itself aTimes times; aTimes < 0 raises code 6.
    void repeat(int aTimes);
    // Replaces the part over aRange by aText. An empty aText removes the part
    // (the empty range then raises code 5); a non-empty aText over the empty
    // range changes nothing.
    void replace(Range aRange, const OString& aText);
    void replace(Range aRange, char16_t aCh);
    // aRange of length 0 inserts aText at its start (a negative start raises
    // code 5); any other length replaces as replace().
    void replaceOrInsert(Range aRange, const OString& aText);
    // As replaceOrInsert, but an insertion takes the units aFirst..aLast of
    // aText (see insertTo); a replacement takes the whole of aText.
    void replaceOrInsert(Range aRange, const OString& aText, int aFirst, int aLast);
    void removeAt(int aIndex);  // outside 0..length-1: code 2
    void remove(Range aRange);  // the empty range raises code 5
    // Removal of the first / last / every non-overlapping occurrence within
    // the range; an empty pattern or range does nothing.
    void removeFirst(const OString& aPattern, bool aExact = false);
    void removeFirst(const OString& aPattern, Range aRange, bool aExact = false);
    void removeFirst(char16_t aCh, bool aExact = false);
    void removeFirst(char16_t aCh, Range aRange, bool aExact = false);
    void removeLast(const OString& aPattern, bool aExact = false);
    void removeLast(const OString& aPattern, Range aRange, bool aExact = false);
    void removeLast(char16_t aCh, bool aExact = false);
    void removeLast(char16_t aCh, Range aRange, bool aExact = false);
    void removeAll(const OString& aPattern, bool aExact = false);
    void removeAll(const OString& aPattern, Range aRange, bool aExact = false);
    void removeAll(char16_t aCh, bool aExact = false);
    void removeAll(char16_t aCh, Range aRange, bool aExact = false);
    // Replacement of occurrences of aPattern within the range (all of them:
    // non-overlapping, found in the text as it was before). An empty pattern
    // does nothing; an empty replacement removes.
    void replaceFirst(const OString& aPattern, const OString& aBy, bool aExact = false);
    void replaceFirst(const OString& aPattern, char16_t aBy, bool aExact = false);
    void replaceFirst(const OString& aPattern, Range aRange, const OString& aBy, bool aExact = false);
    void replaceFirst(const OString& aPattern, Range aRange, char16_t aBy, bool aExact = false);
    void replaceLast(const OString& aPattern, const OString& aBy, bool aExact = false);
    void replaceLast(const OString& aPattern, char16_t aBy, bool aExact = false);
    void replaceLast(const OString& aPattern, Range aRange, const OString& aBy, bool aExact = false);
    void replaceLast(const OString& aPattern, Range aRange, char16_t aBy, bool aExact = false);
    void replaceAll(const OString& aPattern, const OString& aBy, bool aExact = false);
    void replaceAll(const OString& aPattern, char16_t aBy, bool aExact = false);
    void replaceAll(const OString& aPattern, Range aRange, const OString& aBy, bool aExact = false);
    void replaceAll(const OString& aPattern, Range aRange, char16_t aBy, bool aExact = false);
    // Deletes the first / last aCount units; aCount < 0 or > length: code 6.
    void removeHead(int aCount);
    void removeTail(int aCount);
    void clear();
    void trimLeading();
    void trimTrailing();
    // Leading and trailing whitespace removed; every inner run of whitespace
    // reduced to its first unit.
    void trim();
    void toLowerCase();
    void toUpperCase();

    // Single units, through the platform's character classes.
    static char16_t lower(char16_t aCh);
    static char16_t upper(char16_t aCh);
    static bool isLetter(char16_t aCh);
    static bool isDigit(char16_t aCh);
    static bool isSpace(char16_t aCh);

    // Buffer introspection (memory report, tests).
    int capacity() const { return pBuffer ? pBuffer->capacity : 0; }
    int refCount() const { return pBuffer ? pBuffer->refCount : 0; }
    vm::Addr dataAddress() const { return pBuffer ? pBuffer->data : 0; }
    bool sharesBufferWith(const OString& aOther) const { return pBuffer && pBuffer == aOther.pBuffer; }
    // Capacity of a new buffer for aLength units.
    static int capacityFor(int aLength);

private:
    struct Span;

    static StringBuffer* newBuffer(int aLength, vm::VMSpace* aSpace);
    static uint64_t bufferBytes(int aCapacity) { return (uint64_t(aCapacity) + 1) * sizeof(char16_t); }
    // Makes the private buffer hold aLength units by growing it where it lies
    // (to the capacity a new buffer would get); false when it cannot.
    bool growInPlace(int aLength);
    static void release(StringBuffer* aBuffer);
    static char16_t* unitsOf(const StringBuffer* aBuffer);
    static int checkedLength(long long aLength);
    vm::VMSpace* space() const;
    char16_t* units() const { return pBuffer ? unitsOf(pBuffer) : nullptr; }
    bool aliases(const char16_t* aPointer) const;

    // Makes the text aCount units from aSource (which may lie in this
    // string's own buffer), following the copy-on-write rules.
    void assign(const char16_t* aSource, int aCount);
    // Replaces aRemoved units at aPosition by aInserted units from aSource.
    void splice(int aPosition, int aRemoved, const char16_t* aSource, int aInserted);

    Span resolve(Range aRange, bool aAllowEmpty) const;
    Span resolveSubstring(Range aRange) const;
    Span whole() const;
    int find(std::u16string_view aPattern, Span aSpan, bool aExact, bool aLast) const;
    int countIn(std::u16string_view aPattern, Span aSpan, bool aExact) const;
    char16_t mostFrequentIn(Span aSpan, bool aExact) const;
    void replaceIn(std::u16string_view aPattern, Span aSpan, std::u16string_view aBy, bool aExact, int aWhich);
    std::vector<Range> splitBy(std::u16string_view aSeparator, bool aExact) const;
    static int compareUnits(std::u16string_view aLeft, std::u16string_view aRight, bool aExact);

    StringBuffer* pBuffer = nullptr;
};
