// OVector: the vector of bytecode, a growable array in the VM heap, and the
// one way natives make and read vectors.
//
// A vector value is a reference to an array holder (8 bytes): word 0 the
// vector record, word 1 the element size in bytes as the vector-creation
// instruction gives it (0 in holders made here). The holder is GC_CODE_ARRAY
// when the elements are plain values, GC_CODE_OBJECT_ARRAY when each element
// is one reference. An array field of an instance holds the record's address
// in the field itself, so the field's address serves as a holder too.
//
// The record (16 bytes, GC_CODE_VECTOR) is plain data:
//   word 0  unused (0)
//   word 1  the element array: a plain block (GC_CODE_NATIVE), 0 when empty
//   word 2  capacity in elements
//   word 3  count in elements
//
// Invariants kept by every operation here:
//  - an empty vector has no array (words 1-3 all 0): the collector marks the
//    array only while the count is positive;
//  - a new array for n elements has capacity max(10, n * 1.2 truncated) and
//    is zero-filled;
//  - an edit stays in the current array when the new count fits the
//    capacity; an edit that shortens the vector stays there only when the new
//    count also exceeds half the capacity (capacity / 2 truncated); otherwise
//    the elements move to a new array sized for the new count;
//  - a replaced array is left to the collector (bytecode may still hold
//    element addresses into it), never freed here;
//  - counts whose array would not fit the address space raise code 10 "Out of
//    memory" before anything is allocated.
//
// Bytecode can write any word into a holder or a record, so a view is made
// only through validation (ofHolder/ofRecord): the record must be a live
// vector block, 0 <= count <= capacity, and a non-empty vector's array a live
// plain block holding capacity * elementSize bytes; anything else raises code
// 10 "Invalid vector". Every access through a view therefore stays inside the
// VM address space and inside the vector's own array.
//
// Allocation never starts a collection, so a vector under construction needs
// no rooting while a native fills it; publish it (store it in a cell, put it
// on the stack) once it is complete.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "../VirtualMachine/Types.h"
#include "Vec.h"

class OString;

namespace vm {

class VMHeap;

// Element of a vector of SIZE values of TYPE: SIZE stack words per element
// (a byte element is one sign-extended stack word).
template <typename TYPE, int SIZE>
struct ObjectWrapper {
    TYPE value[SIZE];
};

class OVector {
public:
    static constexpr uint32_t kRecordSize = 16;
    static constexpr uint32_t kHolderSize = 8;

    // Storage rule: capacity for n elements, max(10, n * 1.2 truncated).
    static uint64_t capacityFor(uint64_t n) { return n * 6 / 5 > 10 ? n * 6 / 5 : 10; }
    // True when a vector of n elements of elementSize bytes can exist.
    static bool fits(uint64_t n, uint32_t elementSize);
    // Raises code 10 "Out of memory" unless fits(n, elementSize).
    static void requireFits(uint64_t n, uint32_t elementSize);

    // --- Making vectors (count < 0 raises code 6; zeroed elements) --------
    // A new vector with its holder, allocated together (allocPair). The
    // holder's gcCode is GC_CODE_ARRAY or, for references, GC_CODE_OBJECT_ARRAY.
    static OVector create(VMHeap& heap, uint32_t elementSize, int count, bool references = false);
    // A new record without a holder, for a native that stores the vector into
    // a holder bytecode gave it (storeInto).
    static OVector createRecord(VMHeap& heap, uint32_t elementSize, int count);

    // --- Reading vectors (validated; see above) ---------------------------
    // holder is null-checked (code 1), its word 0 read through the checked
    // access and null-checked (code 1, a holder without a vector).
    static OVector ofHolder(VMHeap& heap, Addr holder, uint32_t elementSize);
    static OVector ofRecord(VMHeap& heap, Addr record, uint32_t elementSize);

    Addr record() const { return record_; }
    Addr holder() const { return holder_; }  // 0 unless made by create()
    uint32_t elementSize() const { return elementSize_; }
    int count() const { return count_; }
    int capacity() const { return capacity_; }
    bool isEmpty() const { return count_ == 0; }
    Addr elements() const { return elements_; }  // 0 when empty
    // VM address of element index; outside 0..count-1 raises code 2.
    Addr elementAddress(int index) const;
    // Host pointer to element 0 (null when empty), count * elementSize bytes.
    // Valid until this vector is edited.
    uint8_t* data() const;
    std::span<uint8_t> bytes() const { return {data(), size_t(count_) * elementSize_}; }
    template <typename T>
    T* dataAs() const { return reinterpret_cast<T*>(data()); }

    // Stores the record into the word at cell (checked; null raises code 1).
    void storeInto(Addr cell) const;

    // --- Editing (indices and counts in elements) -------------------------
    // Replaces the n elements at index by m elements copied from src (null:
    // zeroed elements). src may point into this vector's own array. The
    // caller keeps 0 <= index, n and index + n <= count; a result too large
    // raises code 10 "Out of memory".
    void splice(int index, int n, const void* src, int m);
    void insert(int index, const void* src, int m) { splice(index, 0, src, m); }
    void append(const void* src, int m = 1)
    {
        if (count_ + int64_t(m) <= capacity_ && m > 0 && src) [[likely]]
            appendInPlace(src, m);
        else
            splice(count_, 0, src, m);
    }
    void remove(int index, int n) { splice(index, n, nullptr, 0); }
    void clear() { splice(0, count_, nullptr, 0); }
    // Count becomes n: new elements are zero, surplus ones removed.
    void resize(int n);
    // The elements become themselves `times` times over (0 empties).
    void repeat(int times);

private:
    OVector(VMHeap& heap, Addr record, uint32_t elementSize) : heap_(&heap), record_(record), elementSize_(elementSize) {}
    [[noreturn]] static void invalid();
    void appendInPlace(const void* src, int m);
    void writeRecord() const;
    // Allocates a zeroed array for n > 0 elements.
    Addr newArray(int n) const;

    VMHeap* heap_;
    Addr record_;
    Addr holder_ = 0;
    uint32_t elementSize_;
    Addr elements_ = 0;
    int capacity_ = 0;
    int count_ = 0;
};

// --- Host-side helpers -----------------------------------------------------
// Byte vectors (one signed byte per element): a new vector with its holder
// holding a copy of the bytes; returns the holder.
Addr newByteVector(VMHeap& heap, const void* bytes, size_t n);
inline Addr newByteVector(VMHeap& heap, std::span<const uint8_t> bytes)
{
    return newByteVector(heap, bytes.data(), bytes.size());
}
// A copy of the bytes of the byte vector that holder refers to (validated).
std::vector<uint8_t> byteVectorBytes(VMHeap& heap, Addr holder);

// Word vectors (one 32-bit value per element).
Addr newIntVector(VMHeap& heap, std::span<const int32_t> values);
std::vector<int32_t> intVectorValues(VMHeap& heap, Addr holder);

// Reference vectors of strings: one new string object per element
// (GC_CODE_OBJECT_ARRAY holder); returns the holder.
Addr newStringVector(VMHeap& heap, const Vec<OString>& strings);
// The strings of such a vector; a null element raises code 1, an element
// that is not a string code 10 "Invalid object".
Vec<OString> stringVectorStrings(VMHeap& heap, Addr holder);

}  // namespace vm
