// Torch (extension 36): the camera's flash LED as a torch, through V4L2
// extended controls on the video device, and the camera's lens cover,
// through a sysfs node. No operands:
//   1 torch on           t       opens the device if closed, sets the control to 1
//   2 torch off          t       opens it if closed, sets 0, closes it
//   3 is it on           t + 1   opens it if closed, reads the control (1/0);
//                                closes it when off
//   4 is the cover open  t + 1   1 when the node holds exactly "open\n"
// The control block: class 0x9A0000 (camera), one control, id 0x9A0910,
// every other field 0.
//
// Paths: "/dev/video0" (or MCB_VIDEO_DEVICE) and
// "/sys/devices/platform/gpio-switch/cam_shutter/state" (or
// MCB_LENS_COVER_NODE). A path that does not exist means the host has no such
// device: the torch stays off and the cover reads closed, with one message on
// standard error per path. Every other failure ends the run through
// fatalError with the system's text for the error.
#pragma once

#include <string>

#include "VirtualMachineExtensions/Extension.h"

namespace ext {

class TorchExtension : public MVMExtension {
public:
    static constexpr TUint32 kControlClass = 0x9A0000;
    static constexpr TUint32 kTorchControl = 0x9A0910;
    // The system call behind the control requests (ioctl); tests replace it.
    using DeviceControl = int (*)(int aDevice, unsigned long aRequest, void* aArgument);
    static void setDeviceControl(DeviceControl aControl);

    explicit TorchExtension(vm::MVMCallbackInterface& aVm);
    ~TorchExtension() override;
    int callDllNative(int aOperation, int aTop, Addr aStackBase) override;

    bool deviceOpen() const { return iDevice >= 0; }
    static std::string devicePath();
    static std::string lensCoverPath();

private:
    // False when the device does not exist.
    bool openDevice();
    void closeDevice();
    int request(unsigned long aRequest, int aValue, const char* aFailure);
    void setTorch(int aValue);
    int torchState();
    bool lensCoverOpen();
    [[noreturn]] void fail(const std::string& aMessage, int aError);

    vm::MVMCallbackInterface& iVm;
    int iDevice = -1;
};

}  // namespace ext
