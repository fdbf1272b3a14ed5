#include "RunGuard.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "VMError.h"

namespace host {

namespace {

int fatalMessage(const std::string& aText)
{
    std::string line = "FATAL: " + aText + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return EExitError;
}

}  // namespace

int runGuarded(const std::function<void()>& aWork) noexcept
{
    try {
        aWork();
        return KRunGoesOn;
    } catch (const vm::TerminationSignal& signal) {
        return signal.kind == vm::TerminationSignal::Fatal ? EExitFatal : EExitTerminated;
    } catch (const vm::ErrorHandlingException&) {
        std::string text = vm::toLatin1(vm::pendingError().text);
        vm::clearPendingError();
        return fatalMessage(text);
    } catch (const std::bad_alloc&) {
        return fatalMessage("Out of memory");
    } catch (const std::exception& e) {
        return fatalMessage(e.what());
    } catch (...) {
        return fatalMessage("UNEXPECTED EXCEPTION");
    }
}

}  // namespace host
