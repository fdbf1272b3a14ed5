// The audio mixer extension through bytecode, with no sound server: loads,
// volumes and channel numbers behave as with one, refused operands, the stack
// effects of every operation, and collection of mixers.
#include "ExtensionTestSupport.h"

#ifdef MCB_HAVE_HOST

#include "StringObjects.h"
#include "VirtualMachineExtensions/AudioMixer/AudioMixer.h"

using namespace vm;
using ext::AudioMixer;

namespace {

struct VmAudioMixer : ExtensionFixture {
    void SetUp() override
    {
        ExtensionFixture::SetUp();
        spit(file("five.raw"), std::string("\x01\x02\xFF\xFF\x7F", 5));
        spit(file("empty.raw"), "");
    }
    AudioMixer& mixerIn(Addr aCell)
    {
        return objectOf<AudioMixer>(machine.heap(), Addr(machine.space().loadWord(aCell)));
    }
};

// Global 0 is the mixer's cell; globals 1.. get the results.
const char* const kLoadAndQuery = R"(
    globals
    extcall 30, 1
    globals
    field.s 1
    globals
    ldstr "five.raw"
    extcall 30, 2
    stind
    globals
    field.s 2
    globals
    ldstr "missing.raw"
    extcall 30, 2
    stind
    globals
    field.s 3
    globals
    ldstr "empty.raw"
    extcall 30, 2
    stind
    globals
    push 1
    push 77
    extcall 30, 6
    globals
    field.s 4
    globals
    push 1
    extcall 30, 7
    stind
    globals
    field.s 5
    globals
    push 0
    extcall 30, 7
    stind
    globals                 ; channels outside the list: no effect
    push 9
    extcall 30, 4
    globals
    push -1
    extcall 30, 5
    globals
    push 2
    push 5
    extcall 30, 6
    globals
    field.s 6
    globals
    push 2
    extcall 30, 7
    stind
    globals
    push 0
    extcall 30, 4
    globals
    push 0
    extcall 30, 5
)";

}  // namespace

TEST_F(VmAudioMixer, WithoutServerLoadsCountChannelsAndVolumesReadBack)
{
    ASSERT_EQ(run("", kLoadAndQuery), "ok");
    EXPECT_EQ(global(1), 0);
    EXPECT_EQ(global(2), -1);  // no such file: no channel
    EXPECT_EQ(global(3), 1);   // an empty file is a channel without samples
    EXPECT_EQ(global(4), 77);
    EXPECT_EQ(global(5), 256);
    EXPECT_EQ(global(6), 0);   // channel 2 does not exist
    AudioMixer& mixer = mixerIn(Addr(machine.globals()));
    EXPECT_EQ(mixer.channelCount(), 2);
    EXPECT_FALSE(mixer.hasStream());
    auto* extension = dynamic_cast<ext::AudioMixerExtension*>(registry.extension(30));
    ASSERT_NE(extension, nullptr);
    EXPECT_FALSE(extension->connection()->ready());
    // The mixer still mixes: the program stopped channel 0 while it played
    // its first sample, 513, which now fades.
    int16_t out[3];
    mixer.mix(out, 3);
    EXPECT_EQ(out[0], 479);
    EXPECT_EQ(out[1], 447);
    EXPECT_EQ(out[2], 418);
}

TEST_F(VmAudioMixer, EveryOperationHasItsStackEffect)
{
    ASSERT_EQ(run("", "    globals\n    extcall 30, 1\n"), "ok");
    Addr base = machine.stackAddress();
    int32_t* s = machine.stack();
    Word mixer = Word(machine.globals());
    auto call = [&](int aOperation, std::vector<Word> aOperands) {
        for (size_t i = 0; i < aOperands.size(); ++i)
            s[10 + i] = aOperands[i];
        return registry.callExtension(30, aOperation, 9 + int(aOperands.size()), base);
    };
    Word name = Word(newStringObject(machine.heap(), OString("five.raw")));
    EXPECT_EQ(call(2, {mixer, name}), 10);
    EXPECT_EQ(s[10], 0);
    EXPECT_EQ(call(3, {mixer, 4}), 9);
    EXPECT_EQ(call(4, {mixer, 0}), 9);
    EXPECT_EQ(call(5, {mixer, 0}), 9);
    EXPECT_EQ(call(6, {mixer, 0, 300}), 9);
    EXPECT_EQ(call(7, {mixer, 0}), 10);
    EXPECT_EQ(s[10], 300);
    EXPECT_EQ(call(8, {1, 2, 3}), 9);
    EXPECT_EQ(call(9, {7, 8}), 10);
    EXPECT_EQ(s[10], 0);
    EXPECT_EQ(call(1, {Word(machine.globals()) + 4}), 9);
    EXPECT_EQ(mixerIn(Addr(machine.globals()) + 4).channelCount(), 0);
}

TEST_F(VmAudioMixer, NullAndForgedMixersAreRefused)
{
    ASSERT_EQ(run("", ""), "ok");
    Addr base = machine.stackAddress();
    int32_t* s = machine.stack();
    Addr cell = Addr(machine.globals());
    s[1] = Word(cell);  // a cell that holds no mixer yet
    s[2] = 0;
    EXPECT_EQ(errorOf([&] { registry.callExtension(30, 4, 2, base); }).second, "NullPointerException: NULL pointer");
    s[1] = 0;  // a null object
    EXPECT_EQ(errorOf([&] { registry.callExtension(30, 1, 1, base); }).second, "NullPointerException: NULL pointer");
    EXPECT_EQ(errorOf([&] { registry.callExtension(30, 3, 2, base); }).second, "NullPointerException: NULL pointer");
    // A cell holding a string is no mixer.
    machine.space().storeWord(cell, Word(unbox(machine.heap(), newStringObject(machine.heap(), OString("x")))));
    s[1] = Word(cell);
    EXPECT_EQ(errorOf([&] { registry.callExtension(30, 7, 2, base); }).second, "VMException: Invalid object");
}

TEST_F(VmAudioMixer, UnreachableMixersAreCollected)
{
    ASSERT_EQ(run("", R"(
    globals
    extcall 30, 1
    globals
    field.s 1
    extcall 30, 1
)"),
              "ok");
    int before = machine.heap().objectCount();
    machine.space().storeWord(Addr(machine.globals()), 0);
    machine.heap().collect();
    EXPECT_EQ(machine.heap().objectCount(), before - 1);
    machine.space().storeWord(Addr(machine.globals()) + 4, 0);
    machine.heap().collect();
    EXPECT_EQ(machine.heap().objectCount(), before - 2);
}

TEST_F(VmAudioMixer, UnknownOperationIsFatal)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(run("", "    extcall 30, 10\n"), "fatal");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FATAL: AudioMixer: Unknown opcode!\n"), std::string::npos);
}

#endif  // MCB_HAVE_HOST
