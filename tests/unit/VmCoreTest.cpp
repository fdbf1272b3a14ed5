// The VM core seen from the host: method handles, invocation with
// indirection levels, the queue of stored calls, event delivery, error
// conversion and the fatal paths, the stack root scan.
#include <gtest/gtest.h>

#include "KeyEvent.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VmTestSupport.h"

using namespace vm;

namespace {

const char* const kMinimal = R"(
.module "minimal"
.map m params 0 extra 0 locals 0
.static "::global::init" ret map m
.static "main" ret map m
.code
ret:
    ret 0, 1
)";

struct VmCore : ::testing::Test {
    TestHost host;
    VirtualMachine machine;

    std::string start(const std::string& source) { return runProgram(assembleOrFail(source), host, machine); }
    int handle(const char* signature) { return machine.getMethodHandle(CAppsString(signature), 0); }
    std::string outcomeOf(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const TerminationSignal& t) {
            return t.kind == TerminationSignal::Fatal ? "fatal" : "terminated";
        } catch (const ErrorHandlingException&) {
            std::string text = toLatin1(pendingError().text);
            clearPendingError();
            return "error " + text;
        }
        return "ok";
    }
    // An instance of class c in the heap.
    Addr instance(int c, int words = 2)
    {
        Addr p = machine.heap().alloc(4u * words, 0, GC_CODE_INSTANCE);
        machine.space().setRawWord(p, c);
        return p;
    }
};

}  // namespace

TEST_F(VmCore, SignaturesMatchMethodNamesSegmentBySegmentWithStarLevels)
{
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.static "mainly" ret map m
.static "<**application>.draw to<*canvas>" ret map m
.static "(*int)value<int>" ret map m
.static "other" ret map m
.code
)"),
              "ok");
    // "main" matches the first method whose name begins with it.
    int main = handle("main");
    EXPECT_EQ(machine.handleTable[main].methodIndex, 1);
    int draw = handle("<application>.draw to<canvas>");
    ASSERT_GE(draw, 0);
    EXPECT_EQ(machine.handleTable[draw].hasResult, 0);
    ASSERT_EQ(machine.handleTable[draw].argumentLevels.count(), 2);
    EXPECT_EQ(machine.handleTable[draw].argumentLevels[0], 2);
    EXPECT_EQ(machine.handleTable[draw].argumentLevels[1], 1);
    int value = handle("(int)value<int>");
    ASSERT_GE(value, 0);
    EXPECT_EQ(machine.handleTable[value].hasResult, 1);
    EXPECT_EQ(machine.handleTable[value].resultLevel, 1);
    ASSERT_EQ(machine.handleTable[value].argumentLevels.count(), 1);
    EXPECT_EQ(machine.handleTable[value].argumentLevels[0], 0);
    // A method with a handle answers with it whatever the signature's text.
    EXPECT_EQ(handle("(int)val"), value);
    EXPECT_EQ(handle("nothing"), -1);
    // Static methods of another module are never matched.
    EXPECT_EQ(machine.getMethodHandle(CAppsString("other"), 5), -1);
}

TEST_F(VmCore, VirtualMethodsMatchFromAnyModule)
{
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.class App
.virtual "<*application>.ping" impl App ret map m
.code
)"),
              "ok");
    EXPECT_GE(machine.getMethodHandle(CAppsString("<application>.ping"), 7), 0);
}

TEST_F(VmCore, InvokeWrapsArgumentsAndResultsByLevel)
{
    // "(value<**x>": one argument of level 2: a box holding a block holding
    // the word; the method returns the word two dereferences down.
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.map one params 1 extra 1 locals 0
.static "(value<**x>" value map one
.static "(*box<int>" box map one
.code
value:
    ldaddr.s -3
    ldslot.s -3
    ldind2
    stind
    ret 0, 2
box:
    ldaddr.s -3
    ldslot.s -3
    box
    stind
    ret 0, 2
)"),
              "ok");
    int value = handle("(value<x>");
    EXPECT_EQ(machine.callMethod(value, Vec<int>{1234}, Vec<int>{0}, 0), 1234);
    // The host may hand a level-1 value: then one wrap less is made.
    Addr cell = newBox(machine.heap(), 77);
    EXPECT_EQ(machine.callMethod(value, Vec<int>{Word(cell)}, Vec<int>{1}, 0), 77);
    // A result of level 1 is unwrapped by the caller's levels: -1 here gives
    // one dereference of the box the method returned.
    int box = handle("(box<int>");
    EXPECT_EQ(machine.callMethod(box, Vec<int>{55}, Vec<int>{0}, 0), 55);
    Word boxed = machine.callMethod(box, Vec<int>{56}, Vec<int>{0}, 1);
    EXPECT_EQ(machine.space().loadWord(Addr(boxed)), 56);
}

TEST_F(VmCore, WrapBuildsAndFollowsIndirectionLevels)
{
    ASSERT_EQ(start(kMinimal), "ok");
    EXPECT_EQ(machine.wrap(0, 9, GC_CODE_REFERENCE), 9);
    Word one = machine.wrap(1, 9, GC_CODE_REFERENCE);
    EXPECT_EQ(machine.heap().gcCodeOf(Addr(one)), GC_CODE_REFERENCE);
    EXPECT_EQ(machine.wrap(-1, one, GC_CODE_REFERENCE), 9);
    Word two = machine.wrap(2, 9, GC_CODE_NATIVE);
    EXPECT_EQ(machine.heap().gcCodeOf(Addr(machine.wrap(-1, two, 0))), GC_CODE_NATIVE);
    EXPECT_EQ(machine.wrap(-2, two, 0), 9);
    Word three = machine.wrap(3, 9, GC_CODE_REFERENCE);
    EXPECT_EQ(machine.wrap(-3, three, 0), 9);
    EXPECT_EQ(machine.wrap(4, 9, 0), 0);
    EXPECT_EQ(outcomeOf([&] { machine.wrap(-1, 0, 0); }), "error NullPointerException: NULL pointer");
}

TEST_F(VmCore, ResultIsPinnedWhileQueuedCallsRunAndTheirResultsDoNotInterfere)
{
    // "(*make" returns a new box; while its invocation ends, a queued call
    // runs and collects: the box must survive until the caller gets it.
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.class App
.map one params 0 extra 1 locals 0 refs 0
.map ev params 1 extra 0 locals 0
.string s "event"
.static "(*make" make map one
.virtual "<*application>.foreground event" impl App fg map ev
.code
make:
    ldaddr.s -2
    push 31
    box
    stind
    ldstr s
    native Debug 1
    ret 0, 1
fg:
    ldstr s
    native Debug 1
    ret 0, 2
)"),
              "ok");
    machine.setApplication(Word(instance(1)));
    machine.globalInit(0);
    int make = handle("(make");
    // The host delivers a foreground event during the invocation.
    host.onLog = [&](const std::string&) {
        if (host.logs.size() == 1)
            machine.deliverForeground();
    };
    Word box = machine.callMethod(make, Vec<int>(), Vec<int>(), 1);
    EXPECT_EQ(host.logs.size(), 2u);  // make's log, then the queued event's
    EXPECT_TRUE(machine.heap().isLiveBlock(Addr(box)));
    EXPECT_EQ(machine.space().loadWord(Addr(box)), 31);
    EXPECT_TRUE(machine.heap().roots().size() <= 2u);  // app and globals at most: the pin is gone
}

TEST_F(VmCore, KeyEventsArrivingDuringAnInvocationRunAfterItInOrderAndSurviveCollection)
{
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.class App
.map ev params 2 extra 0 locals 0 refs 0 1
.map one params 0 extra 0 locals 0
.string s "work"
.static "work" work map one
.virtual "<*application>.key pressed<keyevent>" impl App key map ev
.code
work:
    ldstr s
    native Debug 1
    ret 0, 1
key:                        ; [app][event][return address]
    ldslot.s -2
    native KeyEvent 1
    itos
    native Debug 1
    ldslot.s -2
    native KeyEvent 4
    native Debug 1
    ret 0, 3
)"),
              "ok");
    machine.setApplication(Word(instance(1)));
    machine.globalInit(0);
    host.onLog = [&](const std::string& m) {
        if (m == "work") {
            machine.deliverKey(0x41, 38, 0, OString("a"), true);
            machine.deliverKey(0x1000003, 113, 0, OString(""), true);
            // Garbage made while the calls wait in the queue.
            for (int i = 0; i < 1000; ++i)
                machine.heap().alloc(24, 0, GC_CODE_NATIVE);
        }
    };
    machine.setGcStress(true);
    machine.callMethod(handle("work"), Vec<int>(), Vec<int>(), -1);
    EXPECT_EQ(host.logs, (std::vector<std::string>{"work", "65", "a", "16777219", ""}));
    EXPECT_EQ(machine.queuedCalls(), 0u);
}

TEST_F(VmCore, DeliveriesNeedTheirHandleAndTheApplication)
{
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.class App
.map ev params 5 extra 0 locals 0
.map draw params 2 extra 0 locals 0
.string s "pointer"
.string d "draw"
.virtual "<*application>.pointer event<int>at x<int>y<int>modifiers<int>" impl App ptr map ev
.virtual "<*application>.draw to<canvas>" impl App drw map draw
.code
ptr:
    ldstr s
    native Debug 1
    ldslot.s -4             ; x
    ldslot.s -4             ; y
    add
    ldslot.s -6             ; type
    add
    itos
    native Debug 1
    ret 0, 6
drw:
    ldstr d
    native Debug 1
    ret 0, 3
)"),
              "ok");
    machine.deliverPointer(0, 10, 20, 0);  // no application yet: nothing
    machine.deliverDraw(0);
    EXPECT_TRUE(host.logs.empty());
    machine.setApplication(Word(instance(1)));
    machine.deliverPointer(6, 10, 20, 0);
    machine.deliverDraw(0);
    machine.deliverForeground();  // no handler: nothing
    machine.deliverKey(1, 2, 0, OString("x"), true);
    EXPECT_EQ(host.logs, (std::vector<std::string>{"pointer", "36", "draw"}));
}

TEST_F(VmCore, DrawOrTimerDuringAnInvocationIsAConcurrencyError)
{
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.class App
.map one params 0 extra 0 locals 0
.map draw params 2 extra 0 locals 0
.string s "work"
.static "work" work map one
.virtual "<*application>.draw to<canvas>" impl App drw map draw
.code
work:
    ldstr s
    native Debug 1
    ret 0, 1
drw:
    ret 0, 3
)"),
              "ok");
    machine.setApplication(Word(instance(1)));
    host.onLog = [&](const std::string&) { machine.deliverDraw(0); };
    testing::internal::CaptureStderr();
    EXPECT_EQ(outcomeOf([&] { machine.callMethod(handle("work"), Vec<int>(), Vec<int>(), -1); }), "fatal");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FATAL: VM concurrency error"), std::string::npos);
    EXPECT_EQ(machine.runningHandle(), -1);
}

TEST_F(VmCore, AnInvocationWithoutAMatchingEntryRunsNothingButDrainsTheQueue)
{
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.class App
.class Other
.map ev params 1 extra 0 locals 0
.string s "ran"
.virtual "<*application>.foreground event" impl Other fg map ev
.code
fg:
    ldstr s
    native Debug 1
    ret 0, 2
)"),
              "ok");
    machine.setApplication(Word(instance(1)));  // an App: no implementation
    machine.deliverForeground();
    EXPECT_TRUE(host.logs.empty());
    machine.setApplication(Word(instance(2)));
    machine.deliverForeground();
    EXPECT_EQ(host.logs, std::vector<std::string>{"ran"});
}

TEST_F(VmCore, RaisedErrorsBecomeThrowablesWithTheComposedText)
{
    ASSERT_EQ(start(std::string(kMinimal) + kExceptionPrelude + R"(
.map one params 0 extra 0 locals 0
.static "bad byte" badbyte map one
.static "bad long" badlong map one
.static "bad float" badfloat map one
.code
badbyte:
    try any caught
    nop
    native Byte 0
caught:
    field.s 2
    ldind
    native Debug 1
    ret 0, 1
badlong:
    native Long 4
    ret 0, 1
badfloat:
    native Float 99
    ret 0, 1
)"),
              "ok");
    machine.callMethod(handle("bad byte"), Vec<int>(), Vec<int>(), -1);
    ASSERT_EQ(host.logs.size(), 1u);
    // The position is that of the native instruction: after try (9 bytes) and nop.
    int badbyte = machine.methods[machine.handleTable[handle("bad byte")].methodIndex].entries[0].codeAddress;
    EXPECT_EQ(host.logs[0], "VMException: Byte:" + std::to_string(badbyte + 10));
    // Uncaught: "vmprintthrowableandexit" logs and terminates the run.
    EXPECT_EQ(outcomeOf([&] { machine.callMethod(handle("bad long"), Vec<int>(), Vec<int>(), -1); }), "terminated");
    ASSERT_EQ(host.logs.size(), 3u);
    EXPECT_EQ(host.logs[1], "uncaught");
    EXPECT_EQ(host.logs[2].rfind("VMException: Long:", 0), 0u);
    EXPECT_EQ(outcomeOf([&] { machine.callMethod(handle("bad float"), Vec<int>(), Vec<int>(), -1); }), "terminated");
    EXPECT_EQ(machine.runningHandle(), -1);
    EXPECT_EQ(host.logs.back(), "VMException: Float: invalid opcode: 99");
}

TEST_F(VmCore, FatalPathsEndTheRunWithTheirMessages)
{
    struct Case {
        const char* code;
        const char* message;
    };
    const Case cases[] = {
        {".byte 200", "FATAL: Internal error: invalid opcode -56"},
        {"native 0, 1", "FATAL: Internal error: invalid group in native call: 0"},
        {"native 37, 1", "FATAL: Internal error: invalid group in native call: 37"},
        {"native 2, 1", "FATAL: Internal error: invalid group in native call: 2"},
        {"new 8, 1", "FATAL: Invalid mem alloc gc code"},
        {"new 18, 1", "FATAL: Invalid mem alloc gc code"},
        {"new 0, 1", "FATAL: Invalid mem alloc gc code"},
        {"new 6, 2\n newvec 3", "FATAL: Internal error: invalid vector element size 3"},
        {"push 3\n vcall \"v\"", "FATAL: Invalid type in virtual method call"},
        {"jmp.s -1000", "FATAL: Internal error: invalid code address"},
        {"adjust.s -5", "FATAL: Stack underflow"},
        {"adjust 20000", "FATAL: Stack overflow"},
        {"add\n add\n add", "FATAL: Stack underflow"},
        {"push 10\n throw", "FATAL: 'vmprintthrowableandexit<throwable>' not found"},
        {"ldzero\n ldind", "FATAL: 'vminternalthrow<int>,<string>' not found"},
        {"ret 100, 0", "FATAL: Stack underflow"},
    };
    for (const Case& c : cases) {
        TestHost h;
        VirtualMachine vmachine;
        std::string source = std::string(R"(
.module "fatal"
.class C
.map m params 0 extra 0 locals 0
.static "::global::init" init map m
.static "main" main map m
.virtual "v" impl C init map m
.code
init:
    ret 0, 1
main:
    )") + c.code + "\n    ret 0, 1\n";
        testing::internal::CaptureStderr();
        std::string outcome = runProgram(assembleOrFail(source), h, vmachine);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(outcome, "fatal") << c.code;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.code << ": " << err;
    }
}

TEST_F(VmCore, StartUpFailuresAreFatalBeforeAnyInvocation)
{
    testing::internal::CaptureStderr();
    std::vector<uint8_t> junk{1, 2, 3};
    EXPECT_EQ(runProgram(junk, host, machine), "error UnknownException (CODE:11)");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FATAL: Error while reading bytecode"),
              std::string::npos);
    TestHost h2;
    VirtualMachine m2;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runProgram(assembleOrFail(".module \"x\"\n.map m params 0\n.static \"init\" r map m\n.code\nr: ret 0, 1\n"),
                         h2, m2),
              "error UnknownException (CODE:11)");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FATAL: 'main' not found"), std::string::npos);
    TestHost h3;
    VirtualMachine m3;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runProgram(assembleOrFail(".module \"x\"\n.map m params 0\n.static \"main\" r map m\n.code\nr: ret 0, 1\n"),
                         h3, m3),
              "error UnknownException (CODE:11)");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FATAL: '::global::init' not found"), std::string::npos);
}

TEST_F(VmCore, StackSlotOperandsAndHandlerCountsAreChecked)
{
    ASSERT_EQ(start(std::string(kMinimal) + kExceptionPrelude + R"(
.class Never
.map one params 0 extra 0 locals 0
.static "slot" slot map one
.static "handlers" hcount map one
.static "too many" toomany map one
.code
slot:
    try any caught
    ldslot -100000
caught:
    field.s 2
    ldind
    native Debug 1
    ret 0, 1
hcount:
    try any caught2
    handlers -5
caught2:
    field.s 2
    ldind
    native Debug 1
    ret 0, 1
toomany:
    try any many
loop:
    try Never loop
    jmp.s loop
many:
    field.s 2
    ldind
    native Debug 1
    ret 0, 1
)"),
              "ok");
    machine.callMethod(handle("slot"), Vec<int>(), Vec<int>(), -1);
    machine.callMethod(handle("handlers"), Vec<int>(), Vec<int>(), -1);
    machine.callMethod(handle("too many"), Vec<int>(), Vec<int>(), -1);
    ASSERT_EQ(host.logs.size(), 3u);
    EXPECT_EQ(host.logs[0], "VMException: Invalid stack slot -99999");
    EXPECT_EQ(host.logs[1].rfind("VMException: Invalid exception handler count", 0), 0u);
    EXPECT_EQ(host.logs[2], "VMException: Too many exception handlers");
}

TEST_F(VmCore, CollectionsDuringDeepCallsKeepEveryLiveObject)
{
    // build(n): a linked list of n instances made by recursion, each level
    // holding its node in a reference slot while deeper levels allocate.
    ASSERT_EQ(start(std::string(kMinimal) + R"(
.class Node refs 1 2
.map one params 0 extra 0 locals 0
; [result][n][return address][node]
.map build params 1 extra 1 locals 1 refs 3
.static "(*build<int>" build
.map summap params 1 extra 1 locals 1 refs 1
.static "(sum<*node>" sum map summap
.code
build:
    adjust.s 1
    ldaddr.s -1             ; &node
    new 1, 3
    dup
    setclass Node
    stind
    ldslot.s -1             ; node
    field.s 2
    ldslot.s -4             ; n
    box                     ; node.w2 = a box holding n
    stind
    ldslot.s -3             ; n
    jz.s leaf
    ldslot.s -1             ; node
    field.s 1
    ldzero
    ldslot.s -5             ; n
    push 1
    sub
    call "(*build<int>"
    stind                   ; node.w1 = build(n - 1)
leaf:
    ldaddr.s -4             ; &result
    ldslot.s -2             ; node
    stind
    ret 1, 3
sum:                        ; [result][node][return address][acc]
    adjust.s 1
loop:
    ldslot.s -3
    jz.s done
    ldaddr.s -1
    ldslot.s -2
    ldslot.s -5
    field.s 2
    ldind2
    add
    stind
    ldaddr.s -3
    ldslot.s -4
    field.s 1
    ldind
    stind
    jmp.s loop
done:
    ldaddr.s -4
    ldslot.s -2
    stind
    ret 1, 3
)"),
              "ok");
    machine.setGcStress(true);
    Word list = machine.callMethod(handle("(build<int>"), Vec<int>{200}, Vec<int>{0}, 1);
    // The result was pinned through the collection that ended the invocation.
    EXPECT_GT(machine.heap().nOfEntries(), 400);
    EXPECT_EQ(machine.callMethod(handle("(sum<node>"), Vec<int>{list}, Vec<int>{1}, 0), 200 * 201 / 2);
    // Nothing holds the list any more.
    EXPECT_LT(machine.heap().nOfEntries(), 10);
}

TEST_F(VmCore, ACatchDropsTheFrameRecordsOfTheCallsItUnwound)
{
    // deep() holds a reference in a precise slot, then fails; main catches
    // and reuses those stack slots for plain integers before the next call
    // collects (GC stress): stale records would mark the integers precisely.
    ASSERT_EQ(start(std::string(kMinimal) + kExceptionPrelude + R"(
.map one params 0 extra 0 locals 0
; [result][return address][ref]
.map deep params 0 extra 1 locals 1 refs 2
.map leafmap params 0 extra 1 locals 0
.string s "survived"
.static "run" run map one
.static "deep" deep
.static "leaf" leaf map leafmap
.code
run:
    try any caught
    ldzero
    call "deep"
caught:
    adjust.s -1
    push 12345
    push 23456
    push 34567
    ldzero
    call "leaf"
    adjust.s -4
    ldstr s
    native Debug 1
    ret 0, 1
deep:
    adjust.s 1
    ldaddr.s -1
    new 2, 1
    stind
    ldzero
    ldind
    ret 1, 2
leaf:
    ret 0, 1
)"),
              "ok");
    machine.setGcStress(true);
    EXPECT_EQ(outcomeOf([&] { machine.callMethod(handle("run"), Vec<int>(), Vec<int>(), -1); }), "ok");
    EXPECT_EQ(host.logs, std::vector<std::string>{"survived"});
    EXPECT_EQ(machine.frameCount(), 0);
}

TEST_F(VmCore, GlobalsKeepWhatTheyReferenceAlive)
{
    ASSERT_EQ(start(R"(
.module "globals"
.globals 2
.map m params 0 extra 0 locals 0
.static "::global::init" init map m
.static "main" main map m
.code
init:
    globals
    field.s 1
    push 4242
    box
    stind
    ret 0, 1
main:
    ret 0, 1
)"),
              "ok");
    machine.heap().collect();
    Addr box = Addr(machine.space().loadWord(Addr(machine.globals()) + 4));
    ASSERT_TRUE(machine.heap().isLiveBlock(box));
    EXPECT_EQ(machine.space().loadWord(box), 4242);
}

TEST_F(VmCore, StoreNMovesItsWordsAndRefusesWhatItCannotStore)
{
    // storen.s 2 (the fixed and long store, run on its own path) and other
    // counts: the words land in order; a null address, a negative count and
    // an address outside the space raise as errors the program catches.
    ASSERT_EQ(start(std::string(kMinimal) + kExceptionPrelude + R"(
.globals 4
.map one params 0 extra 0 locals 0
.static "store" store map one
.static "null" null map one
.static "negative" negative map one
.static "outside" outside map one
.code
store:
    globals
    push 11
    push 22
    storen.s 2
    globals
    field.s 1
    push 33
    push 44
    push 55
    storen.s 3
    globals
    storen.s 0
    globals
    ldind
    itos
    native Debug 1
    globals
    field.s 1
    ldind
    itos
    native Debug 1
    globals
    field.s 3
    ldind
    itos
    native Debug 1
    ret 0, 1
null:
    try any caught
    ldzero
    push 1
    push 2
    storen.s 2
caught:
    field.s 2
    ldind
    native Debug 1
    ret 0, 1
negative:
    try any caught
    globals
    storen.s -1
outside:
    try any caught
    push 0x7FFFFFF0
    push 1
    push 2
    storen.s 2
)"),
              "ok");
    for (const char* name : {"store", "null", "negative", "outside"})
        machine.callMethod(handle(name), Vec<int>(), Vec<int>(), -1);
    EXPECT_EQ(host.logs, (std::vector<std::string>{"11", "33", "55", "NullPointerException: NULL pointer",
                                                   "VMException: Invalid count -1",
                                                   "VMException: Invalid address 2147483632"}));
}
