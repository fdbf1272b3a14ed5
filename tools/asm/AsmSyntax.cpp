#include "AsmSyntax.h"

#include <cctype>

namespace mcb {

namespace {

const char* const kReserved[] = {"any", "arrays", "flag", "refs", "skip", "super", "width"};

const vm::NativeFunctionInfo* named(const std::vector<vm::NativeFunctionInfo>& list, int group, std::string_view name)
{
    for (const vm::NativeFunctionInfo& f : list)
        if (f.group == group && equalsIgnoreCase(name, f.name))
            return &f;
    return nullptr;
}

}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const char* nativeGroupName(int group)
{
    const vm::NativeGroupInfo* g = vm::nativeGroup(group);
    return g ? g->name : nullptr;
}

std::optional<int> nativeGroupNumber(std::string_view name)
{
    for (const vm::NativeGroupInfo& g : vm::nativeGroups())
        if (equalsIgnoreCase(name, g.name))
            return g.number;
    return std::nullopt;
}

const vm::NativeFunctionInfo* nativeFunctionNamed(int group, std::string_view name)
{
    return named(vm::nativeFunctions(), group, name);
}

const char* extensionName(int extension)
{
    const vm::ExtensionInfo* e = vm::extension(extension);
    return e ? e->name : nullptr;
}

std::optional<int> extensionNumber(std::string_view name)
{
    for (const vm::ExtensionInfo& e : vm::extensions())
        if (equalsIgnoreCase(name, e.name))
            return e.number;
    return std::nullopt;
}

const vm::NativeFunctionInfo* extensionOperationNamed(int extension, std::string_view name)
{
    return named(vm::extensionOperations(), extension, name);
}

bool isIdentifier(std::string_view s)
{
    if (s.empty())
        return false;
    auto head = [](unsigned char c) { return std::isalpha(c) || c == '_'; };
    if (!head(static_cast<unsigned char>(s[0])))
        return false;
    for (char c : s.substr(1)) {
        unsigned char u = static_cast<unsigned char>(c);
        if (!head(u) && !std::isdigit(u) && u != '.')
            return false;
    }
    return true;
}

bool isReservedClassName(std::string_view s)
{
    for (const char* r : kReserved)
        if (s == r)
            return true;
    return false;
}

size_t utf8SequenceLength(std::string_view s, size_t i)
{
    auto at = [&](size_t k) -> int { return k < s.size() ? static_cast<unsigned char>(s[k]) : -1; };
    auto cont = [&](size_t k, int lo = 0x80, int hi = 0xBF) {
        int c = at(k);
        return c >= lo && c <= hi;
    };
    int c = at(i);
    if (c < 0)
        return 0;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return cont(i + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        int lo = c == 0xE0 ? 0xA0 : 0x80;
        int hi = c == 0xED ? 0x9F : 0xBF;
        return cont(i + 1, lo, hi) && cont(i + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        int lo = c == 0xF0 ? 0x90 : 0x80;
        int hi = c == 0xF4 ? 0x8F : 0xBF;
        return cont(i + 1, lo, hi) && cont(i + 2) && cont(i + 3) ? 4 : 0;
    }
    return 0;
}

std::string quoteBytes(std::string_view bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    auto escapeByte = [&](unsigned char c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    for (size_t i = 0; i < bytes.size();) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (c) {
        case '"': out += "\\\""; ++i; continue;
        case '\\': out += "\\\\"; ++i; continue;
        case '\n': out += "\\n"; ++i; continue;
        case '\t': out += "\\t"; ++i; continue;
        case '\r': out += "\\r"; ++i; continue;
        case 0: out += "\\0"; ++i; continue;
        default: break;
        }
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F)
                escapeByte(c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t n = utf8SequenceLength(bytes, i);
        // C1 controls (U+0080-U+009F) are well formed but invisible: escaped.
        bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
        if (n == 0 || c1) {
            escapeByte(c);
            ++i;
            continue;
        }
        out.append(bytes.substr(i, n));
        i += n;
    }
    out += '"';
    return out;
}

}  // namespace mcb
