#include "ExtensionRegistry.h"

#include "VMError.h"

void ExtensionRegistry::setUp(vm::MVMCallbackInterface* aVm, vm::FrameworkServices* aHost)
{
    iVm = aVm;
    iHost = aHost;
}

int ExtensionRegistry::callExtension(int aExtension, int aOperation, int aTop, vm::Addr aStackBase)
{
    (void)aExtension;
    (void)aOperation;
    (void)aTop;
    (void)aStackBase;
    vm::raiseVmError(vm::KErrVm, "Dll not supported");
}
