// How bytecode values refer to heap objects: the null check, one-word boxes,
// and native objects reached through a block's object handle.
#pragma once

#include "Heap.h"
#include "VMError.h"

namespace vm {

// A null reference raises code 1 "NULL pointer".
inline Addr nullCheck(Addr reference)
{
    if (reference == 0) [[unlikely]]
        raiseVmError(KErrNull, "NULL pointer");
    return reference;
}

// The host object of type T that the block at payload owns. Raises code 1 for
// null and code 10 "Invalid object" when the block owns no T.
template <typename T>
T& objectOf(VMHeap& heap, Addr payload)
{
    T* object = heap.objectAs<T>(nullCheck(payload));
    if (!object) [[unlikely]]
        raiseVmError(KErrVm, "Invalid object");
    return *object;
}

// A new one-word box (GC_CODE_REFERENCE) holding value.
inline Addr newBox(VMHeap& heap, Word value)
{
    Addr box = heap.alloc(4, 0, GC_CODE_REFERENCE);
    heap.space().setRawWord(box, value);
    return box;
}

// A native object and its box, allocated together: the object's block of
// objectSize bytes (isGcObject -1, gcCode) then the box that refers to it.
// Takes ownership of object; returns the box.
template <typename T>
Addr newBoxedObject(VMHeap& heap, uint32_t objectSize, int gcCode, T* object)
{
    std::pair<Addr, Addr> pair;
    try {
        pair = heap.allocPair(objectSize < 4 ? 4 : objectSize, -1, gcCode, 4, 0, GC_CODE_REFERENCE);
    } catch (...) {
        delete object;
        throw;
    }
    heap.attach(pair.first, object);
    heap.space().setRawWord(pair.second, Word(pair.first));
    return pair.second;
}

// The object a box refers to: box null-checked, then its word.
inline Addr unbox(VMHeap& heap, Addr box)
{
    return Addr(heap.space().loadWord(nullCheck(box)));
}

}  // namespace vm
