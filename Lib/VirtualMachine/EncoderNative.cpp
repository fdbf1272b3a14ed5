// Encoder group: strings to UTF-8 byte arrays and back. The result replaces
// the operand.
//
// Encoding turns each UTF-16 unit into 1, 2 or 3 bytes, except that a
// surrogate pair (a character above U+FFFF) becomes its one 4-byte
// sequence, so that what is encoded decodes to the same string and other
// UTF-8 readers see the character. A lone surrogate keeps its 3-byte form
// (which decoding refuses). Decoding accepts only well-formed UTF-8
// (RFC 3629: no overlong forms, no surrogate code points, nothing above
// U+10FFFF); a 4-byte sequence becomes its surrogate pair. Anything else
// raises a DataFormatException without text.
#include <string>

#include "../Containers/OVector.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

bool isHigh(char16_t aUnit)
{
    return aUnit >= 0xD800 && aUnit <= 0xDBFF;
}

bool isLow(char16_t aUnit)
{
    return aUnit >= 0xDC00 && aUnit <= 0xDFFF;
}

std::string encode(std::u16string_view aText)
{
    std::string out;
    out.reserve(aText.size() * 3);
    for (size_t i = 0; i < aText.size(); ++i) {
        char32_t c = aText[i];
        if (isHigh(aText[i]) && i + 1 < aText.size() && isLow(aText[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(aText[++i]) - 0xDC00);
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

[[noreturn]] void malformed()
{
    raiseVmError(KErrDataFormat);
}

std::u16string decode(const TUint8* aBytes, TInt32 aCount)
{
    std::u16string out;
    out.reserve(size_t(aCount));
    TInt32 i = 0;
    auto continuation = [&](TUint8 aLow, TUint8 aHigh) -> char32_t {
        if (i >= aCount || aBytes[i] < aLow || aBytes[i] > aHigh)
            malformed();
        return aBytes[i++] & 0x3F;
    };
    while (i < aCount) {
        TUint8 lead = aBytes[i++];
        if (lead < 0x80) {
            out.push_back(lead);
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            out.push_back(char16_t(((lead & 0x1F) << 6) | continuation(0x80, 0xBF)));
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            TUint8 low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
            char32_t c = (lead & 0x0F) << 12;
            c |= continuation(low, high) << 6;
            c |= continuation(0x80, 0xBF);
            out.push_back(char16_t(c));
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            TUint8 low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
            char32_t c = char32_t(lead & 0x07) << 18;
            c |= continuation(low, high) << 12;
            c |= continuation(0x80, 0xBF) << 6;
            c |= continuation(0x80, 0xBF);
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            malformed();
        }
    }
    return out;
}

}  // namespace

void VirtualMachine::encoderNative(int function)
{
    switch (function) {
    case 1: {  // string -> byte[]
        std::string bytes = encode(stringOf(*heap_, Addr(arg(0))).view());
        if (bytes.size() > VMHeap::kMaxBlock)
            raiseVmError(KErrVm, "Out of memory");
        arg(0) = Word(newByteVector(*heap_, bytes.data(), bytes.size()));
        return;
    }
    case 2: {  // byte[] -> string
        OVector bytes = OVector::ofHolder(*heap_, Addr(arg(0)), 1);
        std::u16string text = decode(bytes.data(), bytes.count());
        arg(0) = Word(newStringObject(*heap_, OString(std::u16string_view(text))));
        return;
    }
    default:
        unknownNativeFunction("Encoder:");
    }
}

}  // namespace vm
