// The trace recorder: what a traced run records, that recording changes
// nothing in the run, and traces that cannot be written.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "IO/CAppsFileReader.h"
#include "TestSupport.h"
#include "TraceRecorder.h"
#include "Utility/TraceLog.h"
#include "VmTestSupport.h"

using Trace::TraceLog;

namespace {

std::string source(const std::string& aRelative)
{
    return readFile(std::string(MCB_SOURCE_DIR) + "/" + aRelative);
}

CAppsString path(const std::string& aPath)
{
    return CAppsString(std::string_view(aPath));
}

TraceLog readTrace(const std::string& aPath)
{
    CAppsFileReader reader(path(aPath));
    TraceLog trace;
    CAppsString error;
    EXPECT_TRUE(Trace::readTraceFile(trace, reader, &error, true)) << error.toLatin1();
    return trace;
}

// "<type> <depth> <values>" of every record but the collections.
std::vector<std::string> events(const TraceLog& aTrace)
{
    std::vector<std::string> out;
    for (const auto& node : aTrace.nodes) {
        const auto& log = dynamic_cast<const TraceLog::LogNode&>(*node);
        std::string e = std::to_string(node->typeCode()) + " " + std::to_string(log.l32);
        if (auto* call = dynamic_cast<const TraceLog::MethodCallNode*>(node.get()))
            e += " " + std::to_string(call->value);
        else if (auto* thrown = dynamic_cast<const TraceLog::ExceptionThrownNode*>(node.get()))
            e += " " + std::to_string(thrown->value1) + " " + std::to_string(thrown->value2);
        else if (auto* caught = dynamic_cast<const TraceLog::ExceptionCaughtNode*>(node.get()))
            e += " " + std::to_string(caught->value);
        else if (auto* message = dynamic_cast<const TraceLog::MessageNode*>(node.get()))
            e += " " + message->text.text.toLatin1();
        if (node->typeCode() != TraceLog::EGarbageCollection)
            out.push_back(e);
    }
    return out;
}

struct VmTrace : ::testing::Test {
    QTemporaryDir tmp;
    std::string file(const std::string& aName) const { return tmp.path().toStdString() + "/" + aName; }

    // The code address of a static method, from the loader's tables.
    static int addressOf(const vm::VirtualMachine& aVm, const char* aName)
    {
        for (const auto& method : aVm.methods)
            if (method.name == CAppsString(aName))
                return method.entries[0].codeAddress;
        ADD_FAILURE() << "no method " << aName;
        return -1;
    }
};

}  // namespace

TEST_F(VmTrace, RecordsCallsReturnsExceptionsCollectionsAndLogLines)
{
    std::vector<uint8_t> program = assembleOrFail(source("tests/e2e/programs/traced.mcbs"));
    TestHost host;
    vm::VirtualMachine machine;
    ASSERT_TRUE(machine.startTrace(file("run.trace")));
    ASSERT_EQ(runProgram(program, host, machine), "ok");
    ASSERT_EQ(host.timers.size(), 1u);
    machine.deliverTimer(host.timers.begin()->second);
    EXPECT_EQ(host.exits, 1);
    machine.stopTrace();
    EXPECT_EQ(machine.tracer(), nullptr);

    TraceLog trace = readTrace(file("run.trace"));
    const std::string init = std::to_string(addressOf(machine, "::global::init"));
    const std::string main = std::to_string(addressOf(machine, "main"));
    const std::string square = std::to_string(addressOf(machine, "square"));
    const std::string fail = std::to_string(addressOf(machine, "fail"));
    const std::string tick = std::to_string(addressOf(machine, "<*systemtimerlistener>.systemtimerevent"));
    // Classes: App 1, Throwable 2, Oops 3; division by zero is error code 3;
    // the handlers "caught" and "divided" sit at 80 and 98.
    const std::vector<std::string> expected = {
        "106 0",
        "102 1 " + init, "103 0",
        "102 1 " + main,
        "102 2 " + square, "103 1", "107 1 9",
        "102 2 " + square, "103 1",
        "102 2 " + square, "103 1",
        "102 2 " + fail, "108 2 3 0", "109 1 80",
        "108 2 2 3", "109 1 98",
        "107 1 done",
        "103 0",
        "102 1 " + tick, "107 1 tick", "103 0",
        "105 0",
    };
    EXPECT_EQ(events(trace), expected);
    EXPECT_EQ(dynamic_cast<const TraceLog::StartTraceNode&>(*trace.nodes[0]).value, getpid());

    // Times never go back; collections come after every invocation and count
    // what stays: the application object (one 4-byte block) after main.
    int64_t last = 0;
    std::vector<std::pair<int, int64_t> > collections;
    for (const auto& node : trace.nodes) {
        const auto& log = dynamic_cast<const TraceLog::LogNode&>(*node);
        EXPECT_GE(log.l64, last);
        last = log.l64;
        if (auto* gc = dynamic_cast<const TraceLog::GarbageCollectionNode*>(node.get()))
            collections.emplace_back(gc->e32, gc->e64);
    }
    ASSERT_GE(collections.size(), 3u);
    EXPECT_EQ(collections.front(), std::make_pair(0, int64_t(0)));
    EXPECT_EQ(collections.back(), std::make_pair(1, int64_t(4)));
}

TEST_F(VmTrace, RecordingChangesNothingInTheRun)
{
    std::vector<std::string> programs = {"tests/e2e/programs/traced.mcbs"};
    for (auto& entry : std::filesystem::directory_iterator(std::string(MCB_SOURCE_DIR) + "/tests/asm/vm"))
        programs.push_back("tests/asm/vm/" + entry.path().filename().string());
    for (const std::string& name : programs) {
        std::vector<uint8_t> program = assembleOrFail(source(name));
        TestHost plainHost, tracedHost;
        std::string plain, traced;
        {
            vm::VirtualMachine machine;
            plain = runProgram(program, plainHost, machine);
        }
        {
            vm::VirtualMachine machine;
            ASSERT_TRUE(machine.startTrace(file("same.trace")));
            traced = runProgram(program, tracedHost, machine);
        }
        EXPECT_EQ(traced, plain) << name;
        EXPECT_EQ(tracedHost.logs, plainHost.logs) << name;
        EXPECT_FALSE(readTrace(file("same.trace")).nodes.empty()) << name;
    }
}

TEST_F(VmTrace, UnwritableTraceEndsRecordingWithOneMessage)
{
    std::vector<uint8_t> program = assembleOrFail(source("tests/e2e/programs/traced.mcbs"));
    spit(file("plain"), "x");

    // A file that cannot be made: no recorder, the run as always.
    {
        TestHost host;
        vm::VirtualMachine machine;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(machine.startTrace(file("plain/t.trace")));
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, "Trace: cannot write '" + file("plain/t.trace") + "'; recording stopped\n");
        EXPECT_EQ(machine.tracer(), nullptr);
        EXPECT_EQ(runProgram(program, host, machine), "ok");
        EXPECT_EQ(host.logs, (std::vector<std::string>{"9", "done"}));
    }

    // A device that takes no data: the first block written fails, once.
    std::string loop = R"(
.module "many"
.map m params 0 extra 0 locals 0
.static "main" main map m
.static "::global::init" init map m
.map f params 0 extra 0 locals 0
.static "f" f
.code
init:
    ret 0, 1
main:
    push 20000
again:
    call "f"
    push 1
    sub
    dup
    jz.s out
    jmp.s again
out:
    ldstr "end"
    native Debug 1
    ret 0, 1
f:
    ret 0, 1
)";
    TestHost host;
    vm::VirtualMachine machine;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(machine.startTrace("/dev/full"));
    EXPECT_EQ(runProgram(assembleOrFail(loop), host, machine), "ok");
    machine.stopTrace();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Trace: cannot write '/dev/full'; recording stopped\n");
    EXPECT_EQ(host.logs, std::vector<std::string>{"end"});
}

TEST_F(VmTrace, RequestedTraceGoesToTheNextMachineOnly)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tmp.path()));
    vm::TraceRecorder::requestForNextMachine("relative.trace");
    {
        vm::VirtualMachine first;
        vm::VirtualMachine second;
        EXPECT_NE(first.tracer(), nullptr);
        EXPECT_EQ(second.tracer(), nullptr);
    }
    QDir::setCurrent(previous);
    TraceLog trace = readTrace(file("relative.trace"));
    ASSERT_EQ(trace.nodes.size(), 2u);
    EXPECT_EQ(trace.nodes[0]->typeCode(), TraceLog::EStartTrace);
    EXPECT_EQ(trace.nodes[1]->typeCode(), TraceLog::EStopTrace);
}
