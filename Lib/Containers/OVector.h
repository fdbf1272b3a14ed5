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
#include <cstring>
#include <span>
#include <vector>

#include "../VirtualMachine/Heap.h"
#include "../VirtualMachine/ObjectModel.h"
#include "../VirtualMachine/Types.h"
#include "Vec.h"

class OString;

namespace vm {

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
    MCB_HOT_INLINE static OVector ofHolder(VMHeap& heap, Addr holder, uint32_t elementSize)
    {
        Addr record = Addr(heap.space().loadWord(nullCheck(holder)));
        return ofRecord(heap, nullCheck(record), elementSize);
    }
    static OVector ofRecord(VMHeap& heap, Addr record, uint32_t elementSize);

    Addr record() const { return record_; }
    Addr holder() const { return holder_; }  // 0 unless made by create()
    uint32_t elementSize() const { return elementSize_; }
    int count() const { return count_; }
    int capacity() const { return capacity_; }
    bool isEmpty() const { return count_ == 0; }
    Addr elements() const { return elements_; }  // 0 when empty
    // VM address of element index; outside 0..count-1 raises code 2.
    Addr elementAddress(int index) const
    {
        if (unsigned(index) >= unsigned(count_)) [[unlikely]]
            badIndex();
        return elements_ + uint32_t(index) * elementSize_;
    }
    // Host pointer to element 0 (null when empty), count * elementSize bytes.
    // Valid until this vector is edited.
    uint8_t* data() const { return elements_ ? base_ + elements_ : nullptr; }
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
        if (count_ + int64_t(m) <= capacity_ && m > 0 && src) [[likely]] {
            std::memcpy(base_ + elements_ + size_t(count_) * elementSize_, src, size_t(m) * elementSize_);
            setCount(count_ + m);
        } else {
            splice(count_, 0, src, m);
        }
    }
    // append(src) of one element of N bytes, N being elementSize().
    template <uint32_t N>
    void appendOne(const void* src)
    {
        if (count_ < capacity_) [[likely]] {
            std::memcpy(base_ + elements_ + size_t(count_) * N, src, N);
            setCount(count_ + 1);
        } else {
            splice(count_, 0, src, 1);
        }
    }
    void remove(int index, int n)
    {
        if (index + int64_t(n) == count_ && count_ - n > capacity_ / 2) [[likely]]
            setCount(count_ - n);  // the last n, in place
        else
            splice(index, n, nullptr, 0);
    }
    void clear() { splice(0, count_, nullptr, 0); }
    // Count becomes n: new elements are zero, surplus ones removed.
    void resize(int n);
    // The elements become themselves `times` times over (0 empties).
    void repeat(int times);

private:
    OVector(VMHeap& heap, Addr record, uint32_t elementSize)
        : heap_(&heap), base_(heap.space().base()), record_(record), elementSize_(elementSize)
    {
    }
    static OVector checkRecord(VMHeap& heap, Addr record, uint32_t elementSize);
    // A view with its array (count elements) but no record yet.
    static OVector unpublished(VMHeap& heap, uint32_t elementSize, int count);
    [[noreturn]] static void invalid();
    [[noreturn]] static void badIndex();
    void setCount(int n)
    {
        count_ = n;
        std::memcpy(base_ + record_ + 12, &count_, 4);
    }
    void writeRecord() const;
    // Allocates a zeroed array for n > 0 elements.
    Addr newArray(int n) const;

    VMHeap* heap_;
    uint8_t* base_;  // the space's base
    Addr record_;
    Addr holder_ = 0;
    uint32_t elementSize_;
    Addr elements_ = 0;
    int capacity_ = 0;
    int count_ = 0;
};

namespace detail {

// Records found valid lately. While the heap's layout version and a record's
// array and capacity words are unchanged, its blocks are still live with the
// same extents, so the array still holds the capacity.
struct CheckedRecord {
    uint64_t layout;
    Addr record;
    Addr elements;
    int32_t capacity;
    uint32_t elementSize;
};
inline constexpr int kCheckedRecords = 4;
extern thread_local CheckedRecord tCheckedRecords[kCheckedRecords];

}  // namespace detail

MCB_HOT_INLINE OVector OVector::ofRecord(VMHeap& heap, Addr record, uint32_t elementSize)
{
    const detail::CheckedRecord& checked = detail::tCheckedRecords[(record >> 4) % detail::kCheckedRecords];
    if (checked.record == record && checked.layout == heap.layoutVersion() && checked.elementSize == elementSize &&
        record != 0) [[likely]] {
        OVector v(heap, record, elementSize);
        const VMSpace& space = heap.space();
        int32_t count = space.rawWord(record + 12);
        if (count == 0)
            return v;
        Addr elements = Addr(space.rawWord(record + 4));
        int32_t capacity = space.rawWord(record + 8);
        if (elements == checked.elements && capacity == checked.capacity && count > 0 && count <= capacity) {
            v.elements_ = elements;
            v.capacity_ = capacity;
            v.count_ = count;
            return v;
        }
    }
    return checkRecord(heap, record, elementSize);
}

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
