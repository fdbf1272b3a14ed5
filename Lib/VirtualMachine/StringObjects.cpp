#include "StringObjects.h"

#include <typeinfo>

#include "ObjectModel.h"

namespace vm {

Addr newStringObject(VMHeap& aHeap, const OString& aText)
{
    return newBoxedObject(aHeap, kStringObjectSize, GC_CODE_STRING, new OString(aText));
}

Addr newStringObject(VMHeap& aHeap, OString&& aText)
{
    return newBoxedObject(aHeap, kStringObjectSize, GC_CODE_STRING, new OString(std::move(aText)));
}

OString& stringOf(VMHeap& aHeap, Addr aReference)
{
    // OString has no subclasses: an exact type test stands for the cast.
    HostObject* object = aHeap.objectAt(nullCheck(unbox(aHeap, aReference)));
    if (!object || typeid(*object) != typeid(OString)) [[unlikely]]
        raiseVmError(KErrVm, "Invalid object");
    return *static_cast<OString*>(object);
}

}  // namespace vm
