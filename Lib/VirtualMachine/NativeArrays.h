// Arrays as the file, stream and encoder natives read and make them: byte
// arrays (byte[]) and arrays of strings. An array holder's word 0 is a vector
// block (word 1 the element block, word 2 the capacity, word 3 the count).
// Every word is checked when read, since bytecode can rewrite them: the
// vector must be a live vector block and the count must fit the element
// block.
#pragma once

#include "../Containers/Vec.h"
#include "Types.h"

class OString;

namespace vm {

class VMHeap;
class VirtualMachine;

struct ByteArrayView {
    TUint8* data;  // null when count is 0
    TInt32 count;
};

// The bytes of a byte array. Null holder or vector: code 1; a broken vector:
// code 10 "Invalid vector".
ByteArrayView byteArrayOf(VMHeap& aHeap, Addr aHolder);
// A new byte array holding a copy of aCount bytes; returns the holder.
Addr newByteArray(VirtualMachine& aVm, const TUint8* aData, TInt32 aCount);
// A new array of new string objects (a reference-element holder); returns
// the holder.
Addr newStringArray(VMHeap& aHeap, const Vec<OString>& aTexts);

}  // namespace vm
