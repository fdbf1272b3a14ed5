// The extensions reached by the extension-call instruction. No device
// extension exists in this host yet: every extension number is refused with
// code 10 "Dll not supported", as an unknown number is.
#pragma once

#include "FrameworkServices.h"
#include "Types.h"

namespace vm {
class MVMCallbackInterface;
}

class ExtensionRegistry {
public:
    ExtensionRegistry() = default;
    ExtensionRegistry(const ExtensionRegistry&) = delete;
    ExtensionRegistry& operator=(const ExtensionRegistry&) = delete;

    // The VM the extensions call back into and the host services they use.
    void setUp(vm::MVMCallbackInterface* aVm, vm::FrameworkServices* aHost);

    // Runs the operation on the VM operand stack; returns the new top index.
    int callExtension(int aExtension, int aOperation, int aTop, vm::Addr aStackBase);

private:
    vm::MVMCallbackInterface* iVm = nullptr;
    vm::FrameworkServices* iHost = nullptr;
};
