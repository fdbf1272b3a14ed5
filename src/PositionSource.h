// Position sources for the location extension on a desktop: a fixed position
// (--location) and a recorded NMEA log replayed at its own pace
// (--location-nmea). The window attaches one (MainView::usePositionSource);
// every report reaches the program through the delivery it was given (the
// window's guarded VM entry), always from the event loop, never inside the
// start call that bytecode makes.
//
// A requestor's interval is in microseconds (the program's milliseconds
// times 1000).
//  - Fixed: each started requestor gets the position at once, then every
//    interval (rounded up to whole milliseconds; every second for an
//    interval of 0 or less), time-stamped with the current time.
//  - NMEA log: the log starts playing at the first start of updates and
//    plays to its end, whatever starts and stops follow (a receiver that
//    keeps running); after its last fix no more reports come. A started
//    requestor gets a fix when its time stamp is at least an interval after
//    that of the fix it got last (every fix for an interval of 0 or less),
//    so the fixes it gets do not depend on timer jitter.
//
// A report passes (longitude, latitude, altitude) as fixed-point degrees,
// degrees and metres, then the horizontal accuracy in metres, the fix's time
// in UTC and the integer 0; an unknown altitude or accuracy is 0. Errors of
// the log's reader reach every started requestor as the codes below.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QDateTime>
#include <QGeoPositionInfoSource>
#include <QObject>
#include <functional>
#include <map>
#include <vector>

#include "VirtualMachineExtensions/Location/Location.h"

class QNmeaPositionInfoSource;
class QTimer;

// One position: degrees and metres; NaN where it is not known. An invalid
// time stands for the moment of the report.
struct PositionFix {
    double latitude = 0;
    double longitude = 0;
    double altitude = 0;
    double accuracy = 0;  // horizontal, metres
    QDateTime time;
};

class PositionSource : public QObject, public ext::MPositionSource {
public:
    // Runs one report (the observer call) in the program.
    using Delivery = std::function<void(const std::function<void()>&)>;

    void setDelivery(Delivery aDelivery) { delivery = std::move(aDelivery); }
    // A key already started is left as it is.
    void startUpdates(ext::MPositionObserver& aObserver, vm::Addr aKey, vm::Word aObserverObject,
                      TInt32 aInterval) override;
    void stopUpdates(vm::Addr aKey) override;
    bool isStarted(vm::Addr aKey) const { return requestors.count(aKey) != 0; }

    // The observer call of a fix.
    static void report(ext::MPositionObserver& aObserver, vm::Word aObserverObject, const PositionFix& aFix);

protected:
    struct Requestor {
        ext::MPositionObserver* observer;
        vm::Word object;
        TInt32 interval;  // microseconds
    };
    // After a requestor was added; before it is removed.
    virtual void started(vm::Addr aKey, const Requestor& aRequestor) = 0;
    virtual void stopped(vm::Addr aKey) = 0;
    // Report to the requestor of aKey, when it is (still) started.
    void send(vm::Addr aKey, const PositionFix& aFix);
    void sendError(vm::Addr aKey, TInt32 aCode);
    // The started keys now (reports may start and stop requestors).
    std::vector<vm::Addr> keys() const;
    const Requestor* requestor(vm::Addr aKey) const;

private:
    void run(vm::Addr aKey, const std::function<void(const Requestor&)>& aWork);

    std::map<vm::Addr, Requestor> requestors;
    Delivery delivery = [](const std::function<void()>& aWork) { aWork(); };
};

class FixedPositionSource : public PositionSource {
public:
    explicit FixedPositionSource(const PositionFix& aFix) : fix(aFix) {}
    // Milliseconds between two reports for an interval.
    static int periodOf(TInt32 aInterval);

private:
    void started(vm::Addr aKey, const Requestor& aRequestor) override;
    void stopped(vm::Addr aKey) override;

    PositionFix fix;
    std::map<vm::Addr, QTimer*> timers;  // children of the source
};

class NmeaPositionSource : public PositionSource {
public:
    // Error codes of the reader's errors.
    enum : TInt32 {
        KErrGeneral = -2,         // any other error
        KErrAccessDenied = -21,   // the log may not be read
        KErrTimedOut = -33,       // no fix came in time
        KErrDisconnected = -36,   // the log's device closed
    };
    static TInt32 errorCode(QGeoPositionInfoSource::Error aError);
    // True when the log holds a fix the reader replays: a sentence with a
    // valid checksum that gives a position and a date (RMC). The reader
    // starts at the first dated sentence and stays silent without one.
    static bool holdsDatedFix(const QByteArray& aLog);
    // True when a requestor that got a fix of aLast is due one of aNext.
    static bool isDue(const QDateTime& aLast, const QDateTime& aNext, TInt32 aInterval);

    explicit NmeaPositionSource(const QByteArray& aLog);
    // A reader error: the code reaches every started requestor.
    void readerFailed(QGeoPositionInfoSource::Error aError);

private:
    void started(vm::Addr aKey, const Requestor& aRequestor) override;
    void stopped(vm::Addr aKey) override;
    void fixRead(const QGeoPositionInfo& aInfo);

    QBuffer log;
    QNmeaPositionInfoSource* reader;  // a child of the source
    bool playing = false;
    std::map<vm::Addr, QDateTime> lastSent;  // started requestors that got a fix
};
