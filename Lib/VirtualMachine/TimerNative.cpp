// Timer group: timers whose expiries call
// "<systemtimerlistener>.systemtimerevent" on their listener. A listener is
// pinned as a heap root while its timer lives.
#include "ObjectModel.h"
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::timerNative(int function)
{
    if (function < 1 || function > 3 || !host_)
        unknownNativeFunction("Timer:");
    switch (function) {
    case 1: {  // listener, delay -> id
        Word listener = arg(1);
        // A negative delay is clamped to 0 here, as update does: the host
        // treats a negative delay as a broken precondition. A null listener
        // could never be called back: it is refused at once.
        int delay = arg(0) < 0 ? 0 : arg(0);
        nullCheck(Addr(listener));
        heap_->addRoot(Addr(listener));
        int timerId = host_->addTimer(listener, delay);
        KELVAR_ASSERT(timerId >= 10);
        pop(1);
        arg(0) = timerId;
        return;
    }
    case 2: {  // id
        int id = arg(0);
        pop(1);
        if (Word listener = host_->removeTimer(id))
            heap_->removeRoot(Addr(listener));
        return;
    }
    case 3: {  // id, delay
        int id = arg(1);
        int delay = arg(0) < 0 ? 0 : arg(0);
        pop(2);
        host_->updateTimerDelay(id, delay);
        return;
    }
    }
}

}  // namespace vm
