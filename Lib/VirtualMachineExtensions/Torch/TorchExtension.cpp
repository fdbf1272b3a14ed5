#include "TorchExtension.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace ext {

// The request numbers of the device's 32-bit interface.
static_assert(sizeof(void*) != 4 || (VIDIOC_G_EXT_CTRLS == 0xC0185647 && VIDIOC_S_EXT_CTRLS == 0xC0185648));

namespace {

int systemControl(int aDevice, unsigned long aRequest, void* aArgument)
{
    return ioctl(aDevice, aRequest, aArgument);
}

TorchExtension::DeviceControl gControl = systemControl;

// Says once per path that a device is missing.
void reportMissing(const std::string& aPath, const char* aConsequence)
{
    static std::set<std::string> reported;
    if (!reported.insert(aPath).second)
        return;
    std::fprintf(stderr, "Torch: %s does not exist; %s\n", aPath.c_str(), aConsequence);
    std::fflush(stderr);
}

}  // namespace

void TorchExtension::setDeviceControl(DeviceControl aControl)
{
    gControl = aControl ? aControl : systemControl;
}

std::string TorchExtension::devicePath()
{
    return configuredPath("MCB_VIDEO_DEVICE", "/dev/video0");
}

std::string TorchExtension::lensCoverPath()
{
    return configuredPath("MCB_LENS_COVER_NODE", "/sys/devices/platform/gpio-switch/cam_shutter/state");
}

TorchExtension::TorchExtension(vm::MVMCallbackInterface& aVm) : iVm(aVm) {}

TorchExtension::~TorchExtension()
{
    closeDevice();
}

void TorchExtension::fail(const std::string& aMessage, int aError)
{
    iVm.fatalError(aMessage + ": " + std::strerror(aError), -1);
    std::abort();  // fatalError does not return
}

bool TorchExtension::openDevice()
{
    if (iDevice >= 0)
        return true;
    std::string path = devicePath();
    iDevice = open(path.c_str(), O_RDONLY);
    if (iDevice >= 0)
        return true;
    int error = errno;
    if (error == ENOENT) {
        reportMissing(path, "the torch stays off");
        return false;
    }
    fail("Torch: Failed to open video device: " + path, error);
}

void TorchExtension::closeDevice()
{
    if (iDevice >= 0)
        close(iDevice);
    iDevice = -1;
}

// Makes the request on the torch control with the value; the control's
// value afterwards.
int TorchExtension::request(unsigned long aRequest, int aValue, const char* aFailure)
{
    v4l2_ext_control control;
    std::memset(&control, 0, sizeof control);
    control.id = kTorchControl;
    control.value = aValue;
    v4l2_ext_controls controls;
    std::memset(&controls, 0, sizeof controls);
    controls.ctrl_class = kControlClass;
    controls.count = 1;
    controls.controls = &control;
    if (gControl(iDevice, aRequest, &controls) < 0)
        fail(aFailure, errno);
    return control.value;
}

void TorchExtension::setTorch(int aValue)
{
    request(VIDIOC_S_EXT_CTRLS, aValue,
            aValue ? "Torch: Failed to set torch state to ON" : "Torch: Failed to set torch state to OFF");
}

int TorchExtension::torchState()
{
    return request(VIDIOC_G_EXT_CTRLS, 0, "Torch: Failed to fetch torch state");
}

bool TorchExtension::lensCoverOpen()
{
    std::string path = lensCoverPath();
    std::FILE* node = std::fopen(path.c_str(), "r");
    if (!node) {
        int error = errno;
        if (error == ENOENT) {
            reportMissing(path, "the lens cover reads as closed");
            return false;
        }
        fail("Torch: Failed to fetch camera cover state from: " + path, error);
    }
    char content[19];
    size_t length = std::fread(content, 1, sizeof content, node);
    std::fclose(node);
    return length == 5 && std::memcmp(content, "open\n", 5) == 0;
}

int TorchExtension::callDllNative(int aOperation, int aTop, Addr aStackBase)
{
    ExtensionStack stack(iVm, aTop, aStackBase);
    switch (aOperation) {
    case 1:
        if (openDevice())
            setTorch(1);
        return aTop;
    case 2:
        if (openDevice()) {
            setTorch(0);
            closeDevice();
        }
        return aTop;
    case 3: {
        int on = 0;
        if (openDevice()) {
            on = torchState() != 0;
            if (!on)
                closeDevice();
        }
        stack.setWord(aTop + 1, on);
        return aTop + 1;
    }
    case 4:
        stack.setWord(aTop + 1, lensCoverOpen() ? 1 : 0);
        return aTop + 1;
    default:
        unknownOperation(iVm, "Torch: Unknown opcode!");
    }
}

}  // namespace ext
