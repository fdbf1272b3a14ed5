// Native groups not built yet: every function number is unknown.
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::outputStreamNative(int function)
{
    (void)function;
    unknownNativeFunction("OutputStream:");
}

void VirtualMachine::fileWriterNative(int function)
{
    (void)function;
    unknownNativeFunction("FileWriter:");
}

void VirtualMachine::inputStreamNative(int function)
{
    (void)function;
    unknownNativeFunction("InputStream:");
}

void VirtualMachine::fileReaderNative(int function)
{
    (void)function;
    unknownNativeFunction("FileReader:");
}

}  // namespace vm
