#include "Location.h"

#include <algorithm>

namespace ext {

namespace {

MPositionSource* gSource = nullptr;

using Requestor = CLocationPositionRequestorGCObject;

}  // namespace

void CLocationWrapper::attachPositionSource(MPositionSource* aSource)
{
    gSource = aSource;
}

CLocationWrapper::CLocationWrapper(vm::MVMCallbackInterface& aVm)
    : iVm(aVm),
      iEventHandle(aVm.getMethodHandle(CAppsString(kEventSignature), -1)),
      iErrorHandle(aVm.getMethodHandle(CAppsString(kErrorSignature), -1))
{
}

CLocationWrapper::~CLocationWrapper()
{
    while (!iStarted.empty())
        stop(iStarted.back().requestor);
}

void CLocationWrapper::start(Addr aRequestor)
{
    if (!gSource)
        return;
    auto known = std::find_if(iStarted.begin(), iStarted.end(), [&](const Started& s) { return s.requestor == aRequestor; });
    if (known != iStarted.end())
        return;
    vm::VMHeap& heap = iVm.getHeap();
    Requestor& requestor = vm::objectOf<Requestor>(heap, aRequestor);
    Word observer = heap.isLiveBlock(Addr(requestor.reference)) ? requestor.reference : 0;
    heap.addRoot(aRequestor);
    if (observer)
        heap.addRoot(Addr(observer));
    iStarted.push_back({aRequestor, observer});
    gSource->startUpdates(*this, aRequestor, requestor.reference, requestor.interval);
}

void CLocationWrapper::stop(Addr aRequestor)
{
    auto known = std::find_if(iStarted.begin(), iStarted.end(), [&](const Started& s) { return s.requestor == aRequestor; });
    if (known == iStarted.end())
        return;
    Started started = *known;
    iStarted.erase(known);
    vm::VMHeap& heap = iVm.getHeap();
    heap.removeRoot(started.requestor);
    if (started.observer)
        heap.removeRoot(Addr(started.observer));
    if (gSource)
        gSource->stopUpdates(aRequestor);
}

void CLocationWrapper::positionUpdate(TInt64 aFirst, TInt64 aSecond, TInt64 aThird, const PositionRecord& aRecord)
{
    if (iEventHandle < 0)
        return;
    vm::VMHeap& heap = iVm.getHeap();
    Addr location = heap.construct<CLocation>(CLocation::kBlockSize, vm::GC_CODE_NATIVE, aSecond, aFirst, aThird,
                                              aRecord.time);
    CLocation& value = *heap.objectAs<CLocation>(location);
    value.fourth = aRecord.fourth;
    value.integer = aRecord.integer;
    iVm.callMethod(iEventHandle, Vec<int>{aRecord.observer, Word(location)}, Vec<int>{1, 0}, 1);
}

void CLocationWrapper::positionError(TInt32 aError, Word aObserver)
{
    if (iErrorHandle >= 0)
        iVm.callMethod(iErrorHandle, Vec<int>{aObserver, aError}, Vec<int>{1, 0}, 1);
}

int CLocationWrapper::callDllNative(int aOperation, int aTop, Addr aStackBase)
{
    ExtensionStack stack(iVm, aTop, aStackBase);
    vm::VMHeap& heap = iVm.getHeap();
    auto locationAt = [&](int aSlot) -> CLocation& { return nativeObjectIn<CLocation>(heap, stack.word(aSlot)); };
    auto requestorAt = [&](int aSlot) -> Requestor& { return nativeObjectIn<Requestor>(heap, stack.word(aSlot)); };
    auto requestorBlock = [&](int aSlot) {
        Addr block = Addr(heap.space().loadWord(vm::nullCheck(Addr(stack.word(aSlot)))));
        vm::objectOf<Requestor>(heap, block);
        return block;
    };
    auto checkCell = [&](int aSlot) { heap.space().check(vm::nullCheck(Addr(stack.word(aSlot))), 4); };
    switch (aOperation) {
    case 1: {
        checkCell(aTop - 3);
        TInt32 interval = TInt32(TUint32(stack.word(aTop)) * 1000u);
        Addr block = heap.construct<Requestor>(Requestor::kBlockSize, vm::GC_CODE_NATIVE, stack.word(aTop - 2),
                                               interval, stack.word(aTop - 1));
        storeInto(heap, stack.word(aTop - 3), block);
        return aTop - 4;
    }
    case 2:
        requestorAt(aTop - 1).interval = stack.word(aTop);
        return aTop - 2;
    case 3:
        start(requestorBlock(aTop));
        return aTop - 1;
    case 4:
        stop(requestorBlock(aTop));
        return aTop - 1;
    case 5: {
        checkCell(aTop - 7);
        const Kelvar::DateTime& time = vm::dateTimeOf(heap, Addr(stack.word(aTop)));
        Addr block = heap.construct<CLocation>(CLocation::kBlockSize, vm::GC_CODE_NATIVE, stack.fixed(aTop - 6),
                                               stack.fixed(aTop - 4), stack.fixed(aTop - 2), time);
        storeInto(heap, stack.word(aTop - 7), block);
        return aTop - 7;
    }
    case 6: {
        CLocation& location = locationAt(aTop - 1);
        location.time = vm::dateTimeOf(heap, Addr(stack.word(aTop)));
        return aTop - 2;
    }
    case 7: {
        CLocation& location = locationAt(aTop - 6);
        location.first = stack.fixed(aTop - 5);
        location.second = stack.fixed(aTop - 3);
        location.third = stack.fixed(aTop - 1);
        return aTop - 6;
    }
    case 8:
        vm::nullCheck(Addr(stack.word(aTop - 4)));
        return aTop - 5;
    case 9:
        stack.setWord(aTop, locationAt(aTop).integer);
        return aTop;
    case 10:
        stack.setWord(aTop, Word(vm::newDateTimeObject(heap, locationAt(aTop).time)));
        return aTop;
    case 11:
    case 12:
    case 13: {
        CLocation& location = locationAt(aTop);
        stack.setFixed(aTop, aOperation == 11 ? location.third : aOperation == 12 ? location.first : location.second);
        return aTop + 1;
    }
    case 14:
    case 15:
        vm::nullCheck(Addr(stack.word(aTop - 1)));
        vm::nullCheck(Addr(stack.word(aTop)));
        stack.setFixed(aTop - 1, 0);
        return aTop;
    case 16:
        stack.setFixed(aTop - 1, locationAt(aTop).fourth);
        return aTop;
    case 17:
        requestorAt(aTop - 1).value = stack.word(aTop);
        return aTop - 2;
    default:
        unknownOperation(iVm, "Location: Unknown opcode!");
    }
}

}  // namespace ext
