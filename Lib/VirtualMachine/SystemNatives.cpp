// Debug group: logging through the host. System group: process control,
// clocks, the application reference.
#include "../Containers/OVector.h"
#include "BitmapContainer.h"
#include "BitmapLoading.h"
#include "CAppsFont.h"
#include "DateTime.h"
#include "StringObjects.h"
#include "TraceRecorder.h"
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::debugNative(int function)
{
    switch (function) {
    case 1: {
        OString message = stringOf(heap(), Addr(arg(0)));
        pop(1);
        if (tracer_)
            tracer_->message(message);
        if (host_)
            host_->log(message);
        return;
    }
    case 2: {
        OString path = stringOf(heap(), Addr(arg(0)));
        pop(1);
        if (host_)
            host_->setLogFile(path);
        return;
    }
    case 3:
        return;
    default:
        unknownNativeFunction("Debug:");
    }
}

void VirtualMachine::systemNative(int function)
{
    switch (function) {
    case 1:  // exit: the host ends the process
        if (host_)
            host_->exit();
        return;
    case 2: {  // terminate: ends the program run
        OString message = stringOf(heap(), Addr(arg(0)));
        pop(1);
        if (host_)
            host_->frameworkOperation22(message);
        raiseVmError(KErrTerminate);
    }
    case 3:
        push(host_ ? host_->getTimeSinceStart() : 0);
        return;
    case 4:
        push(Word(newStringObject(heap(), OString("No Callstack available"))));
        return;
    case 5:  // the application object, kept alive as a root
        setApplication(arg(0));
        pop(1);
        return;
    case 6:
        push(host_ ? host_->frameworkOperation14() : 0);
        return;
    case 7:
        push(host_ ? host_->frameworkOperation13() : 0);
        return;
    case 8:
        push(host_ ? host_->getCurrentTimeMillis() : 0);
        return;
    case 9: {  // timezone: now, in local time or UTC
        Kelvar::DateTime now;
        now.setTimezone(arg(0));
        arg(0) = Word(newDateTimeObject(heap(), now));
        return;
    }
    case 10:  // the system font
        requireGraphics();
        push(Word(newSystemFont(heap(), 0)));
        return;
    case 11: {  // path -> a bitmap font from the image file
        requireGraphics();
        OString path = stringOf(heap(), Addr(arg(0)));
        Word font = LoadBitmapFromFile(*this, path, ETrue);
        if (font == 0)
            raiseVmError(KErrInvalidArgument);
        arg(0) = font;
        return;
    }
    case 12: {  // byte[] -> a bitmap font from the image bytes
        requireGraphics();
        OVector bytes = OVector::ofHolder(heap(), Addr(arg(0)), 1);
        if (bytes.isEmpty())
            raiseVmError(KErrInvalidArgument, "byte[] is empty");
        Addr font = newBitmapFont(heap(), bytes.data(), bytes.count());
        if (font == 0)
            raiseVmError(KErrInvalidArgument);
        arg(0) = Word(font);
        return;
    }
    case 13:
        pop(2);
        return;
    case 14:
    case 15:
        arg(0) = 0;
        return;
    default:
        unknownNativeFunction("System:");
    }
}

}  // namespace vm
