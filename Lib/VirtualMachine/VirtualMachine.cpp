// Construction, method handles, the host call entry with its queue, start-up
// and event delivery.
#include "VirtualMachine.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "Containers/OVector.h"
#include "IO/CAppsFileReader.h"
#include "KeyEvent.h"
#include "ObjectModel.h"
#include "PairCounts.h"
#include "Predecode.h"
#include "TraceRecorder.h"

namespace vm {

namespace {
thread_local VirtualMachine* tCurrentVm = nullptr;
}

const char* const VirtualMachine::kEntrySignatures[EEntryCount] = {
    "::global::init",
    "main",
    "<systemtimerlistener>.systemtimerevent",
    "<application>.draw to<canvas>",
    "<application>.key pressed<keyevent>",
    "<application>.key released<keyevent>",
    "<application>.pointer event<int>at x<int>y<int>modifiers<int>",
    "<application>.pointer pressed at<position>",
    "<application>.pointer dragged to<position>",
    "<application>.pointer released at<position>",
    "<application>.exit event",
    "<application>.foreground event",
    "<application>.background event",
    "<screenorientationlistener>.screen orientation changed to<orientation>",
    "vminternalthrow<int>,<string>",
    "vmprintthrowable<throwable>",
    "vmprintthrowableandexit<throwable>",
};

VirtualMachine::VirtualMachine()
{
    Addr region = space_.allocRegion(uint64_t(kStackWords + 2 * kStackGuardWords) * 4);
    stackAddress_ = region + 4 * kStackGuardWords;
    stack_ = space_.raw<int32_t>(stackAddress_);
    heap_ = std::make_unique<VMHeap>(space_, kMinPoolSize, this, classReferenceFields, classArrayFields,
                                     classArrayFieldFlags);
    heap_->setStack(stackAddress_, kHeapStackWords);
    heap_->addRootScanner([this](VMHeap& heap) { scanGlobals(heap); });
    heap_->addRootScanner([this](VMHeap& heap) { scanQueuedRoots(heap); });
    frameGcInfo_.reset(new int[kMaxFrames]);
    frameBase_.reset(new int[kMaxFrames]);
    for (int& e : entries_)
        e = -1;
    padCode();
    // A debugging aid and the test suite's GC stress mode: a full collection
    // with the stack at every call.
    if (const char* stress = std::getenv("MCB_GC_STRESS"))
        gcStress_ = stress[0] == '1';
    previousCurrent_ = tCurrentVm;
    tCurrentVm = this;
    if (std::string trace = TraceRecorder::takeRequest(); !trace.empty())
        startTrace(trace);
}

VirtualMachine::~VirtualMachine()
{
    tracer_.reset();  // the stop record, while the heap is there
    // Host objects in the heap may refer to the tables; the heap goes first.
    stringPool.clear();
    heap_.reset();
    if (tCurrentVm == this)
        tCurrentVm = previousCurrent_;
}

VirtualMachine* VirtualMachine::current()
{
    return tCurrentVm;
}

void VirtualMachine::resetCode()
{
    code_.resize(size_t(kCodePadding + codeEnd_), 0xFF);
}

void VirtualMachine::padCode()
{
    if (code_.size() < size_t(kCodePadding))
        code_.assign(size_t(kCodePadding), 0xFF);
    code_.resize(size_t(kCodePadding + codeEnd_ + kCodePadding), 0xFF);
    dispatch_ = predecode(code_.data(), code_.size(), superinstructions_ && !kCountingPairs);
}

void VirtualMachine::setSuperinstructions(bool on)
{
    superinstructions_ = on;
    padCode();
}

// ---------------------------------------------------------------------------
// Method handles

int VirtualMachine::getMethodHandle(const CAppsString& signature, int moduleIndex)
{
    // Segments end after every '<' and after a leading '('.
    std::vector<std::pair<int, int> > segments;  // start, length
    int n = signature.count();
    int start = 0;
    for (int i = 0; i < n; ++i) {
        unsigned short c = signature[i];
        if (c == '<' || (c == '(' && i == 0)) {
            segments.emplace_back(start, i + 1 - start);
            start = i + 1;
        }
    }
    if (start < n || segments.empty())
        segments.emplace_back(start, n - start);
    bool hasResult = n > 0 && signature[0] == '(';

    for (int m = 0; m < methods.count(); ++m) {
        ExportedMethod& method = methods[m];
        if (!method.isVirtual && method.moduleIndex != moduleIndex)
            continue;
        const CAppsString& name = method.name;
        int pos = 0;
        bool matched = true;
        std::vector<int> levels;
        for (size_t s = 0; s < segments.size() && matched; ++s) {
            auto [from, length] = segments[s];
            if (pos + length > name.count()) {
                matched = false;
                break;
            }
            for (int k = 0; k < length; ++k) {
                if (name[pos + k] != signature[from + k]) {
                    matched = false;
                    break;
                }
            }
            pos += length;
            if (matched && s + 1 < segments.size()) {
                int stars = 0;
                while (pos < name.count() && name[pos] == '*') {
                    ++stars;
                    ++pos;
                }
                levels.push_back(stars);
            }
        }
        if (!matched)
            continue;
        if (method.handleIndex != -1)
            return method.handleIndex;
        MethodHandle handle;
        handle.signature = signature;
        handle.methodIndex = m;
        handle.hasResult = hasResult ? 1 : 0;
        size_t first = 0;
        if (hasResult && !levels.empty()) {
            handle.resultLevel = levels[0];
            first = 1;
        }
        for (size_t i = first; i < levels.size(); ++i)
            handle.argumentLevels.append(levels[i]);
        handleTable.append(handle);
        method.handleIndex = handleTable.count() - 1;
        return method.handleIndex;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Host call entry and the queue of stored calls

Word VirtualMachine::callMethod(int handle, const Vec<int>& arguments, const Vec<int>& argumentLevels,
                                int resultLevels)
{
    if (runningHandle_ == -1)
        return invoke(handle, arguments, argumentLevels, resultLevels);
    callQueue_.push_back(StoredMethodCall{handle, arguments, argumentLevels, resultLevels});
    return 0;
}

void VirtualMachine::scanQueuedRoots(VMHeap& heap)
{
    // A stored call's arguments live only here until the call runs.
    for (const StoredMethodCall& call : callQueue_)
        for (int word : call.arguments)
            heap.markIfInHeap(uint32_t(word));
}

void VirtualMachine::scanGlobals(VMHeap& heap)
{
    // The globals block is plain data: scan its words conservatively.
    if (globals_ == 0 || !heap.isLiveBlock(Addr(globals_)))
        return;
    uint32_t words = heap.payloadSize(Addr(globals_)) / 4;
    for (uint32_t i = 0; i < words; ++i) {
        uint32_t word = uint32_t(space_.rawWord(Addr(globals_) + 4 * i));
        if (word >= VMSpace::kFirst)  // nothing lives below
            heap.markIfInHeap(word);
    }
}

void VirtualMachine::setApplication(Word object)
{
    if (application_ != 0)
        heap_->removeRoot(Addr(application_));
    application_ = object;
    if (object != 0)
        heap_->addRoot(Addr(object));
}

// ---------------------------------------------------------------------------
// Errors

void VirtualMachine::fatalError(std::string_view message, int position)
{
    fatal(message, position);
}

void VirtualMachine::fatal(std::string_view message, int position)
{
    if (position >= 0)
        std::fprintf(stderr, "FATAL: %.*s (position %d)\n", int(message.size()), message.data(), position);
    else
        std::fprintf(stderr, "FATAL: %.*s\n", int(message.size()), message.data());
    std::fflush(stderr);
    raiseVmError(KErrFatal);
}

void VirtualMachine::unknownNativeFunction(const char* label)
{
    raiseVmError(KErrVm, std::string(label) + std::to_string(pc));
}

void VirtualMachine::stackFault(int index)
{
    fatal(index < 0 ? "Stack underflow" : "Stack overflow", pc);
}

void VirtualMachine::badSlot(int64_t index)
{
    raiseVmError(KErrVm, "Invalid stack slot " + std::to_string(index));
}

void VirtualMachine::badCodeAddress(int address)
{
    fatal("Internal error: invalid code address " + std::to_string(address), pc);
}

// ---------------------------------------------------------------------------
// Objects made for natives and deliveries

Addr VirtualMachine::createByteVector(int size)
{
    return OVector::create(*heap_, 1, size).holder();
}

Addr VirtualMachine::newKeyEvent(int keyCode, int scanCode, int modifiers, const OString& text)
{
    return heap_->construct<Kelvar::KeyEvent>(Kelvar::KeyEvent::kBlockSize, GC_CODE_NATIVE, keyCode, scanCode,
                                              modifiers, text);
}

void VirtualMachine::seedRandom(uint32_t seed)
{
    random = std::make_unique<RandomState>();
    random->mt[0] = seed;
    for (int i = 1; i < 624; ++i)
        random->mt[i] = random->mt[i - 1] * 69069u;
    random->index = 0;
}

// ---------------------------------------------------------------------------
// Start-up

void VirtualMachine::start(CAppsFileReader& reader, const CAppsString& name, FrameworkServices* host)
{
    host_ = host;
    int moduleIndex = -1;
    bool ok;
    try {
        ok = loadModule(reader, name, moduleIndex);
    } catch (const ErrorHandlingException&) {
        clearPendingError();
        ok = false;
    }
    if (!ok) {
        // The line hosts and tests know, then what was wrong and where.
        std::fprintf(stderr, "FATAL: Error while reading bytecode\n");
        if (!loadFailure_.empty())
            std::fprintf(stderr, "%s\n", loadFailure_.c_str());
        std::fflush(stderr);
        raiseVmError(KErrFatal);
    }
    globalInit(moduleIndex);
}

void VirtualMachine::globalInit(int moduleIndex)
{
    for (int i = 0; i < EEntryCount; ++i)
        entries_[i] = getMethodHandle(CAppsString(kEntrySignatures[i]), moduleIndex);
    if (entries_[EMain] == -1)
        fatal("'main' not found", -1);
    if (entries_[EGlobalInit] == -1)
        fatal("'::global::init' not found", -1);
    invoke(entries_[EGlobalInit], Vec<int>(), Vec<int>(), -1);
    invoke(entries_[EMain], Vec<int>(), Vec<int>(), -1);
    heap_->collect();
}

// ---------------------------------------------------------------------------
// Event delivery
//
// A delivery whose receiver (the application object, a listener) is not a
// live object cannot run: the run ends with a message that names the
// delivery and the receiver. Without an application object, deliveries to
// it do nothing.

bool VirtualMachine::isLiveObject(Word object) const
{
    return heap_->payloadSize(Addr(object)) >= 4;
}

void VirtualMachine::requireReceiver(Word object, const std::string& delivery, const char* receiver)
{
    if (!isLiveObject(object))
        fatal(delivery + ": " + receiver + " is not a live object", -1);
}

void VirtualMachine::deliverDraw(Addr drawable)
{
    if (application_ == 0 || entries_[EDraw] == -1)
        return;
    requireReceiver(application_, "draw", "application object");
    invoke(entries_[EDraw], Vec<int>{application_, Word(drawable)}, Vec<int>{1, 0}, -1);
}

void VirtualMachine::deliverTimer(Word listener)
{
    deliverTimer(listener, -1);
}

void VirtualMachine::deliverTimer(Word listener, int timerId)
{
    if (entries_[ETimerEvent] == -1)
        return;
    requireReceiver(listener, timerId >= 0 ? "timer " + std::to_string(timerId) : std::string("timer"), "listener");
    invoke(entries_[ETimerEvent], Vec<int>{listener}, Vec<int>{1}, -1);
}

void VirtualMachine::deliverKey(int keyCode, int scanCode, int modifiers, const OString& text, bool pressed)
{
    if (application_ == 0)
        return;
    int handle = entries_[pressed ? EKeyPressed : EKeyReleased];
    if (handle == -1)
        return;
    requireReceiver(application_, pressed ? "key pressed" : "key released", "application object");
    Addr event = newKeyEvent(keyCode, scanCode, modifiers, text);
    callMethod(handle, Vec<int>{application_, Word(event)}, Vec<int>{1, 0}, -1);
}

void VirtualMachine::deliverPointer(int type, int x, int y, int modifiers)
{
    if (application_ == 0 || entries_[EPointerEvent] == -1)
        return;
    requireReceiver(application_, "pointer event", "application object");
    callMethod(entries_[EPointerEvent], Vec<int>{application_, type, x, y, modifiers}, Vec<int>{1, 0, 0, 0, 0}, -1);
}

void VirtualMachine::deliverToApplication(EntryHandle which, const char* delivery)
{
    if (application_ == 0 || entries_[which] == -1)
        return;
    requireReceiver(application_, delivery, "application object");
    callMethod(entries_[which], Vec<int>{application_}, Vec<int>{1}, -1);
}

void VirtualMachine::deliverForeground()
{
    deliverToApplication(EForeground, "foreground event");
}

void VirtualMachine::deliverBackground()
{
    deliverToApplication(EBackground, "background event");
}

void VirtualMachine::deliverOrientation(Word listener, int orientation)
{
    if (entries_[EOrientationChanged] == -1)
        return;
    requireReceiver(listener, "orientation change", "listener");
    callMethod(entries_[EOrientationChanged], Vec<int>{listener, orientation}, Vec<int>{1, 0}, -1);
}

void VirtualMachine::deliverExit()
{
    deliverToApplication(EExitEvent, "exit event");
}

}  // namespace vm
