#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "TraceReport.h"
#include "Utility/TraceLog.h"

using Trace::TraceLog;

namespace {

struct Builder {
    TraceLog trace;
    Builder() { trace.header.ticksPerSecond = 1000000; }
    template <typename T>
    T& add(int64_t aTime, int aDepth)
    {
        auto node = std::make_unique<T>();
        node->l64 = aTime;
        node->l32 = aDepth;
        T& ref = *node;
        trace.nodes.push_back(std::move(node));
        return ref;
    }
    void call(int64_t aTime, int aDepth, int aAddress) { add<TraceLog::MethodCallNode>(aTime, aDepth).value = aAddress; }
    void ret(int64_t aTime, int aDepth) { add<TraceLog::MethodReturnNode>(aTime, aDepth); }
};

mcbtrace::MethodNames names()
{
    mcbtrace::MethodNames n;
    n.add(0, "main");
    n.add(40, "f");
    n.add(80, "g");
    return n;
}

std::string profileOf(const TraceLog& aTrace)
{
    std::ostringstream out;
    mcbtrace::printFlatProfile(out, aTrace, names());
    return out.str();
}

const char kColumns[] =
    "  %       cumulative      self                  self      total\n"
    " time         ms            ms        calls   us/call   us/call  name\n";

}  // namespace

TEST(TraceReport, FlatProfileWithRecursionAndACatch)
{
    Builder b;
    b.call(0, 1, 0);    // main
    b.call(10, 2, 40);  // f
    b.call(20, 3, 40);  // f, recursively
    b.ret(30, 2);
    b.ret(50, 1);
    b.call(60, 2, 80);  // g throws; main catches
    b.add<TraceLog::ExceptionThrownNode>(65, 2);
    b.add<TraceLog::ExceptionCaughtNode>(70, 1);
    b.add<TraceLog::GarbageCollectionNode>(80, 1);
    b.ret(100, 0);
    // main: 100 in all, 40 in f, 10 in g. f: 40 outermost, 10 of them in
    // itself called again.
    EXPECT_EQ(profileOf(b.trace), std::string("Flat profile: 4 calls, 0.100 ms in methods.\n\n") + kColumns +
                                      " 50.00        0.050        0.050            1     50.00    100.00  main\n"
                                      " 40.00        0.090        0.040            2     20.00     20.00  f\n"
                                      " 10.00        0.100        0.010            1     10.00     10.00  g\n");
}

TEST(TraceReport, FlatProfileClosesWhatTheRecordsLeaveOpen)
{
    Builder b;
    b.call(0, 1, 0);
    b.call(10, 2, 40);
    // A new invocation at depth 1 (the previous one ended fatally) ...
    b.call(30, 1, 80);
    b.call(40, 2, 40);
    // ... and a trace that stops inside it.
    b.add<TraceLog::StopTraceNode>(70, 2);
    b.add<TraceLog::MessageNode>(90, 0);
    EXPECT_EQ(profileOf(b.trace), std::string("Flat profile: 4 calls, 0.070 ms in methods.\n\n") + kColumns +
                                      " 71.43        0.050        0.050            2     25.00     25.00  f\n"
                                      " 14.29        0.060        0.010            1     10.00     40.00  g\n"
                                      " 14.29        0.070        0.010            1     10.00     30.00  main\n");

    Builder unstopped;
    unstopped.call(5, 1, 7);
    unstopped.add<TraceLog::MessageNode>(25, 1);
    EXPECT_EQ(profileOf(unstopped.trace), std::string("Flat profile: 1 calls, 0.020 ms in methods.\n\n") +
                                              kColumns +
                                              "100.00        0.020        0.020            1     20.00     20.00  @7\n");
}

TEST(TraceReport, OneLinePerRecord)
{
    Builder b;
    b.trace.header.versionMajor = 1;
    b.trace.header.producer.text = CAppsString("P");
    b.trace.header.created.year = 2024;
    b.trace.header.created.month = 6;
    b.trace.header.created.day = 13;
    b.add<TraceLog::StartTraceNode>(0, 0).value = 77;
    b.call(1, 1, 0);
    b.call(2, 2, 99);
    b.add<TraceLog::ExceptionThrownNode>(3, 2).value1 = 5;
    auto& raised = b.add<TraceLog::ExceptionThrownNode>(4, 2);
    raised.value1 = 2;
    raised.value2 = 3;
    b.add<TraceLog::ExceptionCaughtNode>(5, 1).value = 45;
    b.add<TraceLog::ExceptionCaughtNode>(5, 1).value = -1;
    auto& gc = b.add<TraceLog::GarbageCollectionNode>(6, 1);
    gc.e32 = 12;
    gc.e64 = 3456;
    const char16_t text[] = {u'a', u'"', u'\n', 0x1, 0xE9, 0xD83D, 0xDE00, 0xD800};
    b.add<TraceLog::MessageNode>(7, 1).text.text = CAppsString(std::u16string_view(text, 8));
    auto& binary = b.add<TraceLog::BinaryNode>(8, 1);
    binary.name.text = CAppsString("n");
    binary.value1 = 1;
    binary.e64 = 9;
    binary.data.bytes.append(0xAB);
    binary.data.bytes.append(0x01);
    b.ret(9, 0);
    b.add<TraceLog::StopTraceNode>(1234567, 0);

    std::ostringstream out;
    mcbtrace::printRecords(out, b.trace, names());
    EXPECT_EQ(out.str(),
              "trace by \"P\", version 1.0, created 2024-06-13 00:00:00, 1000000 ticks per second\n"
              "     time (us)  depth  event\n"
              "             0      0  start trace, process 77\n"
              "             1      1  call main @0\n"
              "             2      2  call @99\n"
              "             3      2  throw class 5\n"
              "             4      2  throw class 2, error code 3\n"
              "             5      1  catch, handler f+5 @45\n"
              "             5      1  catch, handler @-1\n"
              "             6      1  collection: 12 live blocks, 3456 bytes\n"
              "             7      1  log \"a\\\"\\n\\x01\xC3\xA9\xF0\x9F\x98\x80\\uD800\"\n"
              "             8      1  binary \"n\", values 1 0, entity 0 9, 2 bytes ab 01\n"
              "             9      0  return\n"
              "       1234567      0  stop trace\n");
}
