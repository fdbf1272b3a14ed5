// Timers of the VM program. Each registration is one Timer with its own
// repeating QTimer; every expiry calls "<systemtimerlistener>.systemtimerevent"
// on the listener through the scheduler's delivery.
//
// Invariants:
//  - ids come from the process-wide counter Timer::nextTimerId (from 10 up)
//    and are never reused;
//  - `timers` holds the live timers in creation order; a removed timer is
//    stopped at once and deleted (after its own expiry returns, when it is
//    removed from inside it);
//  - the scheduler owns its timers: the ones still registered die with it.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "Containers/Vec.h"
#include "Types.h"

namespace vm {
class VirtualMachine;
}

class Scheduler;

class Timer : public QObject {
    Q_OBJECT
public:
    Timer(Scheduler* aScheduler, vm::Word aListener, vm::VirtualMachine* aVm, TUint32 aDelay);
    ~Timer() override;

    vm::Word listener;
    TInt32 timerId;
    QTimer* qtTimer;
    vm::VirtualMachine* vm;

    // The id of the next timer; starts at 10.
    static TInt32 nextTimerId;

public slots:
    void timeout();

private:
    friend class Scheduler;
    Scheduler* scheduler;
    bool firing = false;
};

class Scheduler {
public:
    // Carries an expiry (listener, timer id) to the VM (the host guards the call).
    typedef std::function<void(vm::Word, int)> Delivery;

    Scheduler() = default;
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    void setVm(vm::VirtualMachine* aVm) { vm = aVm; }
    vm::VirtualMachine* virtualMachine() const { return vm; }
    // Without a delivery, expiries call the VM directly.
    void setDelivery(Delivery aDelivery) { delivery = std::move(aDelivery); }

    // A new running timer; returns its id. Needs the VM.
    int addTimer(vm::Word aListener, TUint32 aDelay);
    // Removes the first timer with the id; returns its listener, or 0 (null)
    // for an unknown id.
    vm::Word removeTimer(int aId);
    // New interval of the first timer with the id (restarting it); an unknown
    // id is ignored.
    void updateTimerDelay(int aId, int aNewDelay);
    // Stops every timer (the run is over); they stay registered.
    void stopAll();

    int count() const { return timers.count(); }
    Timer* find(int aId) const;

private:
    friend class Timer;
    void fire(Timer* aTimer);

    vm::VirtualMachine* vm = nullptr;
    Vec<Timer*> timers;
    Delivery delivery;
};
