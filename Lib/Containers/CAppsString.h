// CAppsString: the host's UTF-16 string, a Vec of code units (no terminator).
//
// Case-insensitive operations compare units through QChar::toLower;
// whitespace is QChar::isSpace. Index errors raise code 2, bad counts and
// bounds code 6, unparsable numbers code 4.
#pragma once

#include <string>
#include <string_view>

#include "../VirtualMachine/Types.h"
#include "Vec.h"

class CAppsString : public Vec<unsigned short> {
public:
    CAppsString() = default;
    // From an 8-bit text: every byte becomes the code unit of the same value.
    CAppsString(const char* text);  // null raises code 1
    CAppsString(const char* text, int length);
    explicit CAppsString(std::string_view text);
    // From a 0-terminated UTF-16 text (null raises code 1).
    explicit CAppsString(const unsigned short* text);
    CAppsString(const unsigned short* units, int count);
    explicit CAppsString(std::u16string_view text);
    // count units of other from start; bounds outside it raise code 6.
    CAppsString(const CAppsString& other, int start, int count);

    int length() const { return count(); }

    CAppsString& operator+=(const CAppsString& other)
    {
        appendAll(other);
        return *this;
    }
    CAppsString& operator+=(const char* text);
    CAppsString& operator+=(unsigned short unit)
    {
        append(unit);
        return *this;
    }
    CAppsString operator+(const CAppsString& other) const
    {
        CAppsString r(*this);
        r += other;
        return r;
    }

    bool operator==(const CAppsString& other) const;
    bool operator!=(const CAppsString& other) const { return !(*this == other); }

    // Decimal text, "-" before negative values.
    static CAppsString number(int value);
    static CAppsString number(long value);
    static CAppsString number(long long value);

    // The text times times; times < 0 raises code 6.
    CAppsString repeated(int times) const;
    // Inserts text at position (outside 0..length: code 2).
    void insert(int position, const CAppsString& text);
    // parts separated by separator.
    static CAppsString join(const Vec<CAppsString>& parts, const CAppsString& separator);

    // First occurrence starting at or after from (0..length, else code 2);
    // -1 if none. An empty text is found at from.
    int indexOf(const CAppsString& text, int from = 0, bool caseSensitive = true) const;
    // Last occurrence starting at or before from (-1 meaning the end;
    // otherwise 0..length, else code 2); -1 if none. An empty text is found at
    // from (length for -1).
    int lastIndexOf(const CAppsString& text, int from = -1, bool caseSensitive = true) const;
    // An empty text is a prefix and a suffix of every string.
    bool startsWith(const CAppsString& text, bool caseSensitive = true) const;
    bool endsWith(const CAppsString& text, bool caseSensitive = true) const;
    bool equals(const CAppsString& other, bool caseSensitive = true) const;
    // -1, 0 or 1: unit by unit over the shorter length, then the shorter is
    // smaller.
    int compare(const CAppsString& other, bool caseSensitive = true) const;

    // In place; each returns *this.
    CAppsString& trim();          // leading and trailing whitespace
    CAppsString& trimLeading();
    CAppsString& trimTrailing();
    CAppsString& toLowerCase();
    CAppsString& toUpperCase();

    // The non-empty pieces between separators, in order; a text without the
    // separator is one piece (none when empty). An empty separator raises
    // code 6 for a non-empty text.
    Vec<CAppsString> split(const CAppsString& separator, bool caseSensitive = true) const;
    // Replaces every non-overlapping occurrence of before, left to right;
    // an empty before does nothing. Returns the number of replacements.
    int replace(const CAppsString& before, const CAppsString& after, bool caseSensitive = true);

    // Integer in radix 2..32 (else code 6): leading whitespace skipped, an
    // optional "+" or "-", then digits ("0"-"9", letters of either case)
    // below the radix up to the first other unit, wrapping around on
    // overflow. No digit raises code 4.
    TInt32 toInt32(int radix = 10) const;
    TInt64 toInt64(int radix = 10) const;

    std::u16string toU16() const;
    // Each unit truncated to its low 8 bits.
    std::string toLatin1() const;

private:
    int find(const CAppsString& text, int from, bool caseSensitive, bool backwards) const;
    bool matchesAt(int index, const CAppsString& text, bool caseSensitive) const;
    TUint64 parse(int radix) const;
};
