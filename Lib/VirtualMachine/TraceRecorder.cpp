#include "TraceRecorder.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "IO/CAppsFileWriter.h"
#include "VirtualMachine.h"

namespace vm {

using Trace::TraceLog;

// Collects the records in memory and hands them to the file's writer in
// blocks of kSize bytes; a write fails when handing over a block fails.
class TraceRecorder::RecordBuffer final : public KELVAR::OutputStream {
public:
    explicit RecordBuffer(CAppsFileWriter& aFile) : file_(aFile), bytes_(new TUint8[kSize]) { iOpen = true; }
    TBool writeByte(TInt32 aValue) override
    {
        if (used_ == kSize && !drain())
            return false;
        bytes_[used_++] = TUint8(aValue);
        return true;
    }
    TBool write(const TUint8* aBuffer, TUint32 aCount) override
    {
        if (aCount > kSize - used_ && !drain())
            return false;
        if (aCount > kSize)
            return file_.writeByteBufferToFile(aBuffer, TInt32(aCount));
        // Most writes are one field of a record: too short for a call to memcpy.
        TUint8* to = bytes_.get() + used_;
        for (TUint32 i = 0; i < aCount; ++i)
            to[i] = aBuffer[i];
        used_ += aCount;
        return true;
    }
    TInt32 streamSize() override { return TInt32(used_); }
    TInt32 position() override { return TInt32(used_); }
    TBool setPosition(TInt32) override { return false; }
    TBool close() override { return drain(); }
    // Hands the collected bytes to the file's writer.
    bool drain()
    {
        const TUint32 used = used_;
        used_ = 0;
        return used == 0 || file_.writeByteBufferToFile(bytes_.get(), TInt32(used));
    }

private:
    static constexpr TUint32 kSize = 64 * 1024;
    CAppsFileWriter& file_;
    std::unique_ptr<TUint8[]> bytes_;
    TUint32 used_ = 0;
};

namespace {

// Recorders alive in the process: a process ending through exit() (the
// System exit operation) still gets complete traces.
std::vector<TraceRecorder*>& liveRecorders()
{
    static auto* live = new std::vector<TraceRecorder*>();
    return *live;
}

void stopLiveRecorders()
{
    for (TraceRecorder* recorder : liveRecorders())
        recorder->stop();
}

std::string& pendingRequest()
{
    static std::string path;
    return path;
}

}  // namespace

TraceRecorder::TraceRecorder(VirtualMachine& aVm, const std::string& aPath)
    : vm_(aVm), path_(aPath), start_(std::chrono::steady_clock::now())
{
    static const bool registered = std::atexit(stopLiveRecorders) == 0;
    (void)registered;
    try {
        std::error_code error;
        std::string absolute = std::filesystem::absolute(aPath, error).string();
        file_ = std::make_unique<CAppsFileWriter>(CAppsString(std::string_view(error ? aPath : absolute)));
        auto buffer = std::make_unique<RecordBuffer>(*file_);
        records_.reset(new CAppsFileWriter(buffer.get()));
        buffer_ = buffer.release();
        liveRecorders().push_back(this);
    } catch (...) {
        file_.reset();
    }
    if (!file_ || !file_->isOpen()) {
        fail();
        return;
    }
    try {
        Trace::writeNode(*records_, TraceLog::writerHeader());
    } catch (...) {
        fail();
        return;
    }
    TraceLog::StartTraceNode start;
    start.value = TInt32(getpid());
    record(start);
    vm_.heap().setCollectionObserver([this] { collected(); });
}

TraceRecorder::~TraceRecorder()
{
    stop();
    auto& live = liveRecorders();
    std::erase(live, this);
}

TInt64 TraceRecorder::microseconds() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count();
}

void TraceRecorder::record(TraceLog::LogNode& aNode) noexcept
{
    if (!file_)
        return;
    aNode.l64 = microseconds();
    aNode.l32 = vm_.frameCount();
    try {
        Trace::writeNode(*records_, aNode);
    } catch (...) {
        fail();
    }
}

void TraceRecorder::fail() noexcept
{
    std::fprintf(stderr, "Trace: cannot write '%s'; recording stopped\n", path_.c_str());
    std::fflush(stderr);
    release();
}

void TraceRecorder::release() noexcept
{
    if (file_)
        vm_.heap().setCollectionObserver(nullptr);
    records_.reset();
    buffer_ = nullptr;
    file_.reset();
}

void TraceRecorder::stop() noexcept
{
    if (!file_)
        return;
    TraceLog::StopTraceNode stop;
    record(stop);
    if (!file_)
        return;
    if (!buffer_->drain() || !file_->close()) {
        fail();
        return;
    }
    release();
}

void TraceRecorder::methodCall(int aCodeAddress) noexcept
{
    // A new invocation from outside ends whatever an earlier one left open.
    if (vm_.frameCount() <= 1)
        raisedCode_ = 0;
    call_.value = aCodeAddress;
    record(call_);
}

void TraceRecorder::methodReturn() noexcept
{
    // The method that turned the error into a throwable returned instead.
    if (vm_.frameCount() < raisedDepth_)
        raisedCode_ = 0;
    record(return_);
}

void TraceRecorder::errorRaised(int aCode) noexcept
{
    raisedCode_ = aCode;
    raisedDepth_ = vm_.frameCount();
}

void TraceRecorder::thrown(Word aThrowable) noexcept
{
    const VMSpace& space = vm_.space();
    thrown_.value1 = space.contains(Addr(aThrowable), 4) ? space.rawWord(Addr(aThrowable)) : -1;
    thrown_.value2 = raisedCode_;
    raisedCode_ = 0;
    record(thrown_);
}

void TraceRecorder::caught(int aHandlerAddress) noexcept
{
    caught_.value = aHandlerAddress;
    record(caught_);
}

void TraceRecorder::collected() noexcept
{
    TraceLog::GarbageCollectionNode gc;
    VMHeap::LiveStats live = vm_.heap().liveStats();
    gc.e32 = live.blocks;
    gc.e64 = TInt64(live.bytes);
    record(gc);
}

void TraceRecorder::message(const OString& aText) noexcept
{
    if (!file_)
        return;
    try {
        TraceLog::MessageNode node;
        node.text.text = CAppsString(aText.view());
        record(node);
    } catch (...) {
        fail();
    }
}

void TraceRecorder::requestForNextMachine(const std::string& aPath)
{
    pendingRequest() = aPath;
}

std::string TraceRecorder::takeRequest()
{
    std::string path;
    path.swap(pendingRequest());
    return path;
}

// ---------------------------------------------------------------------------
// The VM's side

bool VirtualMachine::startTrace(const std::string& path)
{
    tracer_.reset();
    auto recorder = std::make_unique<TraceRecorder>(*this, path);
    if (recorder->recording())
        tracer_ = std::move(recorder);
    return tracer_ != nullptr;
}

void VirtualMachine::stopTrace()
{
    tracer_.reset();
}

}  // namespace vm
