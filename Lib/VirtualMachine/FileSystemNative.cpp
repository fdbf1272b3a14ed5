// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::fileSystemNative(int function)
{
    (void)function;
    unknownNativeFunction("FileSystem:");
}

}  // namespace vm
