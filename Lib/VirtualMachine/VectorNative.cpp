// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::vectorNativeByte(int function)
{
    (void)function;
    unknownNativeFunction("Vector:");
}

void VirtualMachine::vectorNativeInt1(int function)
{
    (void)function;
    unknownNativeFunction("Vector:");
}

void VirtualMachine::vectorNativeInt2(int function)
{
    (void)function;
    unknownNativeFunction("Vector:");
}

void VirtualMachine::vectorNativeInt3(int function)
{
    (void)function;
    unknownNativeFunction("Vector:");
}

void VirtualMachine::vectorNativeInt4(int function)
{
    (void)function;
    unknownNativeFunction("Vector:");
}

void VirtualMachine::vectorNativeObject(int function)
{
    (void)function;
    unknownNativeFunction("Vector:");
}

}  // namespace vm
