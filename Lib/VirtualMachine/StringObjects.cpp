#include "StringObjects.h"

#include "ObjectModel.h"

namespace vm {

Addr newStringObject(VMHeap& aHeap, const OString& aText)
{
    return newBoxedObject(aHeap, kStringObjectSize, GC_CODE_STRING, new OString(aText));
}

OString& stringOf(VMHeap& aHeap, Addr aReference)
{
    return objectOf<OString>(aHeap, unbox(aHeap, aReference));
}

}  // namespace vm
