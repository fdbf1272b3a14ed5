// A key event delivered to the application: a native object in the heap.
#pragma once

#include "../Containers/OString.h"
#include "GCObject.h"

namespace Kelvar {

class KeyEvent : public vm::GCObject {
public:
    // Payload bytes of a key event block (handle word, three ints, the text).
    static constexpr uint32_t kBlockSize = 24;

    KeyEvent(int aKeyCode, int aScanCode, int aModifiers, const OString& aText)
        : keyCode(aKeyCode), scanCode(aScanCode), modifiers(aModifiers), text(aText)
    {
    }

    int keyCode;
    int scanCode;
    int modifiers;
    OString text;
};

}  // namespace Kelvar
