// Float native group: IEEE single-precision values held in one word.
// Division by zero and overflow give IEEE results (infinities, NaN).
#include <bit>
#include <string>

#include <QString>

#include "ORaw.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

float asFloat(Word w) { return std::bit_cast<float>(w); }
Word asWord(float f) { return std::bit_cast<Word>(f); }

float floatOperation(int operation, float a, float b)
{
    switch (operation) {
    case 1: return a + b;
    case 2: return a - b;
    case 3: return a * b;
    default: return a / b;
    }
}

}  // namespace

void VirtualMachine::floatNative(int function)
{
    switch (function) {
    case 0: {
        // One rounding: int64 to float is correctly rounded and the scaling
        // by 2^-32 is exact (no fixed value is near the subnormal range).
        TInt64 raw = ORaw::fromWords(arg(1), arg(0));
        arg(1) = asWord(float(raw) * 0x1p-32f);
        pop(1);
        break;
    }
    case 1: case 2: case 3: case 4:
        arg(1) = asWord(floatOperation(function, asFloat(arg(1)), asFloat(arg(0))));
        pop(1);
        break;
    case 5:
        arg(0) = Word(TUint32(arg(0)) ^ 0x80000000u);
        break;
    case 6: case 7: case 8: case 9: {
        Addr address = nullCheck(Addr(arg(1)));
        float v = asFloat(space().loadWord(address));
        space().storeWord(address, asWord(floatOperation(function - 5, v, asFloat(arg(0)))));
        pop(2);
        break;
    }
    case 10: {
        QString text;
        text.setNum(asFloat(arg(0)), 'g', 6);
        arg(0) = Word(newStringObject(heap(), OString(text)));
        break;
    }
    default:
        raiseVmError(KErrVm, "Float: invalid opcode: " + std::to_string(function));
    }
}

}  // namespace vm
