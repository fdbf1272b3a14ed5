// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::hashNative(int function)
{
    (void)function;
    unknownNativeFunction("Hash:");
}

}  // namespace vm
