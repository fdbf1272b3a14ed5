#include "ExtensionRegistry.h"

#include "VMError.h"
#include "VirtualMachineExtensions/Accelerometer/Accelerometer.h"
#include "VirtualMachineExtensions/AudioMixer/AudioMixer.h"
#include "VirtualMachineExtensions/AudioPlayer/AudioPlayer.h"
#include "VirtualMachineExtensions/Location/Location.h"
#include "VirtualMachineExtensions/Maemo/MaemoExtension.h"
#include "VirtualMachineExtensions/Torch/TorchExtension.h"

ExtensionRegistry::~ExtensionRegistry()
{
    for (int slot = ESlotCount - 1; slot >= 0; --slot)
        iExtensions[slot].reset();
}

void ExtensionRegistry::setUp(vm::MVMCallbackInterface* aVm, vm::FrameworkServices* aHost)
{
    iVm = aVm;
    iHost = aHost;
}

int ExtensionRegistry::slotOf(int aExtension)
{
    switch (aExtension) {
    case 20:
        return EAccelerometer;
    case 27:
        return ELocation;
    case 28:
        return EAudioPlayer;
    case 30:
        return EAudioMixer;
    case 36:
        return ETorch;
    case 37:
        return EPlatform;
    default:
        return -1;
    }
}

std::shared_ptr<ext::MVMExtension> ExtensionRegistry::create(int aSlot)
{
    KELVAR_ASSERT(iVm != nullptr && iHost != nullptr);
    switch (aSlot) {
    case EAccelerometer:
        return std::make_shared<ext::Accelerometer>(*iVm);
    case EAudioPlayer:
        return std::make_shared<ext::AudioPlayerExtension>(*iVm, *iHost);
    case EAudioMixer:
        return std::make_shared<ext::AudioMixerExtension>(*iVm, *iHost);
    case ELocation:
        return std::make_shared<ext::CLocationWrapper>(*iVm);
    case EPlatform:
        return std::make_shared<ext::MaemoExtension>(*iVm);
    case ETorch:
        return std::make_shared<ext::TorchExtension>(*iVm);
    default:
        return nullptr;
    }
}

ext::MVMExtension* ExtensionRegistry::extension(int aExtension) const
{
    int slot = slotOf(aExtension);
    return slot < 0 ? nullptr : iExtensions[slot].get();
}

int ExtensionRegistry::callExtension(int aExtension, int aOperation, int aTop, vm::Addr aStackBase)
{
    int slot = slotOf(aExtension);
    if (slot < 0)
        vm::raiseVmError(vm::KErrVm, "Dll not supported");
    if (!iExtensions[slot])
        iExtensions[slot] = create(slot);
    return iExtensions[slot]->callDllNative(aOperation, aTop, aStackBase);
}
