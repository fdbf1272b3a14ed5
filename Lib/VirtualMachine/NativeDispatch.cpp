// The native-call instruction: group number to handler. A function the
// natives table does not name raises the group's unknown-function error here,
// before the group runs; each group's own default branch stays as a second
// line of defence.
#include <string>

#include "NativeTable.h"
#include "VirtualMachine.h"

namespace vm {

const VirtualMachine::NativeGroup VirtualMachine::kNativeGroups[37] = {
    nullptr,
    &VirtualMachine::vectorNativeByte,    // 1
    nullptr,                              // 2: no group
    &VirtualMachine::vectorNativeInt1,    // 3
    &VirtualMachine::vectorNativeInt2,    // 4
    &VirtualMachine::vectorNativeInt3,    // 5
    &VirtualMachine::vectorNativeInt4,    // 6
    &VirtualMachine::vectorNativeObject,  // 7
    &VirtualMachine::stringNative,        // 8
    &VirtualMachine::byteNative,          // 9
    &VirtualMachine::charNative,          // 10
    &VirtualMachine::fixedNative,         // 11
    &VirtualMachine::longNative,          // 12
    &VirtualMachine::colorNative,         // 13
    &VirtualMachine::rangeNative,         // 14
    &VirtualMachine::sizeNative,          // 15
    &VirtualMachine::positionNative,      // 16
    &VirtualMachine::rectangleNative,     // 17
    &VirtualMachine::graphicsNative,      // 18
    &VirtualMachine::bitmapNative,        // 19
    &VirtualMachine::fontNative,          // 20
    &VirtualMachine::outputStreamNative,  // 21
    &VirtualMachine::fileWriterNative,    // 22
    &VirtualMachine::inputStreamNative,   // 23
    &VirtualMachine::fileReaderNative,    // 24
    &VirtualMachine::fileSystemNative,    // 25
    &VirtualMachine::mathNative,          // 26
    &VirtualMachine::numberNative,        // 27
    &VirtualMachine::encoderNative,       // 28
    &VirtualMachine::dateTimeNative,      // 29
    &VirtualMachine::debugNative,         // 30
    &VirtualMachine::screenNative,        // 31
    &VirtualMachine::systemNative,        // 32
    &VirtualMachine::timerNative,         // 33
    &VirtualMachine::hashNative,          // 34
    &VirtualMachine::keyEventNative,      // 35
    &VirtualMachine::floatNative,         // 36
};

void VirtualMachine::callNative(int group, int function)
{
    NativeGroup handler = group >= 1 && group <= 36 ? kNativeGroups[group] : nullptr;
    if (!handler)
        fatal("Internal error: invalid group in native call: " + std::to_string(group), pc);
    if (!isNativeFunction(group, function)) [[unlikely]]
        raiseUnknownNative(*nativeGroup(group), function, pc);
    (this->*handler)(function);
    if (unsigned(top + 1) > unsigned(kStackWords)) [[unlikely]]
        stackFault(top);
}

}  // namespace vm
