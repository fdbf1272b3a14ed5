// The device extensions reached by the extension-call instruction, and what
// every extension shares: the dispatcher interface, checked access to the
// operand stack, the cells through which program objects hold native
// objects, and the environment overrides of device paths.
//
// Dispatcher contract: operands are the slots at and below `top` (the last
// operand at `top`); results are written from the first operand's slot on
// (from top + 1 for an operation without operands); the return value is the
// new top, top - consumed + produced. An unknown operation ends the run
// through fatalError with the extension's own message.
#pragma once

#include <string>

#include "ObjectModel.h"
#include "VirtualMachine.h"

namespace ext {

using vm::Addr;
using vm::Word;

class MVMExtension {
public:
    virtual ~MVMExtension() = default;
    // Runs the operation on the operand stack at aStackBase; returns the new top.
    virtual int callDllNative(int aOperation, int aTop, Addr aStackBase) = 0;
};

// The operand stack as an extension sees it: slot i at base + 4i. Every access
// is checked: a slot below the stack ends the run with "Stack underflow", one
// above it with "Stack overflow", as the interpreter's own accesses do.
class ExtensionStack {
public:
    ExtensionStack(vm::MVMCallbackInterface& aVm, int aTop, Addr aBase)
        : iVm(aVm), iSpace(aVm.getHeap().space()), iBase(aBase), top(aTop)
    {
    }

    Word word(int aSlot) const { return iSpace.loadWord(address(aSlot)); }
    void setWord(int aSlot, Word aValue) const { iSpace.storeWord(address(aSlot), aValue); }
    // A fixed-point value: two slots, the low word in the lower one.
    TInt64 fixed(int aSlot) const;
    void setFixed(int aSlot, TInt64 aValue) const;

    vm::MVMCallbackInterface& vm() const { return iVm; }
    vm::VMHeap& heap() const { return iVm.getHeap(); }

private:
    Addr address(int aSlot) const;

    vm::MVMCallbackInterface& iVm;
    vm::VMSpace& iSpace;
    Addr iBase;

public:
    const int top;
};

// Ends the run through fatalError with the extension's message.
[[noreturn]] void unknownOperation(vm::MVMCallbackInterface& aVm, const char* aMessage);

// A program object keeps its native object in its first word (a box or an
// instance field that bytecode made): the object operand is the address of
// that cell.
// The native object of type T in the cell aObject: the cell is null-checked,
// then the object's block (code 1 for null, code 10 "Invalid object" for a
// block that owns no T).
template <typename T>
T& nativeObjectIn(vm::VMHeap& aHeap, Word aObject)
{
    Addr cell = vm::nullCheck(Addr(aObject));
    return vm::objectOf<T>(aHeap, Addr(aHeap.space().loadWord(cell)));
}
// Stores aBlock into the cell aObject (null-checked).
void storeInto(vm::VMHeap& aHeap, Word aObject, Addr aBlock);

// The path in the environment variable aVariable when it is set and not
// empty, else aDefault.
std::string configuredPath(const char* aVariable, const char* aDefault);

}  // namespace ext
