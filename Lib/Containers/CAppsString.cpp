#include "CAppsString.h"

#include <cstring>

using vm::KErrNull;
using vm::raiseVmError;

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
    return CAppsString(std::to_string(value));
}

CAppsString CAppsString::number(long long value)
{
    return CAppsString(std::to_string(value));
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
