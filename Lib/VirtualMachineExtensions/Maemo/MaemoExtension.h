// Platform extension (extension 37): operation 1 asks the Hildon desktop to
// leave the application view, by running
//   dbus-send --type=signal /lofasz com.nokia.hildon_desktop.exit_app_view
// through the shell (or the command line in MCB_PLATFORM_COMMAND), ignoring
// its status; new top t. On a desktop without Hildon the signal reaches no
// one.
#pragma once

#include <string>

#include "VirtualMachineExtensions/Extension.h"

namespace ext {

class MaemoExtension : public MVMExtension {
public:
    explicit MaemoExtension(vm::MVMCallbackInterface& aVm);
    int callDllNative(int aOperation, int aTop, Addr aStackBase) override;

    static std::string command();

private:
    vm::MVMCallbackInterface& iVm;
};

}  // namespace ext
