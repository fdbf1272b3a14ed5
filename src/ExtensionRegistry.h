// The extensions reached by the extension-call instruction, by number:
// 20 accelerometer, 28 audio player, 30 audio mixer, 27 location, 37 platform,
// 36 torch. Each extension object is made on the first call to its number and
// lives until the registry is destroyed, which releases them in the reverse
// of that order. Any other number raises code 10 "Dll not supported" and
// creates nothing.
#pragma once

#include <memory>

#include "FrameworkServices.h"
#include "Types.h"

namespace vm {
class MVMCallbackInterface;
}
namespace ext {
class MVMExtension;
}

class ExtensionRegistry {
public:
    ExtensionRegistry() = default;
    ~ExtensionRegistry();
    ExtensionRegistry(const ExtensionRegistry&) = delete;
    ExtensionRegistry& operator=(const ExtensionRegistry&) = delete;

    // The VM the extensions call back into and the host services they use.
    void setUp(vm::MVMCallbackInterface* aVm, vm::FrameworkServices* aHost);

    // Runs the operation on the VM operand stack; returns the new top index.
    int callExtension(int aExtension, int aOperation, int aTop, vm::Addr aStackBase);

    // The extension object of a number, null until its first call.
    ext::MVMExtension* extension(int aExtension) const;

private:
    enum Slot { EAccelerometer, EAudioPlayer, EAudioMixer, ELocation, EPlatform, ETorch, ESlotCount };
    static int slotOf(int aExtension);
    std::shared_ptr<ext::MVMExtension> create(int aSlot);

    vm::MVMCallbackInterface* iVm = nullptr;
    vm::FrameworkServices* iHost = nullptr;
    std::shared_ptr<ext::MVMExtension> iExtensions[ESlotCount];
};
