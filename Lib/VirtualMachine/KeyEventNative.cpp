// KeyEvent group: the fields of a key event object.
#include <string>

#include "KeyEvent.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::keyEventNative(int function)
{
    if (function < 1 || function > 4)
        raiseVmError(KErrVm, "KeyEvent: invalid opcode " + std::to_string(pc));
    Word& t = arg(0);
    Kelvar::KeyEvent& event = objectOf<Kelvar::KeyEvent>(heap(), Addr(t));
    switch (function) {
    case 1:
        t = event.keyCode;
        break;
    case 2:
        t = event.modifiers;
        break;
    case 3:
        t = event.scanCode;
        break;
    case 4:
        t = Word(newStringObject(heap(), event.text));
        break;
    }
}

}  // namespace vm
