// How a run of the VM ends, and the guard every VM call of the host goes
// through: nothing thrown by the VM may cross a Qt event handler.
#pragma once

#include <functional>

namespace host {

// Exit statuses of the runtime.
enum ExitStatus {
    EExitOk = 0,          // System exit, end of the event loop, SIGTERM/SIGINT
    EExitError = 1,       // a VM error escaped ("FATAL: " + its text), index.mcb missing
    EExitTerminated = 2,  // the program asked to terminate (code 12)
    EExitFatal = 3,       // a fatal error ended the run (code 11; the VM logged "FATAL: ...")
    EExitUsage = 2,       // before the run: a mistake on the command line or in its files, no display
};

// The run goes on.
constexpr int KRunGoesOn = -1;

// Runs aWork. Returns KRunGoesOn when it completes, else the status the
// process must end with: a termination signal gives EExitTerminated or
// EExitFatal; a VM error (or any other exception) escaping aWork writes
// "FATAL: " and its text to standard error and gives EExitError.
int runGuarded(const std::function<void()>& aWork) noexcept;

}  // namespace host
