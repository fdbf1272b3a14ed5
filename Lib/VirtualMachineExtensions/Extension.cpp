#include "Extension.h"

#include <cstdlib>
#include "ORaw.h"

namespace ext {

Addr ExtensionStack::address(int aSlot) const
{
    if (aSlot < 0)
        iVm.fatalError("Stack underflow", -1);
    if (aSlot >= vm::VirtualMachine::kStackWords)
        iVm.fatalError("Stack overflow", -1);
    return iBase + 4u * Addr(aSlot);
}

TInt64 ExtensionStack::fixed(int aSlot) const
{
    return vm::ORaw::fromWords(word(aSlot), word(aSlot + 1));
}

void ExtensionStack::setFixed(int aSlot, TInt64 aValue) const
{
    setWord(aSlot, vm::ORaw::lowWord(aValue));
    setWord(aSlot + 1, vm::ORaw::highWord(aValue));
}

void unknownOperation(vm::MVMCallbackInterface& aVm, const char* aMessage)
{
    aVm.fatalError(aMessage, -1);
    std::abort();  // fatalError does not return
}

void storeInto(vm::VMHeap& aHeap, Word aObject, Addr aBlock)
{
    aHeap.space().storeWord(vm::nullCheck(Addr(aObject)), Word(aBlock));
}

std::string configuredPath(const char* aVariable, const char* aDefault)
{
    const char* value = std::getenv(aVariable);
    return value && *value ? std::string(value) : std::string(aDefault);
}

}  // namespace ext
