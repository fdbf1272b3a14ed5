// Location (extension 27): location values (CLocation) and position
// requestors, and the observer calls of a position source.
//
// Operations (t = top on entry; "loc" and "req" are program objects, cells
// whose word is the CLocation or requestor block; fixed values take two
// slots, the low word first):
//   1 (target, reference, value, interval)   t - 4  new requestor: interval x 1000
//   2 (req, int)                             t - 2  interval := int
//   3 start (req) / 4 stop (req)             t - 1  see the source below
//   5 (target, first, second, third, date)   t - 7  new CLocation (fourth 0,
//        integer 0, time a copy of the date); the target stays on the stack
//   6 (loc, date)                            t - 2  time := a copy of the date
//   7 (loc, first, second, third)            t - 6  the coordinates; the loc stays
//   8 (loc, fixed, fixed)                    t - 5  nothing
//   9 (loc)                                  t      the integer replaces loc
//  10 (loc)                                  t      a new date-time object (a copy)
//  11 / 12 / 13 (loc)                        t + 1  the third / first / second coordinate
//  14, 15 (loc, loc)                         t      fixed 0 replaces both
//  16 (slot, loc)                            t      the second's fourth value
//  17 (req, int)                             t - 2  the requestor's value := int
// Object operands are null-checked (code 1); a cell that holds no object of
// the expected kind raises code 10 "Invalid object".
//
// Position source (desktop hook). No source is attached by default: starting
// and stopping requestors do nothing and the observer methods, resolved at
// construction, are never called. CLocationWrapper::attachPositionSource(s)
// attaches one process-wide (null detaches); then a start calls
// s->startUpdates(observer, key, observer object, interval) and a stop (or
// the end of the wrapper) s->stopUpdates(key). The observer object is the
// requestor's reference (op 1's second operand); while its requestor is
// started, the requestor and that object are GC roots. The source reports on
// the GUI thread through the MPositionObserver it was given:
//   positionUpdate(a, b, c, {fourth, time, integer, observer object}) builds a
//     CLocation with first = b, second = a, third = c and calls
//     "<locationobserver>.handle location event<location>" (observer, location);
//   positionError(code, observer object) calls
//     "<locationobserver>.handle location error<locationerror>" (observer, code).
// Both go through the VM's callMethod: run at once when the VM is idle (so the
// host must make them inside its guarded delivery), queued while it runs.
// Meaning of the values, for a source: a CLocation's first coordinate is the
// latitude and its second the longitude (degrees), its third the altitude
// (metres), so a source passes (longitude, latitude, altitude) as (a, b, c);
// the fourth value is the horizontal accuracy in metres (0 when unknown), the
// time the fix's time stamp, the integer 0.
#pragma once

#include <vector>

#include "DateTime.h"
#include "VirtualMachineExtensions/Extension.h"

namespace ext {

class MPositionObserver {
public:
    struct PositionRecord {
        TInt64 fourth;
        Kelvar::DateTime time;
        TInt32 integer;
        Word observer;
    };
    virtual ~MPositionObserver() = default;
    virtual void positionUpdate(TInt64 aFirst, TInt64 aSecond, TInt64 aThird, const PositionRecord& aRecord) = 0;
    virtual void positionError(TInt32 aError, Word aObserver) = 0;
    // The second error entry: the same as positionError.
    virtual void positionError2(TInt32 aError, Word aObserver) { positionError(aError, aObserver); }
};

class MPositionSource {
public:
    virtual ~MPositionSource() = default;
    virtual void startUpdates(MPositionObserver& aObserver, Addr aKey, Word aObserverObject, TInt32 aInterval) = 0;
    virtual void stopUpdates(Addr aKey) = 0;
};

class CLocation : public vm::GCObject {
public:
    static constexpr uint32_t kBlockSize = 48;

    CLocation(TInt64 aFirst, TInt64 aSecond, TInt64 aThird, const Kelvar::DateTime& aTime)
        : first(aFirst), second(aSecond), third(aThird), time(aTime)
    {
    }

    TInt64 first;
    TInt64 second;
    TInt64 third;
    TInt64 fourth = 0;
    Kelvar::DateTime time;  // an owned copy
    TInt32 integer = 0;
};

class CLocationPositionRequestorGCObject : public vm::GCObject {
public:
    static constexpr uint32_t kBlockSize = 20;

    CLocationPositionRequestorGCObject(Word aReference, TInt32 aInterval, TInt32 aValue)
        : reference(aReference), interval(aInterval), value(aValue)
    {
    }

    Word reference;
    TInt32 interval;
    TInt32 value;
};

class CLocationWrapper : public MVMExtension, public MPositionObserver {
public:
    static constexpr const char* kEventSignature = "<locationobserver>.handle location event<location>";
    static constexpr const char* kErrorSignature = "<locationobserver>.handle location error<locationerror>";

    static void attachPositionSource(MPositionSource* aSource);

    explicit CLocationWrapper(vm::MVMCallbackInterface& aVm);
    // Stops the updates of every started requestor.
    ~CLocationWrapper() override;
    int callDllNative(int aOperation, int aTop, Addr aStackBase) override;

    void positionUpdate(TInt64 aFirst, TInt64 aSecond, TInt64 aThird, const PositionRecord& aRecord) override;
    void positionError(TInt32 aError, Word aObserver) override;

    int eventHandle() const { return iEventHandle; }
    int errorHandle() const { return iErrorHandle; }

private:
    struct Started {
        Addr requestor;
        Word observer;  // rooted when it is a live block, else 0
    };
    void start(Addr aRequestor);
    void stop(Addr aRequestor);

    vm::MVMCallbackInterface& iVm;
    int iEventHandle;
    int iErrorHandle;
    std::vector<Started> iStarted;
};

}  // namespace ext
