// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::fontNative(int function)
{
    (void)function;
    unknownNativeFunction("Font:");
}

}  // namespace vm
