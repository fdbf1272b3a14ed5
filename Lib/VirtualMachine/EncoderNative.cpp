// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::encoderNative(int function)
{
    (void)function;
    unknownNativeFunction("Encoder:");
}

}  // namespace vm
