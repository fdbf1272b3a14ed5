// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::colorNative(int function)
{
    (void)function;
    unknownNativeFunction("Color:");
}

void VirtualMachine::sizeNative(int function)
{
    (void)function;
    unknownNativeFunction("Size:");
}

void VirtualMachine::positionNative(int function)
{
    (void)function;
    unknownNativeFunction("Position:");
}

void VirtualMachine::rectangleNative(int function)
{
    (void)function;
    unknownNativeFunction("Rectangle:");
}

}  // namespace vm
