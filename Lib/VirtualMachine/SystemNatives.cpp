// Debug group: logging through the host. System group: process control,
// clocks, the application reference.
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::debugNative(int function)
{
    switch (function) {
    case 1: {
        OString message = stringOf(heap(), Addr(arg(0)));
        pop(1);
        if (host_)
            host_->log(message);
        return;
    }
    case 2: {
        OString path = stringOf(heap(), Addr(arg(0)));
        pop(1);
        if (host_)
            host_->setLogFile(path);
        return;
    }
    case 3:
        return;
    default:
        unknownNativeFunction("Debug:");
    }
}

void VirtualMachine::systemNative(int function)
{
    (void)function;
    unknownNativeFunction("System:");
}

}  // namespace vm
