#include "OVector.h"

#include <cstring>

#include "../VirtualMachine/StringObjects.h"
#include "OString.h"

namespace vm {

bool OVector::fits(uint64_t n, uint32_t elementSize)
{
    return n <= uint64_t(INT32_MAX) && capacityFor(n) * elementSize <= VMHeap::kMaxBlock;
}

void OVector::requireFits(uint64_t n, uint32_t elementSize)
{
    if (!fits(n, elementSize)) [[unlikely]]
        raiseVmError(KErrVm, "Out of memory");
}

void OVector::invalid()
{
    raiseVmError(KErrVm, "Invalid vector");
}

// ---------------------------------------------------------------------------
// Making

Addr OVector::newArray(int n) const
{
    uint64_t capacity = capacityFor(uint64_t(n));
    return heap_->alloc(uint32_t(capacity * elementSize_), 0, GC_CODE_NATIVE);
}

OVector OVector::unpublished(VMHeap& heap, uint32_t elementSize, int count)
{
    if (count < 0)
        raiseVmError(KErrInvalidArgument);
    requireFits(uint64_t(count), elementSize);
    OVector v(heap, 0, elementSize);
    if (count > 0) {
        v.elements_ = v.newArray(count);
        v.capacity_ = int(capacityFor(uint64_t(count)));
        v.count_ = count;
    }
    return v;
}

OVector OVector::create(VMHeap& heap, uint32_t elementSize, int count, bool references)
{
    OVector v = unpublished(heap, elementSize, count);
    auto [record, holder] = heap.allocPair(kRecordSize, -1, GC_CODE_VECTOR, kHolderSize, 0,
                                           references ? GC_CODE_OBJECT_ARRAY : GC_CODE_ARRAY);
    v.record_ = record;
    v.holder_ = holder;
    heap.space().setRawWord(holder, Word(record));
    v.writeRecord();
    return v;
}

OVector OVector::createRecord(VMHeap& heap, uint32_t elementSize, int count)
{
    OVector v = unpublished(heap, elementSize, count);
    v.record_ = heap.alloc(kRecordSize, -1, GC_CODE_VECTOR);
    v.writeRecord();
    return v;
}

// ---------------------------------------------------------------------------
// Reading

namespace detail {
thread_local CheckedRecord tCheckedRecords[kCheckedRecords];
}

OVector OVector::checkRecord(VMHeap& heap, Addr record, uint32_t elementSize)
{
    nullCheck(record);
    const VMSpace& space = heap.space();
    OVector v(heap, record, elementSize);
    if (heap.gcCodeOf(record) != GC_CODE_VECTOR || heap.payloadSize(record) < kRecordSize) [[unlikely]]
        invalid();
    detail::CheckedRecord& checked = detail::tCheckedRecords[(record >> 4) % detail::kCheckedRecords];
    int32_t count = space.rawWord(record + 12);
    if (count == 0) {
        // An array word beside count 0 is stale: the collector does not keep it.
        checked = detail::CheckedRecord{heap.layoutVersion(), record, 0, -1, elementSize};
        return v;
    }
    int32_t capacity = space.rawWord(record + 8);
    Addr elements = Addr(space.rawWord(record + 4));
    if (count < 0 || capacity < count || heap.gcCodeOf(elements) != GC_CODE_NATIVE ||
        heap.payloadSize(elements) < uint64_t(capacity) * elementSize) [[unlikely]]
        invalid();
    checked = detail::CheckedRecord{heap.layoutVersion(), record, elements, capacity, elementSize};
    v.elements_ = elements;
    v.capacity_ = capacity;
    v.count_ = count;
    return v;
}

void OVector::badIndex()
{
    raiseVmError(KErrIndexOutOfBounds);
}

void OVector::storeInto(Addr cell) const
{
    heap_->space().storeWord(nullCheck(cell), Word(record_));
}

void OVector::writeRecord() const
{
    const VMSpace& space = heap_->space();
    space.setRawWord(record_ + 4, Word(elements_));
    space.setRawWord(record_ + 8, capacity_);
    space.setRawWord(record_ + 12, count_);
}

// ---------------------------------------------------------------------------
// Editing

void OVector::splice(int index, int n, const void* src, int m)
{
    KELVAR_ASSERT(index >= 0 && n >= 0 && m >= 0 && int64_t(index) + n <= count_);
    int64_t newCount = int64_t(count_) - n + m;
    requireFits(uint64_t(newCount), elementSize_);
    if (n == 0 && m == 0)
        return;
    const size_t es = elementSize_;
    const size_t tail = size_t(count_ - index - n) * es;
    if (newCount == 0) {
        elements_ = 0;
        capacity_ = 0;
        count_ = 0;
    } else if (newCount <= capacity_ && (newCount >= count_ || newCount > capacity_ / 2)) {
        uint8_t* a = data();
        std::vector<uint8_t> copy;
        const uint8_t* s = static_cast<const uint8_t*>(src);
        if (s && s < a + size_t(capacity_) * es && s + size_t(m) * es > a) {
            copy.assign(s, s + size_t(m) * es);  // src lies in this array: take it before moving
            s = copy.data();
        }
        std::memmove(a + (size_t(index) + m) * es, a + (size_t(index) + n) * es, tail);
        if (s)
            std::memcpy(a + size_t(index) * es, s, size_t(m) * es);
        else
            std::memset(a + size_t(index) * es, 0, size_t(m) * es);
        count_ = int(newCount);
    } else {
        // The old array stays intact (and src with it) until the collector takes it.
        Addr fresh = newArray(int(newCount));
        uint8_t* b = heap_->space().raw(fresh);
        const uint8_t* a = data();
        if (index > 0)
            std::memcpy(b, a, size_t(index) * es);
        if (src)
            std::memcpy(b + size_t(index) * es, src, size_t(m) * es);
        if (tail > 0)
            std::memcpy(b + (size_t(index) + m) * es, a + (size_t(index) + n) * es, tail);
        elements_ = fresh;
        capacity_ = int(capacityFor(uint64_t(newCount)));
        count_ = int(newCount);
    }
    writeRecord();
}

void OVector::resize(int n)
{
    KELVAR_ASSERT(n >= 0);
    if (n > count_)
        splice(count_, 0, nullptr, n - count_);
    else
        splice(n, count_ - n, nullptr, 0);
}

void OVector::repeat(int times)
{
    KELVAR_ASSERT(times >= 0);
    uint64_t newCount = uint64_t(count_) * uint64_t(times);
    requireFits(newCount, elementSize_);
    if (times == 1 || count_ == 0)
        return;
    if (times == 0) {
        clear();
        return;
    }
    const size_t part = size_t(count_) * elementSize_;
    if (newCount > uint64_t(capacity_)) {
        Addr fresh = newArray(int(newCount));
        std::memcpy(heap_->space().raw(fresh), data(), part);
        elements_ = fresh;
        capacity_ = int(capacityFor(newCount));
    }
    uint8_t* a = data();
    for (int k = 1; k < times; ++k)
        std::memcpy(a + part * size_t(k), a, part);
    count_ = int(newCount);
    writeRecord();
}

// ---------------------------------------------------------------------------
// Host-side helpers

Addr newByteVector(VMHeap& heap, const void* bytes, size_t n)
{
    OVector::requireFits(n, 1);
    OVector v = OVector::create(heap, 1, int(n));
    if (n > 0)
        std::memcpy(v.data(), bytes, n);
    return v.holder();
}

std::vector<uint8_t> byteVectorBytes(VMHeap& heap, Addr holder)
{
    std::span<uint8_t> b = OVector::ofHolder(heap, holder, 1).bytes();
    return std::vector<uint8_t>(b.begin(), b.end());
}

Addr newIntVector(VMHeap& heap, std::span<const int32_t> values)
{
    OVector::requireFits(values.size(), 4);
    OVector v = OVector::create(heap, 4, int(values.size()));
    if (!values.empty())
        std::memcpy(v.data(), values.data(), values.size() * 4);
    return v.holder();
}

std::vector<int32_t> intVectorValues(VMHeap& heap, Addr holder)
{
    OVector v = OVector::ofHolder(heap, holder, 4);
    std::vector<int32_t> out(size_t(v.count()));
    if (!out.empty())
        std::memcpy(out.data(), v.data(), out.size() * 4);
    return out;
}

Addr newStringVector(VMHeap& heap, const Vec<OString>& strings)
{
    OVector v = OVector::create(heap, 4, strings.count(), true);
    int32_t* elements = v.dataAs<int32_t>();
    for (int i = 0; i < strings.count(); ++i) {
        Word box = Word(newStringObject(heap, strings[i]));
        std::memcpy(elements + i, &box, 4);
    }
    return v.holder();
}

Vec<OString> stringVectorStrings(VMHeap& heap, Addr holder)
{
    OVector v = OVector::ofHolder(heap, holder, 4);
    Vec<OString> out(v.count());
    for (int i = 0; i < v.count(); ++i)
        out.append(stringOf(heap, Addr(heap.space().rawWord(v.elementAddress(i)))));
    return out;
}

}  // namespace vm
