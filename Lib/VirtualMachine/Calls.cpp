// Invocation from outside the interpreter, indirection levels, the
// conversion of raised errors into bytecode exceptions, frame records and
// the stack root scan.
#include <algorithm>
#include <new>
#include <string>

#include "ObjectModel.h"
#include "StringObjects.h"
#include "TraceRecorder.h"
#include "VirtualMachine.h"

namespace vm {

Word VirtualMachine::wrap(int levels, Word value, int gcCode)
{
    switch (levels) {
    case 0:
        return value;
    case 1:
        return Word(newBox(*heap_, value));
    case 2:
    case 3: {
        Addr b1 = heap_->alloc(4, 0, gcCode);
        space_.setRawWord(b1, value);
        Addr box = newBox(*heap_, Word(b1));
        return Word(levels == 2 ? box : newBox(*heap_, Word(box)));
    }
    case -1:
    case -2:
    case -3:
        return deref(value, -levels);
    default:
        return 0;
    }
}

Word VirtualMachine::deref(Word value, int levels)
{
    for (int i = 0; i < levels; ++i)
        value = space_.loadWord(Addr(value));
    return value;
}

// The class index of a receiver passed with `levels` levels: word 0 of the
// object the last level names, which must be a live block.
int VirtualMachine::receiverKey(Word value, int levels, const MethodHandle& handle)
{
    if (levels <= 0)
        return value;
    for (int i = 1; i < levels && space_.contains(Addr(value), 4); ++i)
        value = space_.rawWord(Addr(value));
    if (!isLiveObject(value))
        fatal(handle.signature.toLatin1() + ": receiver is not a live object", -1);
    return space_.rawWord(Addr(value));
}

int VirtualMachine::methodAddress(int methodIndex, int key, int* gcInfo) const
{
    if (methodIndex < 0 || methodIndex >= methods.count())
        return -1;
    for (const ExportedMethod::MethodEntry& entry : methods[methodIndex].entries) {
        if (entry.classKey == key) {
            if (entry.codeAddress < 0 || entry.codeAddress >= codeEnd_)
                return -1;
            *gcInfo = entry.gcInfoIndex;
            return entry.codeAddress;
        }
    }
    return -1;
}

void VirtualMachine::pushFrame(int gcInfo, int base)
{
    if (frameCount_ >= kMaxFrames) [[unlikely]]
        fatal("Stack overflow", pc);
    frameGcInfo_[frameCount_] = gcInfo;
    frameBase_[frameCount_] = base;
    ++frameCount_;
}

void VirtualMachine::pushHandlerFrame(int gcInfo)
{
    int base = top;
    if (gcInfo >= 0 && gcInfo < int(callerSlots_.size()))
        base = top - callerSlots_[size_t(gcInfo)];
    pushFrame(gcInfo, base);
}

void VirtualMachine::dropStaleFrames()
{
    // Records of calls made inside a protected region no longer describe the
    // stack after a catch; drop those whose frame begins above the top.
    while (frameCount_ > 0 && frameBase_[frameCount_ - 1] > top)
        --frameCount_;
}

Word VirtualMachine::invoke(int handle, const Vec<int>& arguments, const Vec<int>& argumentLevels, int resultLevels)
{
    if (runningHandle_ != -1)
        fatal("VM concurrency error", -1);
    if (handle < 0 || handle >= handleTable.count())
        fatal("Internal error: invalid method handle " + std::to_string(handle), -1);
    runningHandle_ = handle;
    struct Reset {
        VirtualMachine* vm;
        ~Reset()
        {
            if (vm) {
                vm->runningHandle_ = -1;
                vm->pc = -1;
            }
        }
    } reset{this};

    const MethodHandle h = handleTable[handle];
    handlerCount_ = 0;
    frameCount_ = 0;
    handlerRuns_[HRaised] = handlerRuns_[HUncaught] = HandlerRun{};
    top = 0;
    if (h.hasResult) {
        stack_[0] = 0;
        top = 1;
    }
    int firstArgument = top;
    int n = std::min(arguments.count(), argumentLevels.count());
    if (n > kStackWords - 4)
        fatal("Stack overflow", -1);
    for (int i = 0; i < n; ++i) {
        int level = i < h.argumentLevels.count() ? h.argumentLevels[i] : 0;
        stack_[top] = wrap(level - argumentLevels[i], arguments[i], GC_CODE_REFERENCE);
        ++top;
    }

    // The receiver's class index is the key of a virtual method.
    const ExportedMethod& method = methods[h.methodIndex];
    int key = -1;
    bool runnable = true;
    if (method.isVirtual) {
        if (n > 0)
            key = receiverKey(stack_[firstArgument], h.argumentLevels.count() > 0 ? h.argumentLevels[0] : 0, h);
        else
            runnable = false;
    }
    int gcInfo = -1;
    int address = runnable ? methodAddress(h.methodIndex, key, &gcInfo) : -1;
    if (address >= 0) {
        pushFrame(gcInfo, 0);
        if (tracer_)
            tracer_->methodCall(address);
        stack_[top] = -1;  // the sentinel return address ends run()
        pc = address;
        for (;;) {
            bool haveError = false;
            try {
                run();
                break;
            } catch (const ErrorHandlingException&) {
                haveError = true;
            } catch (const TerminationSignal&) {
                throw;
            } catch (...) {
                haveError = false;
            }
            convertRaisedError(haveError);
        }
    }

    pc = -1;
    Word r = stack_[0];
    bool pinned = false;
    if (h.hasResult && h.resultLevel > 0 && r != 0 && heap_->isLiveBlock(Addr(r))) {
        heap_->addRoot(Addr(r));
        pinned = true;
    }
    heap_->collect();
    runningHandle_ = -1;
    reset.vm = nullptr;

    if (!draining_) {
        draining_ = true;
        try {
            while (!callQueue_.empty()) {
                StoredMethodCall call = std::move(callQueue_.front());
                callQueue_.pop_front();
                invoke(call.handle, call.arguments, call.argumentLevels, call.resultLevels);
            }
        } catch (...) {
            draining_ = false;
            throw;
        }
        draining_ = false;
    }
    if (pinned)
        heap_->removeRoot(Addr(r));
    return h.hasResult ? wrap(resultLevels - h.resultLevel, r, GC_CODE_REFERENCE) : 0;
}

void VirtualMachine::convertRaisedError(bool haveError)
{
    int code = haveError ? pendingError().code : 0;
    std::u16string text;
    if (code == KErrTerminate || code == KErrFatal) {
        clearPendingError();
        runningHandle_ = -1;
        throw TerminationSignal{code == KErrTerminate ? TerminationSignal::Terminated : TerminationSignal::Fatal};
    }
    if (code == 0) {
        code = KErrFatal;
        text = u"UNEXPECTED EXCEPTION";
    } else {
        text = pendingError().text;
    }
    clearPendingError();
    try {
        int handle = entries_[EInternalThrow];
        if (handle < 0)
            fatal("'vminternalthrow<int>,<string>' not found", pc);
        const MethodHandle& h = handleTable[handle];
        int gcInfo;
        int address = methodAddress(h.methodIndex, -1, &gcInfo);
        if (address < 0)
            fatal("'vminternalthrow<int>,<string>' not found", pc);
        int level0 = h.argumentLevels.count() > 0 ? h.argumentLevels[0] : 0;
        int level1 = h.argumentLevels.count() > 1 ? h.argumentLevels[1] : 1;
        Word codeWord = wrap(level0, code, GC_CODE_REFERENCE);
        Word textWord = wrap(level1 - 1, Word(newStringObject(*heap_, OString(std::u16string_view(text)))),
                             GC_CODE_REFERENCE);
        if (top < -1 || top + 3 >= kStackWords)
            fatal("Stack overflow", pc);
        stack_[++top] = codeWord;
        stack_[++top] = textWord;
        stack_[++top] = pc + 1;
        enterRaisedHandler(code, text);
        pushHandlerFrame(gcInfo);  // its ret pops it
        if (tracer_)
            tracer_->errorRaised(code);
        pc = address;
    } catch (const ErrorHandlingException&) {
        // Nothing can carry this error into bytecode: the run ends.
        int failed = pendingError().code;
        clearPendingError();
        runningHandle_ = -1;
        throw TerminationSignal{failed == KErrTerminate ? TerminationSignal::Terminated : TerminationSignal::Fatal};
    }
}

void VirtualMachine::collectWithStack()
{
    VMHeap& heap = *heap_;
    Addr stackLow = stackAddress_;
    Addr stackHigh = stackAddress_ + 4u * kHeapStackWords;
    int last = std::min(top, kStackWords - 1);
    auto inStack = [&](long s) { return s >= 0 && s <= last; };
    try {
        long p = 0;
        auto conservative = [&](long from, long to) {
            for (long s = std::max(from, 0L); s < to && s <= last; ++s)
                heap.markIfInHeap(uint32_t(stack_[s]));
        };
        for (int i = 0; i < frameCount_; ++i) {
            int m = frameGcInfo_[i];
            if (m < 0 || m >= gcInfos.count())
                continue;
            long base = frameBase_[i];
            conservative(p, base);
            p = base;
            const MethodGCInfo& g = gcInfos[m];
            for (int o : g.checkedReferenceSlots) {
                if (!inStack(p + o))
                    continue;
                uint32_t v = uint32_t(stack_[p + o]);
                if (v != 0 && !(v >= stackLow && v < stackHigh))
                    heap.markIfInHeap(v);
            }
            for (int j = 0; j < g.arrayReferenceSlots.count(); ++j) {
                long s = p + g.arrayReferenceSlots[j];
                if (inStack(s))
                    heap.markArrayField(Addr(stack_[s]), g.arrayReferenceFlags[j] != 0);
            }
            for (int o : g.referenceSlots)
                if (inStack(p + o))
                    heap.mark(Addr(stack_[p + o]));
            for (int j = 0; j < g.inlineArraySlots.count(); ++j) {
                long s = p + g.inlineArraySlots[j];
                if (inStack(s) && inStack(s + 1) && (stack_[s] != 0 || stack_[s + 1] != 0))
                    heap.markArrayField(slotAddress(int(s)), g.inlineArrayFlags[j] != 0);
            }
            p += long(g.extraSlots) + g.parameterSlots + g.localSlots + 1;
        }
        conservative(p, long(last) + 1);
        heap.collect();
    } catch (...) {
        heap.clearMarks();
        throw;
    }
}

}  // namespace vm
