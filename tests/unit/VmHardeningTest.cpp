// Hostile programs against the collector, the memory limit and the
// deliveries: words that name no block wherever the collector reads, forged
// records, allocation up to the limit, files too big to load, and receivers
// that are no longer objects.
#include <gtest/gtest.h>

#include "Drawable.h"
#include "Heap.h"
#include "VmTestSupport.h"

using namespace vm;

namespace {

// Plants words that name no block (0x1000, 0xFFFFFFFF, 5), and blocks whose
// kind was rewritten to an array holder, in every place the collector reads;
// logs "slots" from inside a frame whose stack map names such words, then
// "done". globals[9] holds the address of a garbage block, xor 0x80000000.
const char* const kBadWords = R"(
.module "badwords"
.globals 10
.class C arrays 1 ref 2 plain
.map m
.map slots locals 6 arrays 1 ref 5 ref inline 2 ref refs 4 checked 6
.static "::global::init" init map m
.static "main" main map m
.static "slots" slots map slots
.code
init:
    ret 0, 1
main:
    globals                 ; [0] a plain array holder naming 0x1000
    new 6, 2
    dup
    push 0x1000
    stind
    stind
    globals                 ; [1] a reference array holder naming 0xFFFFFFFF
    field.s 1
    new 7, 2
    dup
    push 0xFFFFFFFF
    stind
    stind
    globals                 ; [2] a box holding 5
    field.s 2
    new 14, 1
    dup
    push 5
    stind
    stind
    globals                 ; [3] a raw block retyped to a plain array holder
    field.s 3
    new 2, 2
    dup
    push 0x1000
    stind
    dup
    field.s -2              ; its header's gcCode
    push 6
    stind
    stind
    globals                 ; [4] a bitmap paint record with no graphics nor bitmap
    field.s 4
    new 16, 3
    dup
    push 2
    stind
    dup
    field.s 1
    push 0x1000
    stind
    dup
    field.s 2
    push 0xFFFFFFFF
    stind
    stind
    globals                 ; [5] a record of no kind
    field.s 5
    new 16, 3
    dup
    push 7
    stind
    dup
    field.s 1
    push 5
    stind
    stind
    globals                 ; [6] an instance whose array fields name no vector
    field.s 6
    new 1, 3
    dup
    setclass C
    dup
    field.s 1
    push 5
    stind
    dup
    field.s 2
    push 0x1000
    stind
    stind
    globals                 ; [7] a reference vector whose element array is 0x1000
    field.s 7
    new 7, 2
    dup
    newvec 4
    dup
    ldind
    dup
    field.s 1
    push 0x1000
    stind
    dup
    field.s 2
    push 3
    stind
    field.s 3
    push 3
    stind
    stind
    globals                 ; [8] a reference vector whose elements name no block
    field.s 8
    new 7, 2
    dup
    newvec 4
    dup
    ldind                   ; [.. holder vector]
    dup
    field.s 1
    push 0xFFFFFFFF         ; elements: 0xFFFFFFFF, 0x1000, 5
    push 0x1000
    push 5
    mkblock.s 3
    stind
    dup
    field.s 2
    push 3
    stind
    field.s 3
    push 3
    stind
    stind
    globals                 ; [9] garbage, not a reference
    field.s 9
    new 2, 1
    push 0x80000000
    xor
    stind
    push 0x1000             ; a timer listener and an application object
    push 100
    native Timer 1
    adjust.s -1
    push 0xFFFFFFFF
    native System 5
    call "slots"
    ldstr "done"
    native Debug 1
    ret 0, 1
slots:
    push 0x1000             ; slot 1: an array slot
    push 0xFFFFFFFF         ; slots 2, 3: an inline holder
    push 4
    push 5                  ; slot 4: a reference slot
    new 2, 1                ; slot 5: an array slot naming a block whose word 0 is 5
    dup
    push 5
    stind
    push 0x1000             ; slot 6: a checked slot
    ldstr "slots"
    native Debug 1
    ret 6, 7
)";

std::string capturedRun(const std::string& source, TestHost& host, VirtualMachine& machine, std::string& err)
{
    testing::internal::CaptureStderr();
    std::string outcome = runProgram(assembleOrFail(source), host, machine);
    err = testing::internal::GetCapturedStderr();
    return outcome;
}

}  // namespace

TEST(VmHardening, WordsThatNameNoBlockNeverStopACollection)
{
    for (bool stress : {false, true}) {
        TestHost host;
        VirtualMachine machine;
        machine.setGcStress(stress);
        std::string err;
        ASSERT_EQ(capturedRun(kBadWords, host, machine, err), "ok") << err;
        EXPECT_EQ(host.logs, (std::vector<std::string>{"slots", "done"})) << err;
        EXPECT_EQ(err, "");
        // Collections complete, keep what the globals hold and free the rest.
        int before = machine.heap().nOfEntries();
        machine.heap().collect();
        machine.collectWithStack();
        EXPECT_EQ(machine.heap().nOfEntries(), before);
        Addr globals = Addr(machine.globals());
        for (int i = 0; i < 9; ++i)
            EXPECT_TRUE(machine.heap().isLiveBlock(Addr(machine.space().loadWord(globals + 4 * i)))) << i;
        Addr garbage = Addr(machine.space().loadWord(globals + 36)) ^ 0x80000000u;
        EXPECT_FALSE(machine.heap().isLiveBlock(garbage));
    }
}

TEST(VmHardening, NativesRefuseAForgedRecordWhenTheyUseIt)
{
    // A record the collector ignores is refused by the natives that read it.
    TestHost host;
    VirtualMachine machine;
    std::string err;
    ASSERT_EQ(capturedRun(std::string(kExceptionPrelude) + R"(
.module "forged"
.map m
.static "::global::init" init map m
.static "main" main map m
init:
    ret 0, 1
main:
    try any refused
    new 2, 1                ; a graphics object whose record has kind 7
    dup
    new 16, 3
    dup
    push 7
    stind
    stind
    push 0xFF0000
    native Graphics 8
    ldstr "drawn"
    native Debug 1
    ret 0, 1
refused:
    field.s 2
    ldind
    native Debug 1
    ret 0, 1
)",
                          host, machine, err),
              "ok")
        << err;
    EXPECT_EQ(host.logs, (std::vector<std::string>{"VMException: Invalid object type ID"}));
}

namespace {

// An application object and two timers (a listener that is no object, one
// that is freed); `free app` frees the application object.
std::string deliveryProgram(bool freeApplication)
{
    return std::string(kExceptionPrelude) + R"(
.module "deliveries"
.class App
.map m
.map one params 1
.map ptr params 5
.map two params 2
.static "::global::init" init map m
.static "main" main map m
.virtual "<*systemtimerlistener>.systemtimerevent" impl App tick map one
.virtual "<*application>.pointer event<int>at x<int>y<int>modifiers<int>" impl App pointer map ptr
.virtual "<*application>.draw to<canvas>" impl App draw map two
.virtual "<*application>.key pressed<keyevent>" impl App key map two
.virtual "<*application>.foreground event" impl App fg map one
init:
    ret 0, 1
main:
    push 12345              ; timer 10: a listener that is no object
    push 100
    native Timer 1
    adjust.s -1
    new 1, 1                ; timer 11: a listener freed below
    dup
    setclass App
    dup
    push 100
    native Timer 1
    adjust.s -1
    new 1, 1                ; timer 12 and the application object
    dup
    setclass App
    dup
    dup
    push 100
    native Timer 1
    adjust.s -1
    native System 5
)" + (freeApplication ? "    free\n" : "    adjust.s -1\n") +
           R"(    free                    ; timer 11's listener
    ret 0, 1
tick:
    ldstr "tick"
    native Debug 1
    ret 0, 2
pointer:
    ldstr "pointer"
    native Debug 1
    ret 0, 6
draw:
    ret 0, 3
key:
    ret 0, 3
fg:
    ldstr "foreground"
    native Debug 1
    ret 0, 2
)";
}

struct Delivery {
    std::string outcome;
    std::string err;
};

template <typename F>
Delivery deliver(F&& f)
{
    Delivery d;
    testing::internal::CaptureStderr();
    try {
        f();
        d.outcome = "ok";
    } catch (const TerminationSignal&) {
        d.outcome = "signal";
    } catch (const ErrorHandlingException&) {
        d.outcome = "error " + toLatin1(pendingError().text);
        clearPendingError();
    }
    d.err = testing::internal::GetCapturedStderr();
    return d;
}

}  // namespace

TEST(VmHardening, ADeliveryToWhatIsNoLongerAnObjectEndsTheRunNamingIt)
{
    {
        TestHost host;
        VirtualMachine machine;
        std::string err;
        ASSERT_EQ(capturedRun(deliveryProgram(false), host, machine, err), "ok") << err;
        ASSERT_EQ(host.timers.size(), 3u);
        Delivery d = deliver([&] { machine.deliverTimer(host.timers[10], 10); });
        EXPECT_EQ(d.outcome, "error UnknownException (CODE:11)");
        EXPECT_EQ(d.err, "FATAL: timer 10: listener is not a live object\n");
        d = deliver([&] { machine.deliverTimer(host.timers[11], 11); });
        EXPECT_EQ(d.err, "FATAL: timer 11: listener is not a live object\n");
        EXPECT_EQ(machine.runningHandle(), -1);
        EXPECT_TRUE(host.logs.empty());
        // A live listener and the application object still get their events.
        machine.deliverTimer(host.timers[12], 12);
        machine.deliverPointer(0, 1, 2, 0);
        machine.deliverForeground();
        EXPECT_EQ(host.logs, (std::vector<std::string>{"tick", "pointer", "foreground"}));
    }
    TestHost host;
    VirtualMachine machine;
    std::string err;
    ASSERT_EQ(capturedRun(deliveryProgram(true), host, machine, err), "ok") << err;
    struct Case {
        std::function<void()> deliver;
        const char* message;
    };
    const Case cases[] = {
        {[&] { machine.deliverPointer(0, 1, 2, 0); }, "FATAL: pointer event: application object is not a live object\n"},
        {[&] { machine.deliverDraw(createGraphicsDrawable(machine.heap(), 0)); },
         "FATAL: draw: application object is not a live object\n"},
        {[&] { machine.deliverKey(1, 2, 0, OString("k"), true); },
         "FATAL: key pressed: application object is not a live object\n"},
        {[&] { machine.deliverForeground(); }, "FATAL: foreground event: application object is not a live object\n"},
    };
    for (const Case& c : cases) {
        Delivery d = deliver(c.deliver);
        EXPECT_EQ(d.outcome, "error UnknownException (CODE:11)") << c.message;
        EXPECT_EQ(d.err, c.message);
    }
    // A host call of a virtual method on a word that is no object.
    int handle = machine.getMethodHandle(CAppsString("<systemtimerlistener>.systemtimerevent"), 0);
    Delivery d = deliver([&] { machine.callMethod(handle, Vec<int>{5}, Vec<int>{1}, -1); });
    EXPECT_EQ(d.err, "FATAL: <systemtimerlistener>.systemtimerevent: receiver is not a live object\n");
    EXPECT_TRUE(host.logs.empty());
}

TEST(VmHardening, WithoutAnApplicationObjectItsDeliveriesDoNothing)
{
    TestHost host;
    VirtualMachine machine;
    std::string err;
    ASSERT_EQ(capturedRun(std::string(kExceptionPrelude) + R"(
.module "noapp"
.class App
.map m
.map one params 1
.static "::global::init" init map m
.static "main" main map m
.virtual "<*application>.foreground event" impl App fg map one
.virtual "<*application>.background event" impl App fg map one
.virtual "<*application>.exit event" impl App fg map one
init:
    ret 0, 1
main:
    ret 0, 1
fg:
    ldstr "event"
    native Debug 1
    ret 0, 2
)",
                          host, machine, err),
              "ok");
    Delivery d = deliver([&] {
        machine.deliverForeground();
        machine.deliverBackground();
        machine.deliverExit();
    });
    EXPECT_EQ(d.outcome, "ok");
    EXPECT_EQ(d.err, "");
    EXPECT_TRUE(host.logs.empty());
}

namespace {

// Allocates blocks of 4 MiB in a chain until the heap refuses; logs the
// error's text and how many blocks it got.
const char* const kAllocationLoop = R"(
.module "oom"
.map m
.map loop locals 2
.static "::global::init" init map m
.static "main" main map loop
init:
    ret 0, 1
main:
    adjust.s 2              ; slot 1: count, slot 2: the chain
    try any full
again:
    new 2, 0x100000
    dup
    ldslot.s -3
    stind                   ; block.w0 = chain
    ldaddr.s -2
    ldslot.s -2
    stind                   ; chain = block
    adjust.s -1
    ldaddr.s -2
    inc.i
    jmp.s again
full:
    field.s 2
    ldind
    native Debug 1
    ldslot.s -2
    itos
    native Debug 1
    ret 2, 3
)";

}  // namespace

TEST(VmHardening, AllocationStopsAtTheMemoryLimitWithOutOfMemory)
{
    TestHost host;
    VirtualMachine machine;
    machine.space().setMemoryLimit(64u << 20);
    std::string err;
    ASSERT_EQ(capturedRun(std::string(kExceptionPrelude) + kAllocationLoop, host, machine, err), "ok") << err;
    ASSERT_EQ(host.logs.size(), 2u);
    EXPECT_EQ(host.logs[0], "VMException: Out of memory");
    int blocks = std::stoi(host.logs[1]);
    EXPECT_GE(blocks, 13);  // 64 MiB less the stack, the first pool and string buffers
    EXPECT_LE(blocks, 15);
    EXPECT_LE(machine.space().committedBytes(), 64u << 20);
}

namespace {

// A module with "::global::init" and "main" (both `ret 0, 1` at 0),
// `globalWords` words of globals and `codeBytes` bytes of code.
std::vector<uint8_t> moduleWith(int32_t globalWords, size_t codeBytes)
{
    std::vector<uint8_t> b;
    auto u8 = [&](int v) { b.push_back(uint8_t(v)); };
    auto i32 = [&](int32_t v) {
        for (int i = 0; i < 4; ++i)
            u8(int(uint32_t(v) >> (8 * i)) & 0xFF);
    };
    auto text = [&](const std::string& s) {
        i32(int32_t(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    };
    u8(20);
    for (int i = 0; i < 20; ++i)
        u8('g');
    u8(0xFF);
    u8(0xFF);
    for (int i = 0; i < 9; ++i)
        u8(1);
    i32(2);
    text("::global::init");
    u8(0);
    u8(0);
    text("main");
    u8(0);
    u8(0);
    i32(0);            // virtual methods
    i32(globalWords);  // globals
    i32(0);            // classes
    i32(1);            // one empty stack map
    u8(1);
    u8(0);
    i32(0);
    i32(0);
    u8(0);
    u8(0);
    i32(0);
    i32(0);
    i32(0);  // strings
    u8(16);  // ret 0, 1
    i32(0);
    i32(1);
    b.resize(b.size() + (codeBytes > 9 ? codeBytes - 9 : 0), 0);  // nop
    return b;
}

}  // namespace

TEST(VmHardening, AFileWhoseFixedPartsExceedTheMemoryLimitIsRefused)
{
    {
        // 2 GiB of globals in a file of 148 bytes.
        std::vector<uint8_t> file = moduleWith(0x1FFC0000, 9);
        EXPECT_LT(file.size(), 160u);
        TestHost host;
        VirtualMachine machine;
        testing::internal::CaptureStderr();
        EXPECT_EQ(runProgram(file, host, machine), "error UnknownException (CODE:11)");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "FATAL: Error while reading bytecode\noffset 70: the module needs more memory than the VM may take\n");
        EXPECT_LT(machine.space().committedBytes(), 4u << 20);
        EXPECT_EQ(machine.globals(), 0);
    }
    {
        // 100 MiB of globals fit the default limit.
        TestHost host;
        VirtualMachine machine;
        EXPECT_EQ(runProgram(moduleWith(100 << 18, 9), host, machine), "ok");
        EXPECT_EQ(machine.heap().payloadSize(Addr(machine.globals())), 100u << 20);
    }
    // Code and globals together count against a lower limit.
    for (uint64_t limit : {uint64_t(3) << 20, uint64_t(8) << 20}) {
        TestHost host;
        VirtualMachine machine;
        machine.space().setMemoryLimit(machine.space().committedBytes() + limit);
        testing::internal::CaptureStderr();
        std::string outcome = runProgram(moduleWith(1 << 18, 2u << 20), host, machine);  // 1 MiB + 2 MiB
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(outcome, limit < (4u << 20) ? "error UnknownException (CODE:11)" : "ok") << limit;
    }
}
