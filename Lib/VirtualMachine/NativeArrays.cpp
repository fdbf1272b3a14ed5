#include "NativeArrays.h"

#include <algorithm>
#include <cstring>

#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

ByteArrayView byteArrayOf(VMHeap& aHeap, Addr aHolder)
{
    VMSpace& space = aHeap.space();
    Addr vector = Addr(space.loadWord(nullCheck(aHolder)));
    nullCheck(vector);
    if (aHeap.gcCodeOf(vector) != GC_CODE_VECTOR || aHeap.payloadSize(vector) < 16)
        raiseVmError(KErrVm, "Invalid vector");
    Addr elements = Addr(space.loadWord(vector + 4));
    TInt32 count = space.loadWord(vector + 12);
    if (count == 0)
        return {nullptr, 0};
    if (count < 0 || !aHeap.isLiveBlock(elements) || aHeap.payloadSize(elements) < TUint32(count))
        raiseVmError(KErrVm, "Invalid vector");
    return {space.ptr(elements, TUint32(count)), count};
}

Addr newByteArray(VirtualMachine& aVm, const TUint8* aData, TInt32 aCount)
{
    Addr holder = aVm.createByteVector(aCount);
    if (aCount > 0)
        std::memcpy(byteArrayOf(aVm.heap(), holder).data, aData, size_t(aCount));
    return holder;
}

Addr newStringArray(VMHeap& aHeap, const Vec<OString>& aTexts)
{
    auto [vector, holder] = aHeap.allocPair(16, -1, GC_CODE_VECTOR, 8, 0, GC_CODE_OBJECT_ARRAY);
    VMSpace& space = aHeap.space();
    space.setRawWord(holder, Word(vector));
    const int count = aTexts.count();
    if (count == 0)
        return holder;
    // The capacity rule of byte vectors: 20 % spare, at least 10.
    uint64_t capacity = std::max<uint64_t>(10, uint64_t(count) * 12 / 10);
    if (capacity * 4 > VMHeap::kMaxBlock)
        raiseVmError(KErrVm, "Out of memory");
    Addr elements = aHeap.alloc(uint32_t(capacity * 4), 0, GC_CODE_NATIVE);
    space.setRawWord(vector + 4, Word(elements));
    space.setRawWord(vector + 8, Word(capacity));
    // The elements are stored as they are made, so each is reachable.
    for (int i = 0; i < count; ++i) {
        space.setRawWord(elements + 4u * uint32_t(i), Word(newStringObject(aHeap, aTexts[i])));
        space.setRawWord(vector + 12, i + 1);
    }
    return holder;
}

}  // namespace vm
