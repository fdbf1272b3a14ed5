// VirtualMachine: loads bytecode, runs it, and is the one object through
// which the host drives bytecode and natives reach the VM.
//
// The operand stack lives in the VM address space (slot i at stackAddress +
// 4i) so that bytecode can take slot addresses. `top` is the index of the
// topmost occupied slot. Everything bytecode touches goes through checked
// accesses of the space; stack overflow and underflow end the run.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "../Containers/CAppsString.h"
#include "../Containers/OString.h"
#include "../Containers/Vec.h"
#include "FrameworkServices.h"
#include "Heap.h"
#include "VMError.h"
#include "VMSpace.h"

class CAppsFileReader;

namespace vm {

class TraceRecorder;

class MVMCallbackInterface {
public:
    virtual ~MVMCallbackInterface() = default;
    /* 2 */ virtual int getMethodHandle(const CAppsString& signature, int moduleIndex) = 0;
    /* 3 */ virtual Word callMethod(int handle, const Vec<int>& arguments, const Vec<int>& argumentLevels,
                                    int resultLevels) = 0;
    /* 4 */ [[noreturn]] virtual void fatalError(std::string_view message, int position) = 0;
    /* 5 */ virtual VMHeap& getHeap() = 0;
    /* 6 */ virtual Word wrap(int levels, Word value, int gcCode) = 0;
};

class VirtualMachine : public MVMCallbackInterface, public InterfaceForCallingGc {
public:
    static constexpr int kStackWords = 15256;
    static constexpr int kHeapStackWords = 15000;
    static constexpr int kStackGuardWords = 16;  // committed slack around the stack
    static constexpr int kHandlers = 128;        // records 1..127 are used
    static constexpr int kMaxFrames = 16384;
    static constexpr uint32_t kMinPoolSize = 64000;
    // Invalid opcodes (0xFF) around the code: a short jump cannot leave them.
    static constexpr int kCodePadding = 32768 + 16;

    struct BytecodeStruct {
        CAppsString name;
        Vec<unsigned char> moduleId;
        int codeStart = 0;
        int codeLength = 0;
    };
    struct ExportedMethod {
        struct MethodEntry {
            int classKey;
            int codeAddress;
            int gcInfoIndex;
        };
        int moduleIndex = 0;
        Vec<MethodEntry> entries;
        CAppsString name;
        unsigned char isVirtual = 0;
        int handleIndex = -1;
    };
    struct MethodGCInfo {
        int parameterSlots = 0;
        Vec<int> checkedReferenceSlots;
        Vec<int> arrayReferenceSlots;
        Vec<char> arrayReferenceFlags;
        int extraSlots = 0;
        int localSlots = 0;
        Vec<int> referenceSlots;
        Vec<int> inlineArraySlots;
        Vec<char> inlineArrayFlags;
    };
    struct MethodHandle {
        unsigned char hasResult = 0;
        int resultLevel = 0;
        CAppsString signature;
        Vec<int> argumentLevels;
        int methodIndex = 0;
    };
    struct StoredMethodCall {
        int handle;
        Vec<int> arguments;
        Vec<int> argumentLevels;
        int resultLevels;
    };
    struct Handler {
        int classIndex;
        int savedTop;
        int handlerPc;
        int savedFrames;  // frame records when the handler was opened
    };
    // Entry signatures resolved by global initialisation, in this order.
    enum EntryHandle {
        EGlobalInit, EMain, ETimerEvent, EDraw, EKeyPressed, EKeyReleased, EPointerEvent, EPointerPressed,
        EPointerDragged, EPointerReleased, EExitEvent, EForeground, EBackground, EOrientationChanged,
        EInternalThrow, EPrintThrowable, EPrintThrowableAndExit, EEntryCount
    };
    static const char* const kEntrySignatures[EEntryCount];

    VirtualMachine();
    ~VirtualMachine() override;
    VirtualMachine(const VirtualMachine&) = delete;
    VirtualMachine& operator=(const VirtualMachine&) = delete;

    // MVMCallbackInterface
    int getMethodHandle(const CAppsString& signature, int moduleIndex) override;
    Word callMethod(int handle, const Vec<int>& arguments, const Vec<int>& argumentLevels,
                    int resultLevels) override;
    [[noreturn]] void fatalError(std::string_view message, int position) override;
    VMHeap& getHeap() override { return *heap_; }
    Word wrap(int levels, Word value, int gcCode) override;
    // A new byte vector of `size` elements; returns its array holder.
    virtual Addr createByteVector(int size);
    // InterfaceForCallingGc
    void collectWithStack() override;

    // Loading and starting.
    bool loadModule(CAppsFileReader& reader, const CAppsString& name, int& moduleIndex);
    // Loads the module, resolves the entry signatures, runs "::global::init"
    // and "main", then collects.
    void start(CAppsFileReader& reader, const CAppsString& name, FrameworkServices* host);
    void globalInit(int moduleIndex);

    Word invoke(int handle, const Vec<int>& arguments, const Vec<int>& argumentLevels, int resultLevels);

    // Event delivery from the host.
    void deliverDraw(Addr drawable);
    void deliverTimer(Word listener);
    void deliverTimer(Word listener, int timerId);  // the id names the timer in messages
    void deliverKey(int keyCode, int scanCode, int modifiers, const OString& text, bool pressed);
    void deliverPointer(int type, int x, int y, int modifiers);
    void deliverForeground();
    void deliverBackground();
    void deliverOrientation(Word listener, int orientation);
    void deliverExit();

    // The VM of the calling thread.
    static VirtualMachine* current();

    // --- State used by natives -------------------------------------------
    VMSpace& space() { return space_; }
    VMHeap& heap() { return *heap_; }
    FrameworkServices* host() const { return host_; }
    void setHost(FrameworkServices* host) { host_ = host; }
    int32_t* stack() const { return stack_; }
    Addr stackAddress() const { return stackAddress_; }
    Addr slotAddress(int index) const { return stackAddress_ + 4u * uint32_t(index); }

    int top = -1;
    int pc = -1;

    // The word k slots below the top (0: T, 1: U), for natives; raises a VM
    // error when the stack holds fewer words.
    Word& arg(int k)
    {
        int i = top - k;
        if (unsigned(i) >= unsigned(kStackWords)) [[unlikely]]
            stackFault(i);
        return stack_[i];
    }
    void pop(int n)
    {
        if (n > top + 1) [[unlikely]]
            stackFault(top - n);
        top -= n;
    }
    void push(Word value)
    {
        if (top + 1 >= kStackWords) [[unlikely]]
            stackFault(top + 1);
        stack_[++top] = value;
    }
    // Code 10 with the group's label and the bytecode position.
    [[noreturn]] void unknownNativeFunction(const char* label);
    [[noreturn]] void stackFault(int index);
    // Logs "FATAL: " + message and ends the running activity (code 11).
    [[noreturn]] void fatal(std::string_view message, int position);

    Word application() const { return application_; }
    void setApplication(Word object);
    Word globals() const { return globals_; }

    // Test switch: a full collection with the stack at every call.
    void setGcStress(bool on) { gcStress_ = on; }
    // Test switch: the run ends fatally ("Step limit reached") after this
    // many taken jumps, calls and returns; negative for no limit.
    void setStepLimit(int64_t steps) { stepBudget_ = steps < 0 ? INT64_MAX : steps; }
    bool gcStress() const { return gcStress_; }
    // Test switch: superinstructions on (the default) or off; the result of
    // any program is the same either way.
    void setSuperinstructions(bool on);
    // Source of randomness for tests and the Math group.
    int entryHandle(EntryHandle which) const { return entries_[which]; }

    // Tables (filled by the loader).
    Vec<BytecodeStruct> modules;
    Vec<ExportedMethod> methods;
    Vec<MethodGCInfo> gcInfos;
    Vec<Vec<int> > classReferenceFields;
    Vec<Vec<int> > classArrayFields;
    Vec<Vec<char> > classArrayFieldFlags;
    Vec<int> classParents;
    int highestClassIndex = 0;
    Vec<OString> stringPool;
    Vec<MethodHandle> handleTable;
    int codeLength() const { return codeEnd_; }
    const uint8_t* codeBytes() const { return code_.data() + kCodePadding; }
    int runningHandle() const { return runningHandle_; }
    int handlerCount() const { return handlerCount_; }
    int frameCount() const { return frameCount_; }
    size_t queuedCalls() const { return callQueue_.size(); }

    // Native groups (one file per family). Each takes the function number.
    typedef void (VirtualMachine::*NativeGroup)(int function);
    static const NativeGroup kNativeGroups[37];
    void callNative(int group, int function);

    // Groups 1 and 3-7 share one handler over the element kind: SIZE values
    // of TYPE per element; bPrimitive is false when elements are references.
    template <typename TYPE, int SIZE>
    void vectorNative(int function, bool bPrimitive);
    void vectorNativeByte(int function);
    void vectorNativeInt1(int function);
    void vectorNativeInt2(int function);
    void vectorNativeInt3(int function);
    void vectorNativeInt4(int function);
    void vectorNativeObject(int function);
    void stringNative(int function);
    void byteNative(int function);
    void charNative(int function);
    void fixedNative(int function);
    void longNative(int function);
    void colorNative(int function);
    void rangeNative(int function);
    void sizeNative(int function);
    void positionNative(int function);
    void rectangleNative(int function);
    void graphicsNative(int function);
    void bitmapNative(int function);
    void fontNative(int function);
    void outputStreamNative(int function);
    void fileWriterNative(int function);
    void inputStreamNative(int function);
    void fileReaderNative(int function);
    void fileSystemNative(int function);
    void mathNative(int function);
    void numberNative(int function);
    void encoderNative(int function);
    void dateTimeNative(int function);
    void debugNative(int function);
    void screenNative(int function);
    void systemNative(int function);
    void timerNative(int function);
    void hashNative(int function);
    void keyEventNative(int function);
    void floatNative(int function);

private:
    friend class Interpreter;
    void run();
    void resetCode();
    void padCode();
    // Turns the pending error into a call of "vminternalthrow"; returns false
    // when the error is a termination signal (thrown instead).
    void convertRaisedError(bool haveError);
    void pushFrame(int gcInfo, int base);
    // The frame record of a handler the runtime enters, its return address
    // on top, as a call makes one (for a map the module lacks, the frame
    // starts at the top).
    void pushHandlerFrame(int gcInfo);
    void dropStaleFrames();
    [[noreturn]] void badCodeAddress(int address);
    [[noreturn]] void badSlot(int64_t index);
    int methodAddress(int methodIndex, int key, int* gcInfo) const;
    void scanQueuedRoots(VMHeap& heap);
    void scanGlobals(VMHeap& heap);
    Word deref(Word value, int levels);
    bool isLiveObject(Word object) const;
    int receiverKey(Word value, int levels, const MethodHandle& handle);
    void requireReceiver(Word object, const std::string& delivery, const char* receiver);
    void deliverToApplication(EntryHandle which, const char* delivery);
    Addr newKeyEvent(int keyCode, int scanCode, int modifiers, const OString& text);

    // An error raised inside the raised-error handler or inside
    // "vmprintthrowableandexit" (or a method they call) ends the run, naming
    // the error that led there, instead of calling the handler again
    // (HandlerGuard.cpp).
    enum HandlerKind { HRaised, HUncaught, HKinds };
    struct HandlerRun {
        int returnSlot = -1;  // stack index of its return address; -1: not running
        Word returnAddress = 0;
    };
    struct HandledError {
        int code = 0;  // 0: an exception thrown by the program
        std::u16string text;
        int position = -1;
    };
    // Called with the handler's return address pushed on top (pc still at
    // the error, or the position of the throw).
    void enterRaisedHandler(int code, const std::u16string& text);
    void enterUncaughtHandler(int throwPosition);
    bool handlerRunning(HandlerKind kind) const;
    [[noreturn]] void failInside(int kind, const std::string& what);
    HandlerRun handlerRuns_[HKinds];
    HandledError handled_;

    VMSpace space_;
    std::unique_ptr<VMHeap> heap_;
    FrameworkServices* host_ = nullptr;
    std::vector<uint8_t> code_;
    std::string loadFailure_;  // why the last load failed: "offset N: reason"
    std::vector<uint8_t> dispatch_;  // pre-decoded code_ (Predecode.h), same positions
    bool superinstructions_ = true;
    int codeEnd_ = 0;
    Addr stackAddress_ = 0;
    int32_t* stack_ = nullptr;
    Handler handlers_[kHandlers] = {};
    int handlerCount_ = 0;
    std::unique_ptr<int[]> frameGcInfo_;
    std::unique_ptr<int[]> frameBase_;
    int frameCount_ = 0;
    std::vector<int> callerSlots_;  // parameterSlots + extraSlots per stack map
    int runningHandle_ = -1;
    bool draining_ = false;
    std::deque<StoredMethodCall> callQueue_;
    Word application_ = 0;
    Word globals_ = 0;
    int entries_[EEntryCount];
    bool gcStress_ = false;
    int64_t stepBudget_ = INT64_MAX;
    VirtualMachine* previousCurrent_ = nullptr;

public:
    // State of the Math group's random generator (MT19937), made on first use
    // from the process clock; tests seed it with seedRandom.
    struct RandomState {
        uint32_t mt[624];
        int index = 0;
    };
    std::unique_ptr<RandomState> random;
    void seedRandom(uint32_t seed);

    // Trace recording (TraceRecorder.h), off unless started. The interpreter
    // tests tracer_ once at calls, returns and throws. startTrace is false
    // (after one message) when the file cannot be written.
    bool startTrace(const std::string& path);
    void stopTrace();
    TraceRecorder* tracer() const { return tracer_.get(); }

private:
    std::unique_ptr<TraceRecorder> tracer_;
};

}  // namespace vm
