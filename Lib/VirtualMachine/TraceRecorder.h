// TraceRecorder: writes what one VM does into a trace file (format:
// Utility/TraceLog.h; what each field holds: docs/trace.md).
//
// The VM owns it (VirtualMachine::startTrace) and calls it at method calls
// and returns, throws, catches, raised errors and Debug log lines; the heap
// calls it after every collection. It only reads VM state, so recording
// never changes what a program does. Records go through a file writer into
// a memory buffer that is handed to the file's writer in large blocks. A
// trace that cannot be written ends recording with one message on standard
// error; the program runs on.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "Types.h"
#include "Utility/TraceLog.h"

class CAppsFileWriter;
class OString;

namespace vm {

class VirtualMachine;

class TraceRecorder {
public:
    // Opens aPath (a relative path is taken from the current directory) and
    // records the header and the start-trace node; recording() is false
    // (after the message) when that failed.
    TraceRecorder(VirtualMachine& aVm, const std::string& aPath);
    ~TraceRecorder();  // stop()
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    bool recording() const { return file_ != nullptr; }

    // A call has entered the method at aCodeAddress (its frame is pushed).
    void methodCall(int aCodeAddress) noexcept;
    // A return has popped its frame.
    void methodReturn() noexcept;
    // A VM error of code aCode is about to reach bytecode as a throwable;
    // the next throw carries the code.
    void errorRaised(int aCode) noexcept;
    void thrown(Word aThrowable) noexcept;
    // A handler caught the throwable; execution goes on at aHandlerAddress.
    void caught(int aHandlerAddress) noexcept;
    void collected() noexcept;
    void message(const OString& aText) noexcept;
    // Records the stop-trace node, writes everything out and closes the
    // file; later events are ignored.
    void stop() noexcept;

    // For command lines: the next VM made in this process records into
    // aPath (VirtualMachine's constructor takes the request).
    static void requestForNextMachine(const std::string& aPath);
    static std::string takeRequest();

private:
    class RecordBuffer;
    TInt64 microseconds() const;
    void record(Trace::TraceLog::LogNode& aNode) noexcept;
    // Ends recording with the one message.
    void fail() noexcept;
    void release() noexcept;

    VirtualMachine& vm_;
    std::string path_;
    std::unique_ptr<CAppsFileWriter> file_;     // null once recording ended
    std::unique_ptr<CAppsFileWriter> records_;  // writes into buffer_
    RecordBuffer* buffer_ = nullptr;            // owned by records_, drains into file_
    std::chrono::steady_clock::time_point start_;
    int raisedCode_ = 0;
    int raisedDepth_ = 0;
    Trace::TraceLog::MethodCallNode call_;
    Trace::TraceLog::MethodReturnNode return_;
    Trace::TraceLog::ExceptionThrownNode thrown_;
    Trace::TraceLog::ExceptionCaughtNode caught_;
};

}  // namespace vm
