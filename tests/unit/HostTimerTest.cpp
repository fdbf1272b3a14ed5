// Timers: the scheduler's ids and bookkeeping, expiries reaching the
// program, removal from inside an expiry, and the Timer natives.
#ifdef MCB_HAVE_HOST

#include "HostTestSupport.h"

using namespace hosttest;

namespace {

struct HostTimers : HostFixture {
    void SetUp() override
    {
        HostFixture::SetUp();
        Timer::nextTimerId = 10;
    }
    int pins(vm::Word aListener)
    {
        const auto& roots = machine().heap().roots();
        return int(std::count(roots.begin(), roots.end(), vm::Addr(aListener)));
    }
};

// Global 0: the listener; global 1: the timer id; global 2: expiries.
const std::string kTicker = std::string(R"(
.module "ticker"
.globals 3
.class App
.map plain
.map event params 1 refs 0
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*systemtimerlistener>.systemtimerevent" impl App tick map event
.code
done:
    ret 0, 1
main:
    globals
    new 1, 1
    dup
    setclass App
    stind                   ; global 0 = the listener
    globals
    field.s 1
    globals
    ldind
    push 5
    native Timer 1
    stind                   ; global 1 = the id
    ret 0, 1
tick:
    ldstr "tick"
    native Debug 1
    globals
    field.s 2
    inc.i
    globals
    field.s 2
    ldind
    push 3
    lt
    jz.s stop
    ret 0, 2
stop:                       ; the third expiry removes its own timer
    globals
    field.s 1
    ldind
    native Timer 2
    ldstr "stopped"
    native Debug 1
    ret 0, 2
)") + kExceptionMethods;

}  // namespace

TEST_F(HostTimers, IdsStartAtTenAndAreNeverReused)
{
    ASSERT_EQ(start(kTicker), host::KRunGoesOn);  // its timer took id 10
    vm::Word listener = vm::Word(machine().heap().alloc(4, 0, vm::GC_CODE_INSTANCE));
    Scheduler& scheduler = view->timerScheduler();
    EXPECT_EQ(view->addTimer(listener, 100), 11);
    EXPECT_EQ(view->addTimer(listener, 200), 12);
    EXPECT_EQ(scheduler.count(), 3);
    EXPECT_EQ(view->removeTimer(11), listener);
    EXPECT_EQ(view->removeTimer(11), 0);  // a second removal finds nothing
    EXPECT_EQ(view->removeTimer(99), 0);
    EXPECT_EQ(view->addTimer(listener, 300), 13);
    EXPECT_EQ(scheduler.count(), 3);

    EXPECT_EQ(view->updateTimerDelay(12, 7), 1);
    ASSERT_NE(scheduler.find(12), nullptr);
    EXPECT_EQ(scheduler.find(12)->qtTimer->interval(), 7);
    EXPECT_TRUE(scheduler.find(12)->qtTimer->isActive());
    EXPECT_EQ(view->updateTimerDelay(99, 7), 1);  // unknown: ignored
    EXPECT_EQ(scheduler.find(13)->qtTimer->interval(), 300);
}

TEST_F(HostTimers, ExpiriesCallTheListenerUntilItRemovesItsOwnTimer)
{
    testing::internal::CaptureStderr();
    ASSERT_EQ(start(kTicker), host::KRunGoesOn);
    vm::Word listener = machine().space().rawWord(vm::Addr(machine().globals()));
    EXPECT_EQ(pins(listener), 1);
    EXPECT_EQ(view->timerScheduler().count(), 1);
    processEventsFor(200);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "LOG: tick\nLOG: tick\nLOG: tick\nLOG: stopped\n");
    EXPECT_EQ(view->timerScheduler().count(), 0);
    EXPECT_EQ(pins(listener), 0);
    EXPECT_EQ(view->terminationStatus(), host::KRunGoesOn);
}

TEST_F(HostTimers, NativesClampNegativeDelaysRefuseNullListenersAndUnpinOnce)
{
    testing::internal::CaptureStderr();
    ASSERT_EQ(start(std::string(R"(
.module "natives"
.globals 1
.class App
.map plain
.static "::global::init" done map plain
.static "main" main map plain
.code
done:
    ret 0, 1
main:
    globals
    new 1, 1
    dup
    setclass App
    stind
    globals
    ldind
    push -7
    native Timer 1          ; id 10, delay clamped to 0
    itos
    native Debug 1
    globals
    ldind
    push 100
    native Timer 1          ; id 11
    dup
    push -5
    native Timer 3          ; interval 0
    itos
    native Debug 1
    push 10
    native Timer 2
    push 10
    native Timer 2          ; nothing left to unpin
    try any refused
    ldzero
    push 5
    native Timer 1
    handlers -1
    ret 0, 1
refused:
    field.s 2
    ldind
    native Debug 1
    push 4
    native Timer 9
    ret 0, 1
)") + kExceptionMethods),
              host::EExitTerminated);
    std::string err = testing::internal::GetCapturedStderr();
    const std::string expected =
        "LOG: 10\nLOG: 11\nLOG: NullPointerException: NULL pointer\nLOG: uncaught\nLOG: VMException: Timer:";
    EXPECT_EQ(err.substr(0, expected.size()), expected) << err;
    Scheduler& scheduler = view->timerScheduler();
    EXPECT_EQ(scheduler.count(), 1);
    ASSERT_NE(scheduler.find(11), nullptr);
    EXPECT_EQ(scheduler.find(11)->qtTimer->interval(), 0);
    vm::Word listener = machine().space().rawWord(vm::Addr(machine().globals()));
    EXPECT_EQ(pins(listener), 1);
    // The run is over: no timer fires any more.
    EXPECT_FALSE(scheduler.find(11)->qtTimer->isActive());
}

#endif  // MCB_HAVE_HOST
