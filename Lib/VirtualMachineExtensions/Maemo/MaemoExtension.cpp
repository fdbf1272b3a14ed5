#include "MaemoExtension.h"

#include <cstdio>
#include <cstdlib>

namespace ext {

MaemoExtension::MaemoExtension(vm::MVMCallbackInterface& aVm) : iVm(aVm) {}

std::string MaemoExtension::command()
{
    return configuredPath("MCB_PLATFORM_COMMAND",
                          "dbus-send --type=signal /lofasz com.nokia.hildon_desktop.exit_app_view");
}

int MaemoExtension::callDllNative(int aOperation, int aTop, Addr)
{
    if (aOperation != 1)
        unknownOperation(iVm, "Maemo: Unknown opcode!");
    std::fflush(nullptr);  // the command's output follows ours
    int status = std::system(command().c_str());
    (void)status;
    return aTop;
}

}  // namespace ext
