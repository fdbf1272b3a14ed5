// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::dateTimeNative(int function)
{
    (void)function;
    unknownNativeFunction("DateTime:");
}

}  // namespace vm
