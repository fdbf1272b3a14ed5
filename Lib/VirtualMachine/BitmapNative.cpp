// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::bitmapNative(int function)
{
    (void)function;
    unknownNativeFunction("Bitmap:");
}

}  // namespace vm
