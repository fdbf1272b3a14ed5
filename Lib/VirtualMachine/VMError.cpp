#include "VMError.h"

#include <cstdio>
#include <cstdlib>

namespace vm {

namespace {
thread_local PendingError tPending;
}

std::string exceptionName(int code)
{
    switch (code) {
    case 1: return "NullPointerException";
    case 2: return "IndexOutOfBoundsException";
    case 3: return "DivisionByZeroException";
    case 4: return "DataFormatException: ";
    case 5: return "RangeException";
    case 6: return "InvalidArgumentException";
    case 7: return "IOException";
    case 8: return "MathException";
    case 9: return "AssertionFailedException";
    case 10: return "VMException";
    case 13: return "UnsupportedFeatureException";
    default: return "UnknownException (CODE:" + std::to_string(code) + ")";
    }
}

std::u16string composeErrorText(int code, std::u16string_view message)
{
    std::u16string text = toU16(exceptionName(code));
    if (!message.empty()) {
        text += u": ";
        text += message;
    }
    return text;
}

void raiseVmError(int code)
{
    raiseVmError(code, std::u16string_view());
}

void raiseVmError(int code, std::string_view message)
{
    raiseVmError(code, std::u16string_view(toU16(message)));
}

void raiseVmError(int code, std::u16string_view message)
{
    tPending.code = code;
    tPending.text = composeErrorText(code, message);
    throw ErrorHandlingException();
}

PendingError& pendingError()
{
    return tPending;
}

void clearPendingError()
{
    tPending.code = 0;
    tPending.text.clear();
}

void raiseFatal(std::string_view message)
{
    std::fprintf(stderr, "FATAL: %.*s\n", int(message.size()), message.data());
    std::fflush(stderr);
    raiseVmError(KErrFatal);
}

void assertionFailed(const char* condition, const char* file, const char* function)
{
    std::fprintf(stderr, "ASSERT: \"%s\" in file %s, function %s\n", condition, file, function);
    std::fflush(stderr);
    std::abort();
}

std::u16string toU16(std::string_view latin1)
{
    std::u16string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1)
        out.push_back(char16_t(c));
    return out;
}

std::string toLatin1(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text)
        out.push_back(char(c & 0xFF));
    return out;
}

}  // namespace vm
