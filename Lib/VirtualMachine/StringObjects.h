// String objects in the VM heap. A bytecode string value is a reference to a
// one-word box (GC_CODE_REFERENCE) whose word is the address of an 8-byte
// block (GC_CODE_STRING, isGcObject -1) owning an OString; the two blocks are
// allocated together, the OString block first.
#pragma once

#include "../Containers/OString.h"
#include "Heap.h"

namespace vm {

// Size of the block that owns an OString.
constexpr uint32_t kStringObjectSize = 8;

// A new string value holding a copy of aText (sharing its buffer); returns
// the box.
Addr newStringObject(VMHeap& aHeap, const OString& aText);
Addr newStringObject(VMHeap& aHeap, OString&& aText);

// The OString of a string value: aReference is null-checked (code 1 "NULL
// pointer"), its word must name a block owning an OString (else code 10
// "Invalid object"; a box holding 0 is a null string, code 1).
OString& stringOf(VMHeap& aHeap, Addr aReference);

}  // namespace vm
