// The extension registry and the accelerometer, through bytecode: creation
// on first call, unknown numbers and operations, the stack effect, the axis
// mapping of the sensor node and its absence, and the simulated reading.
#include "ExtensionTestSupport.h"

#ifdef MCB_HAVE_HOST

#include "ORaw.h"
#include "VirtualMachineExtensions/Accelerometer/Accelerometer.h"

using namespace vm;
using ext::Accelerometer;

namespace {

// Reads X, Y and Z into globals 0..5 (two words each).
const char* const kReadAxes = R"(
    globals
    extcall 20, 11
    storen.s 2
    globals
    field.s 2
    extcall 20, 12
    storen.s 2
    globals
    field.s 4
    extcall 20, 13
    storen.s 2
)";

const char* const kObserver = R"(
.map obs params 7
.virtual "<*accelerometerobserver>.handle accelerometer event<fixed><fixed><fixed>" impl App observe map obs
)";

struct VmAccelerometer : ExtensionFixture {
    void SetUp() override
    {
        ExtensionFixture::SetUp();
        setenv("MCB_ACCELEROMETER_NODE", file("coord").c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("MCB_ACCELEROMETER_NODE");
        Accelerometer::setSimulatedReading(std::nullopt);
        ExtensionFixture::TearDown();
    }
    Accelerometer* sensor() { return dynamic_cast<Accelerometer*>(registry.extension(20)); }
};

}  // namespace

TEST_F(VmAccelerometer, AxesComeFromTheNodeInYXZOrderAsThousandths)
{
    spit(file("coord"), "100 -200 981\n");
    ASSERT_EQ(run(kObserver, kReadAxes, "observe:\n    ret 0, 8\n"), "ok");
    EXPECT_NEAR(ORaw::toReal(globalFixed(0)), -0.2, 1e-7);
    EXPECT_NEAR(ORaw::toReal(globalFixed(2)), 0.1, 1e-7);
    EXPECT_NEAR(ORaw::toReal(globalFixed(4)), 0.981, 1e-7);
    // The quotient is taken in single precision: -0.2f = -0.20000000298...,
    // whose fixed value is 0x FFFFFFFF.CCCCCCCC... truncated toward zero.
    EXPECT_EQ(globalFixed(0), TInt64(-858993472));
    ASSERT_NE(sensor(), nullptr);
    EXPECT_GE(sensor()->observerHandle(), 0);
}

TEST_F(VmAccelerometer, EveryQueryReadsTheNodeAgain)
{
    spit(file("coord"), "0 1000 0");
    host.onLog = [&](const std::string&) { spit(file("coord"), "0 -500 0"); };
    ASSERT_EQ(run("", R"(
    globals
    extcall 20, 11
    storen.s 2
    ldstr "between"
    native Debug 1
    globals
    field.s 2
    extcall 20, 11
    storen.s 2
)"),
              "ok");
    EXPECT_EQ(globalFixed(0), ORaw::one);
    EXPECT_EQ(globalFixed(2), -ORaw::one / 2);
}

TEST_F(VmAccelerometer, MissingOrMalformedNodeReadsZeroAndNoObserverIsNoStop)
{
    // No node at all: a program without the observer method runs to its end.
    ASSERT_EQ(run("", std::string(kReadAxes) + R"(
    ldstr "done"
    native Debug 1
)"),
              "ok");
    EXPECT_EQ(host.logs, std::vector<std::string>{"done"});
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(global(i), 0) << i;
    EXPECT_EQ(sensor()->observerHandle(), -1);

    spit(file("coord"), "12 abc 7");
    EXPECT_FALSE(Accelerometer::readNode(file("coord")).has_value());
    // "%i" reads hexadecimal and octal too.
    spit(file("coord"), "0x10 010 -3\n");
    auto reading = Accelerometer::readNode(file("coord"));
    ASSERT_TRUE(reading.has_value());
    EXPECT_EQ(reading->y, 16);
    EXPECT_EQ(reading->x, 8);
    EXPECT_EQ(reading->z, -3);
}

TEST_F(VmAccelerometer, SimulatedReadingReplacesTheNode)
{
    spit(file("coord"), "100 -200 981\n");
    Accelerometer::setSimulatedReading(Accelerometer::Reading{250, -500, -1000});
    ASSERT_EQ(run("", kReadAxes), "ok");
    EXPECT_EQ(globalFixed(0), ORaw::one / 4);
    EXPECT_EQ(globalFixed(2), -ORaw::one / 2);
    EXPECT_EQ(globalFixed(4), -ORaw::one);
}

TEST_F(VmAccelerometer, RegistryMakesEachExtensionOnceAndRefusesUnknownNumbers)
{
    ASSERT_EQ(run("", ""), "ok");
    Addr base = machine.stackAddress();
    // An unknown number creates nothing.
    EXPECT_EQ(errorOf([&] { registry.callExtension(21, 1, 3, base); }),
              (std::pair<int, std::string>{10, "VMException: Dll not supported"}));
    EXPECT_EQ(registry.extension(21), nullptr);
    EXPECT_EQ(registry.extension(20), nullptr);
    // Pushes two slots above the top: the new top is top + 2.
    machine.stack()[8] = 0x5A5A;
    EXPECT_EQ(registry.callExtension(20, 12, 5, base), 7);
    EXPECT_EQ(machine.stack()[6], 0);
    EXPECT_EQ(machine.stack()[7], 0);
    EXPECT_EQ(machine.stack()[8], 0x5A5A);
    ext::MVMExtension* first = registry.extension(20);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(registry.callExtension(20, 13, 0, base), 2);
    EXPECT_EQ(registry.extension(20), first);
    // No room above the top ends the run.
    testing::internal::CaptureStderr();
    EXPECT_EQ(errorCode([&] { registry.callExtension(20, 11, VirtualMachine::kStackWords - 2, base); }), KErrFatal);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "FATAL: Stack overflow\n");
}

TEST_F(VmAccelerometer, UnknownOperationIsFatal)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(run("", "    extcall 20, 14\n    ldstr \"after\"\n    native Debug 1\n"), "fatal");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "FATAL: SensorDLL: Unknown opcode!\n");
    EXPECT_TRUE(host.logs.empty());
}

#endif  // MCB_HAVE_HOST
