// VM errors: numbered errors raised by instructions and natives, the pending
// error of the calling thread, and the termination signals of a run.
#pragma once

#include <string>
#include <string_view>

#include "Types.h"

namespace vm {

// Thrown by raiseVmError; the error itself is the pending error of the thread.
struct ErrorHandlingException {};

// Leaves an invocation when a run must end: code 12 (terminated) or 11 (fatal).
struct TerminationSignal {
    enum Kind { Terminated = -1, Fatal = -2 };
    Kind kind;
};

struct PendingError {
    int code = 0;            // 0: none
    std::u16string text;     // exception name, then ": " and the message if any
};

// The exception name of a code ("NullPointerException", ...).
std::string exceptionName(int code);
// Name, then ": " and the message when the message is not empty.
std::u16string composeErrorText(int code, std::u16string_view message);

// Records code and composed text as the thread's pending error and throws.
[[noreturn]] void raiseVmError(int code);
[[noreturn]] void raiseVmError(int code, std::string_view message);
[[noreturn]] void raiseVmError(int code, std::u16string_view message);

PendingError& pendingError();
void clearPendingError();

// Logs "FATAL: " + message to standard error and raises code 11.
[[noreturn]] void raiseFatal(std::string_view message);

// Host-side invariant that bytecode cannot break: prints the condition, file
// and function, then aborts.
[[noreturn]] void assertionFailed(const char* condition, const char* file, const char* function);

std::u16string toU16(std::string_view latin1);
std::string toLatin1(std::u16string_view text);   // low byte of every unit

}  // namespace vm

#define KELVAR_ASSERT(cond) \
    ((cond) ? (void)0 : ::vm::assertionFailed(#cond, __FILE__, __PRETTY_FUNCTION__))
