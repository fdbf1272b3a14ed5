// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::timerNative(int function)
{
    (void)function;
    unknownNativeFunction("Timer:");
}

}  // namespace vm
