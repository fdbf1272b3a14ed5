// The guard against errors raised inside the error-handling methods. The
// raised-error handler ("vminternalthrow") and the method that receives an
// uncaught exception ("vmprintthrowableandexit") run on top of the stack
// they interrupted, their return address in a known slot. While the top is
// at or above that slot and the slot still holds the address, the method
// (or one it called) is running: a ret pops the slot, a catch unwinds below
// it. An error raised then would call the handler again, and again, until
// the stack overflows; instead the run ends with a message that names the
// error that led into the handler and the method it was raised in.
#include "VirtualMachine.h"

namespace vm {

namespace {

const char* const kHandlerNames[] = {"vminternalthrow<int>,<string>", "vmprintthrowableandexit<throwable>"};

// The method whose code holds the position: the nearest entry at or before it.
std::string methodAt(const Vec<VirtualMachine::ExportedMethod>& methods, int position)
{
    int best = -1;
    std::string name;
    for (const VirtualMachine::ExportedMethod& m : methods)
        for (const VirtualMachine::ExportedMethod::MethodEntry& e : m.entries)
            if (e.codeAddress <= position && e.codeAddress > best) {
                best = e.codeAddress;
                name = m.name.toLatin1();
            }
    return best < 0 ? "an unnamed method" : "\"" + name + "\"";
}

std::string describe(int code, const std::u16string& text)
{
    return OString(std::u16string_view(text)).toUtf8() + " (code " + std::to_string(code) + ")";
}

}  // namespace

bool VirtualMachine::handlerRunning(HandlerKind kind) const
{
    const HandlerRun& r = handlerRuns_[kind];
    return r.returnSlot >= 0 && r.returnSlot < kStackWords && top > r.returnSlot &&
           stack_[r.returnSlot] == r.returnAddress;
}

void VirtualMachine::enterRaisedHandler(int code, const std::u16string& text)
{
    // The innermost of the two that runs, if one does.
    int inside = -1;
    for (int k = 0; k < HKinds; ++k)
        if (handlerRunning(HandlerKind(k)) &&
            (inside < 0 || handlerRuns_[k].returnSlot > handlerRuns_[inside].returnSlot))
            inside = k;
    if (inside >= 0)
        failInside(inside, describe(code, text));
    handled_ = HandledError{code, text, pc};
    handlerRuns_[HRaised] = HandlerRun{top, stack_[top]};
}

void VirtualMachine::enterUncaughtHandler(int throwPosition)
{
    if (handlerRunning(HUncaught))
        failInside(HUncaught, "an exception that nothing caught");
    if (!handlerRunning(HRaised))
        handled_ = HandledError{0, {}, throwPosition};
    handlerRuns_[HUncaught] = HandlerRun{top, stack_[top]};
}

void VirtualMachine::failInside(int kind, const std::string& what)
{
    handlerRuns_[HRaised] = handlerRuns_[HUncaught] = HandlerRun{};
    std::string original = handled_.code != 0 ? describe(handled_.code, handled_.text) + " raised"
                                              : std::string("an exception thrown");
    fatal(std::string("Error inside \"") + kHandlerNames[kind] + "\": " + what + ", while handling " + original +
              " in " + methodAt(methods, handled_.position) + " at position " + std::to_string(handled_.position),
          -1);
}

}  // namespace vm
