// CAppsString: the host's UTF-16 string, a Vec of code units (no terminator).
#pragma once

#include <string>
#include <string_view>

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

    static CAppsString number(int value);
    static CAppsString number(long long value);

    std::u16string toU16() const;
    // Each unit truncated to its low 8 bits.
    std::string toLatin1() const;
};
