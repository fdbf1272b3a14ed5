// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::stringNative(int function)
{
    (void)function;
    unknownNativeFunction("String:");
}

}  // namespace vm
