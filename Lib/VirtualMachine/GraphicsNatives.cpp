// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::graphicsNative(int function)
{
    (void)function;
    unknownNativeFunction("Graphics:");
}

void VirtualMachine::screenNative(int function)
{
    (void)function;
    unknownNativeFunction("Screen:");
}

}  // namespace vm
