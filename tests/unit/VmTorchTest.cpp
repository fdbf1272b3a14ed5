// The torch and platform extensions against files and fake nodes made here:
// the control block and its requests, the device's open and closed states,
// missing devices, failing devices with their fatal messages, the lens
// cover's content, and the platform command.
#include "ExtensionTestSupport.h"

#ifdef MCB_HAVE_HOST

#include <linux/videodev2.h>

#include <cerrno>

#include "VirtualMachineExtensions/Maemo/MaemoExtension.h"
#include "VirtualMachineExtensions/Torch/TorchExtension.h"

using namespace vm;
using ext::TorchExtension;

namespace {

// A fake camera driver: one control, every request recorded.
struct FakeDriver {
    struct Request {
        unsigned long request;
        v4l2_ext_controls block;
        v4l2_ext_control control;
    };
    std::vector<Request> requests;
    int value = 0;
    int failWith = 0;
};
FakeDriver* gDriver = nullptr;

int fakeControl(int, unsigned long aRequest, void* aArgument)
{
    auto* block = static_cast<v4l2_ext_controls*>(aArgument);
    gDriver->requests.push_back({aRequest, *block, *block->controls});
    if (gDriver->failWith) {
        errno = gDriver->failWith;
        return -1;
    }
    if (aRequest == VIDIOC_S_EXT_CTRLS)
        gDriver->value = block->controls->value;
    else
        block->controls->value = gDriver->value;
    return 0;
}

// Pushes the results of ops 3 and 4 into globals 0 and 1.
const char* const kQueries = R"(
    globals
    extcall 36, 3
    stind
    globals
    field.s 1
    extcall 36, 4
    stind
)";

struct VmTorch : ExtensionFixture {
    FakeDriver driver;
    void SetUp() override
    {
        ExtensionFixture::SetUp();
        setenv("MCB_VIDEO_DEVICE", file("video0").c_str(), 1);
        setenv("MCB_LENS_COVER_NODE", file("state").c_str(), 1);
        gDriver = &driver;
    }
    void TearDown() override
    {
        TorchExtension::setDeviceControl(nullptr);
        unsetenv("MCB_VIDEO_DEVICE");
        unsetenv("MCB_LENS_COVER_NODE");
        unsetenv("MCB_PLATFORM_COMMAND");
        ExtensionFixture::TearDown();
    }
    TorchExtension* torch() { return dynamic_cast<TorchExtension*>(registry.extension(36)); }
    // Runs the program; its outcome and what it wrote on standard error.
    std::pair<std::string, std::string> runCapturing(const std::string& aMain)
    {
        testing::internal::CaptureStderr();
        std::string outcome = run("", aMain);
        return {outcome, testing::internal::GetCapturedStderr()};
    }
    int call(int aOperation, int aExtension = 36)
    {
        return registry.callExtension(aExtension, aOperation, 4, machine.stackAddress());
    }
    // What a call that must end the run wrote on standard error.
    std::string fatalOf(int aOperation, int aExtension = 36)
    {
        testing::internal::CaptureStderr();
        int code = errorCode([&] { call(aOperation, aExtension); });
        std::string err = testing::internal::GetCapturedStderr();
        return code == KErrFatal ? err : "code " + std::to_string(code) + " " + err;
    }
};

}  // namespace

TEST_F(VmTorch, ControlBlockAndDeviceStates)
{
    spit(file("video0"), "");
    spit(file("state"), "open\n");
    TorchExtension::setDeviceControl(fakeControl);
    ASSERT_EQ(run("", ""), "ok");
    EXPECT_EQ(call(1), 4);  // on: no result
    ASSERT_EQ(driver.requests.size(), 1u);
    const FakeDriver::Request& set = driver.requests[0];
    EXPECT_EQ(set.request, sizeof(void*) == 8 ? 0xC0205648ul : 0xC0185648ul);
    EXPECT_EQ(set.block.ctrl_class, 0x9A0000u);
    EXPECT_EQ(set.block.count, 1u);
    EXPECT_EQ(set.block.error_idx, 0u);
    EXPECT_EQ(set.block.request_fd, 0);
    EXPECT_EQ(set.block.reserved[0], 0u);
    EXPECT_EQ(set.control.id, 0x9A0910u);
    EXPECT_EQ(set.control.size, 0u);
    EXPECT_EQ(set.control.reserved2[0], 0u);
    EXPECT_EQ(set.control.value, 1);
    EXPECT_TRUE(torch()->deviceOpen());

    // Found on: pushes 1, the device stays open.
    EXPECT_EQ(call(3), 5);
    EXPECT_EQ(machine.stack()[5], 1);
    EXPECT_EQ(driver.requests.back().request, sizeof(void*) == 8 ? 0xC0205647ul : 0xC0185647ul);
    EXPECT_EQ(driver.requests.back().control.id, 0x9A0910u);
    EXPECT_TRUE(torch()->deviceOpen());
    // Off closes it; asking again reopens it, finds 0 and closes it.
    EXPECT_EQ(call(2), 4);
    EXPECT_EQ(driver.requests.back().control.value, 0);
    EXPECT_FALSE(torch()->deviceOpen());
    EXPECT_EQ(call(3), 5);
    EXPECT_EQ(machine.stack()[5], 0);
    EXPECT_FALSE(torch()->deviceOpen());
    EXPECT_EQ(driver.requests.size(), 4u);
    EXPECT_EQ(call(4), 5);
    EXPECT_EQ(machine.stack()[5], 1);
}

TEST_F(VmTorch, LensCoverIsOpenOnlyForExactlyOpenAndALineFeed)
{
    for (auto [content, expected] : std::vector<std::pair<std::string, int> >{
             {"open\n", 1}, {"closed\n", 0}, {"open", 0}, {"open\n\n", 0}, {"", 0}, {"Open\n", 0}}) {
        spit(file("state"), content);
        machine.stack()[5] = 7;
        EXPECT_EQ(registry.callExtension(36, 4, 4, machine.stackAddress()), 5);
        EXPECT_EQ(machine.stack()[5], expected) << content;
    }
}

TEST_F(VmTorch, MissingDevicesReadOffAndClosedWithOneMessageEach)
{
    auto [outcome, err] = runCapturing(std::string("    extcall 36, 1\n    extcall 36, 2\n    extcall 36, 1\n") + kQueries +
                                       kQueries);
    EXPECT_EQ(outcome, "ok");
    EXPECT_EQ(global(0), 0);
    EXPECT_EQ(global(1), 0);
    EXPECT_EQ(err, "Torch: " + file("video0") + " does not exist; the torch stays off\n" + "Torch: " + file("state") +
                       " does not exist; the lens cover reads as closed\n");
}

TEST_F(VmTorch, FailuresOfExistingDevicesAreFatal)
{
    // A path through a file cannot be opened.
    spit(file("video0"), "");
    setenv("MCB_VIDEO_DEVICE", (file("video0") + "/x").c_str(), 1);
    EXPECT_EQ(runCapturing("    extcall 36, 3\n"),
              (std::pair<std::string, std::string>{
                  "fatal", "FATAL: Torch: Failed to open video device: " + file("video0") + "/x: Not a directory\n"}));
    setenv("MCB_LENS_COVER_NODE", (file("video0") + "/state").c_str(), 1);
    EXPECT_EQ(fatalOf(4),
              "FATAL: Torch: Failed to fetch camera cover state from: " + file("video0") + "/state: Not a directory\n");
    // A plain file is no video device: the requests fail.
    setenv("MCB_VIDEO_DEVICE", file("video0").c_str(), 1);
    EXPECT_EQ(fatalOf(1), "FATAL: Torch: Failed to set torch state to ON: Inappropriate ioctl for device\n");
    EXPECT_EQ(fatalOf(2), "FATAL: Torch: Failed to set torch state to OFF: Inappropriate ioctl for device\n");
    EXPECT_EQ(fatalOf(3), "FATAL: Torch: Failed to fetch torch state: Inappropriate ioctl for device\n");
    // The driver refusing a request.
    TorchExtension::setDeviceControl(fakeControl);
    driver.failWith = EBUSY;
    EXPECT_EQ(fatalOf(1), "FATAL: Torch: Failed to set torch state to ON: Device or resource busy\n");
    EXPECT_EQ(fatalOf(9), "FATAL: Torch: Unknown opcode!\n");
}

TEST_F(VmTorch, PlatformRunsItsCommandAndIgnoresTheStatus)
{
    unsetenv("MCB_PLATFORM_COMMAND");
    EXPECT_EQ(ext::MaemoExtension::command(),
              "dbus-send --type=signal /lofasz com.nokia.hildon_desktop.exit_app_view");
    std::string script = file("record.sh");
    spit(script, "echo \"called $*\" >> '" + file("calls") + "'\nexit 3\n");
    setenv("MCB_PLATFORM_COMMAND", ("sh '" + script + "' exit_app_view").c_str(), 1);
    ASSERT_EQ(run("", R"(
    push 11
    extcall 37, 1
    extcall 37, 1
    globals
    ldslot.s -2
    stind
    adjust.s -1
)"),
              "ok");
    EXPECT_EQ(slurp(file("calls")), "called exit_app_view\ncalled exit_app_view\n");
    EXPECT_EQ(global(0), 11);  // the top did not move
    EXPECT_EQ(fatalOf(2, 37), "FATAL: Maemo: Unknown opcode!\n");
    EXPECT_EQ(slurp(file("calls")), "called exit_app_view\ncalled exit_app_view\n");
}

#endif  // MCB_HAVE_HOST
