#include "PositionSource.h"

#include <QGeoPositionInfo>
#include <QNmeaPositionInfoSource>
#include <QTimer>
#include <cmath>

#include "DateTime.h"
#include "ORaw.h"

namespace {

// NaN and the infinities (no value) are 0.
TInt64 fixedOf(double aValue)
{
    return std::isfinite(aValue) ? vm::ORaw::toFixed(aValue) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Requestors and reports

void PositionSource::startUpdates(ext::MPositionObserver& aObserver, vm::Addr aKey, vm::Word aObserverObject,
                                  TInt32 aInterval)
{
    auto [where, added] = requestors.emplace(aKey, Requestor{&aObserver, aObserverObject, aInterval});
    if (added)
        started(aKey, where->second);
}

void PositionSource::stopUpdates(vm::Addr aKey)
{
    if (!isStarted(aKey))
        return;
    stopped(aKey);
    requestors.erase(aKey);
}

void PositionSource::report(ext::MPositionObserver& aObserver, vm::Word aObserverObject, const PositionFix& aFix)
{
    QDateTime time = aFix.time.isValid() ? aFix.time.toUTC() : QDateTime::currentDateTimeUtc();
    aObserver.positionUpdate(fixedOf(aFix.longitude), fixedOf(aFix.latitude), fixedOf(aFix.altitude),
                             {fixedOf(aFix.accuracy), Kelvar::DateTime::fromPlatform(time), 0, aObserverObject});
}

void PositionSource::run(vm::Addr aKey, const std::function<void(const Requestor&)>& aWork)
{
    // A copy: the program may stop the requestor while it runs.
    const Requestor* known = requestor(aKey);
    if (!known)
        return;
    Requestor target = *known;
    delivery([&] { aWork(target); });
}

void PositionSource::send(vm::Addr aKey, const PositionFix& aFix)
{
    run(aKey, [&](const Requestor& aTarget) { report(*aTarget.observer, aTarget.object, aFix); });
}

void PositionSource::sendError(vm::Addr aKey, TInt32 aCode)
{
    run(aKey, [&](const Requestor& aTarget) { aTarget.observer->positionError(aCode, aTarget.object); });
}

std::vector<vm::Addr> PositionSource::keys() const
{
    std::vector<vm::Addr> result;
    for (const auto& [key, value] : requestors)
        result.push_back(key);
    return result;
}

const PositionSource::Requestor* PositionSource::requestor(vm::Addr aKey) const
{
    auto known = requestors.find(aKey);
    return known == requestors.end() ? nullptr : &known->second;
}

// ---------------------------------------------------------------------------
// A fixed position

int FixedPositionSource::periodOf(TInt32 aInterval)
{
    if (aInterval <= 0)
        return 1000;
    return int((TInt64(aInterval) + 999) / 1000);
}

void FixedPositionSource::started(vm::Addr aKey, const Requestor& aRequestor)
{
    auto* timer = new QTimer(this);
    int period = periodOf(aRequestor.interval);
    connect(timer, &QTimer::timeout, this, [this, timer, aKey, period] {
        timer->setInterval(period);
        send(aKey, fix);
    });
    timers[aKey] = timer;
    timer->start(0);
}

void FixedPositionSource::stopped(vm::Addr aKey)
{
    // The timer may be the one whose report stops it.
    QTimer* timer = timers[aKey];
    timer->stop();
    timer->deleteLater();
    timers.erase(aKey);
}

// ---------------------------------------------------------------------------
// An NMEA log

TInt32 NmeaPositionSource::errorCode(QGeoPositionInfoSource::Error aError)
{
    switch (aError) {
    case QGeoPositionInfoSource::AccessError:
        return KErrAccessDenied;
    case QGeoPositionInfoSource::ClosedError:
        return KErrDisconnected;
    case QGeoPositionInfoSource::UpdateTimeoutError:
        return KErrTimedOut;
    default:
        return KErrGeneral;
    }
}

namespace {

// Reads one sentence as the replaying reader does.
class SentenceReader : public QNmeaPositionInfoSource {
public:
    SentenceReader() : QNmeaPositionInfoSource(SimulationMode) {}
    bool read(const QByteArray& aSentence, QGeoPositionInfo& aInfo)
    {
        bool hasFix = false;
        return parsePosInfoFromNmeaData(aSentence.constData(), int(aSentence.size()), &aInfo, &hasFix) && hasFix;
    }
};

}  // namespace

bool NmeaPositionSource::holdsDatedFix(const QByteArray& aLog)
{
    SentenceReader reader;
    for (const QByteArray& line : aLog.split('\n')) {
        QGeoPositionInfo info;
        if (reader.read(line.trimmed(), info) && info.coordinate().isValid() && info.timestamp().isValid())
            return true;
    }
    return false;
}

bool NmeaPositionSource::isDue(const QDateTime& aLast, const QDateTime& aNext, TInt32 aInterval)
{
    if (!aLast.isValid() || !aNext.isValid() || aInterval <= 0)
        return true;
    qint64 apart = aLast.msecsTo(aNext);
    // A log that goes back in time starts the count again.
    return apart < 0 || apart * 1000 >= aInterval;
}

NmeaPositionSource::NmeaPositionSource(const QByteArray& aLog)
    : reader(new QNmeaPositionInfoSource(QNmeaPositionInfoSource::SimulationMode, this))
{
    log.setData(aLog);
    log.open(QIODevice::ReadOnly);
    reader->setDevice(&log);
    connect(reader, &QGeoPositionInfoSource::positionUpdated, this, &NmeaPositionSource::fixRead);
    connect(reader, &QGeoPositionInfoSource::errorOccurred, this, &NmeaPositionSource::readerFailed);
}

void NmeaPositionSource::started(vm::Addr, const Requestor&)
{
    if (playing)
        return;
    playing = true;
    // The reader reports its first fix inside startUpdates: from the event
    // loop, not from inside the program's start.
    QTimer::singleShot(0, reader, [this] { reader->startUpdates(); });
}

void NmeaPositionSource::stopped(vm::Addr aKey)
{
    lastSent.erase(aKey);
}

void NmeaPositionSource::fixRead(const QGeoPositionInfo& aInfo)
{
    if (!aInfo.coordinate().isValid())
        return;
    PositionFix fix{aInfo.coordinate().latitude(), aInfo.coordinate().longitude(), aInfo.coordinate().altitude(),
                    aInfo.attribute(QGeoPositionInfo::HorizontalAccuracy), aInfo.timestamp()};
    for (vm::Addr key : keys()) {
        const Requestor* target = requestor(key);
        if (!target)
            continue;  // stopped by an earlier report
        auto last = lastSent.find(key);
        if (last != lastSent.end() && !isDue(last->second, fix.time, target->interval))
            continue;
        lastSent[key] = fix.time;
        send(key, fix);
    }
}

void NmeaPositionSource::readerFailed(QGeoPositionInfoSource::Error aError)
{
    if (aError == QGeoPositionInfoSource::NoError)
        return;
    TInt32 code = errorCode(aError);
    for (vm::Addr key : keys())
        sendError(key, code);
}
