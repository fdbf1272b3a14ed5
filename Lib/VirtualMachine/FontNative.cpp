// Font group: measuring text in a font object (a box naming a font block).
// An object without a font measures 0. Each function replaces its operands
// by one result; ranges follow the range rule of the Range group.
#include "CAppsFont.h"
#include "RangeCheck.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::fontNative(int function)
{
    // Operands: font first, then as listed per function.
    static constexpr int kOperands[] = {0, 0, 1, 1, 2, 4, 3, 5};
    if (function < 2 || function > 7)
        unknownNativeFunction("Font:");
    const int operands = kOperands[function];
    CAppsFont* font = fontOf(*heap_, Addr(arg(operands - 1)));
    int result = 0;
    switch (function) {
    case 2:
        result = font ? font->getHeight() : 0;
        break;
    case 3:
        result = font ? font->getAscent() : 0;
        break;
    case 4:
    case 5: {  // font, string [, start, count] -> width
        const OString& text = stringOf(*heap_, Addr(arg(operands - 2)));
        ResolvedRange range{0, text.length()};
        if (function == 5)
            range = resolveRange(0, text.length(), arg(1), arg(0));
        result = font ? font->getStringWidth(text, range.first, range.length) : 0;
        break;
    }
    case 6:
    case 7: {  // font, string [, start, count], maxWidth -> count
        const OString& text = stringOf(*heap_, Addr(arg(operands - 2)));
        ResolvedRange range{0, text.length()};
        if (function == 7)
            range = resolveRange(0, text.length(), arg(2), arg(1));
        result = font ? font->getCharsThatFit(text, range.first, range.length, arg(0)) : 0;
        break;
    }
    }
    pop(operands - 1);
    arg(0) = result;
}

}  // namespace vm
