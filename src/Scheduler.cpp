#include "Scheduler.h"

#include "VMError.h"
#include "VirtualMachine.h"

TInt32 Timer::nextTimerId = 10;

Timer::Timer(Scheduler* aScheduler, vm::Word aListener, vm::VirtualMachine* aVm, TUint32 aDelay)
    : QObject(nullptr), listener(aListener), timerId(nextTimerId++), qtTimer(new QTimer(this)), vm(aVm),
      scheduler(aScheduler)
{
    connect(qtTimer, &QTimer::timeout, this, &Timer::timeout);
    qtTimer->setSingleShot(false);
    qtTimer->setInterval(int(aDelay > TUint32(INT32_MAX) ? INT32_MAX : aDelay));
    qtTimer->start();
}

Timer::~Timer() = default;

void Timer::timeout()
{
    if (!scheduler)
        return;
    // The listener may remove this very timer: it then lives on (stopped)
    // until control is back in the event loop.
    firing = true;
    scheduler->fire(this);
    firing = false;
}

Scheduler::~Scheduler()
{
    for (Timer* timer : timers)
        delete timer;
    timers.clear();
}

int Scheduler::addTimer(vm::Word aListener, TUint32 aDelay)
{
    KELVAR_ASSERT(vm != 0);
    Timer* timer = new Timer(this, aListener, vm, aDelay);
    timers.append(timer);
    return timer->timerId;
}

Timer* Scheduler::find(int aId) const
{
    for (Timer* timer : timers)
        if (timer->timerId == aId)
            return timer;
    return nullptr;
}

vm::Word Scheduler::removeTimer(int aId)
{
    Timer* timer = find(aId);
    if (!timer)
        return 0;
    vm::Word listener = timer->listener;
    for (int i = timers.count() - 1; i >= 0; --i)
        if (timers[i] == timer)
            timers.removeAt(i);
    timer->qtTimer->stop();
    timer->scheduler = nullptr;
    if (timer->firing)
        timer->deleteLater();
    else
        delete timer;
    return listener;
}

void Scheduler::updateTimerDelay(int aId, int aNewDelay)
{
    if (Timer* timer = find(aId))
        timer->qtTimer->setInterval(aNewDelay < 0 ? 0 : aNewDelay);
}

void Scheduler::stopAll()
{
    for (Timer* timer : timers)
        timer->qtTimer->stop();
}

void Scheduler::fire(Timer* aTimer)
{
    if (delivery)
        delivery(aTimer->listener, aTimer->timerId);
    else if (aTimer->vm)
        aTimer->vm->deliverTimer(aTimer->listener, aTimer->timerId);
}
