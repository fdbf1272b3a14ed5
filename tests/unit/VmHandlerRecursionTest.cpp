// An error raised inside the raised-error handler, or inside the method that
// receives an uncaught exception, ends the run with one fatal message naming
// the error that led there; a handler that returns or whose exception is
// caught leaves nothing behind that would stop the next error.
#include <gtest/gtest.h>

#include "VmTestSupport.h"

namespace {

// init at 0 (9 bytes), main from 9; the declarations of the two handlers
// with the given names and bodies follow main.
std::string program(const std::string& aMain, const std::string& aVmtName, const std::string& aVmt,
                    const std::string& aVmp)
{
    return ".module \"guard\"\n"
           ".class Throwable refs 2\n"
           ".map m\n"
           ".map vmt params 2 refs 1\n"
           ".map vmp params 1 refs 0\n"
           ".static \"::global::init\" init map m\n"
           ".static \"main\" main map m\n"
           ".static \"" + aVmtName + "\" vmt map vmt\n"
           ".static \"vmprintthrowableandexit<*throwable>\" vmp map vmp\n"
           ".code\n"
           "init:\n    ret 0, 1\n"
           "main:\n" + aMain +
           "vmt:\n" + aVmt +
           "vmp:\n" + aVmp;
}

// The usual handler: the error becomes a Throwable that is thrown.
const char* const kThrowingVmt =
    "    new 1, 3\n    dup\n    setclass Throwable\n    dup\n    field.s 1\n    ldslot.s -5\n    stind\n"
    "    dup\n    field.s 2\n    ldslot.s -4\n    stind\n    throw\n";
// Logs the throwable's text and terminates.
const char* const kLoggingVmp =
    "    ldslot.s -2\n    field.s 2\n    ldind\n    native Debug.log\n    ldstr \"end\"\n    native System.terminate\n";

struct Outcome {
    std::string outcome;
    std::string errors;  // standard error
    std::vector<std::string> logs;
};

Outcome run(const std::string& aSource)
{
    TestHost host;
    vm::VirtualMachine machine;
    Outcome r;
    testing::internal::CaptureStderr();
    r.outcome = runProgram(assembleOrFail(aSource), host, machine);
    r.errors = testing::internal::GetCapturedStderr();
    r.logs = host.logs;
    return r;
}

}  // namespace

TEST(VmHandlerRecursion, AnErrorInsideTheRaisedErrorHandlerEndsTheRunNamingTheFirst)
{
    // The handler dereferences null while handling a division by zero.
    Outcome r = run(program("    push 1\n    ldzero\n    div\n    ret 0, 1\n", "vminternalthrow<int>,<*string>",
                        "    ldzero\n    ldind\n    ret 0, 3\n", kLoggingVmp));
    EXPECT_EQ(r.outcome, "fatal");
    EXPECT_EQ(r.errors, "FATAL: Error inside \"vminternalthrow<int>,<string>\": NullPointerException: NULL pointer "
                        "(code 1), while handling DivisionByZeroException (code 3) raised in \"main\" at position "
                        "15\n");
    EXPECT_TRUE(r.logs.empty());
}

TEST(VmHandlerRecursion, AHandlerDeclaredAtTheWrongLevelFailsOnceNotUntilTheStackOverflows)
{
    // Without the '*' the handler receives the word inside the string value:
    // logging it raises code 10, inside the handler.
    Outcome r = run(program("    ldzero\n    ldind\n    ret 0, 1\n", "vminternalthrow<int>,<string>",
                        "    ldslot.s -2\n    native Debug.log\n    ret 0, 3\n", kLoggingVmp));
    EXPECT_EQ(r.outcome, "fatal");
    EXPECT_NE(r.errors.find("FATAL: Error inside \"vminternalthrow<int>,<string>\": VMException: "), std::string::npos)
        << r.errors;
    EXPECT_NE(r.errors.find("while handling NullPointerException: NULL pointer (code 1) raised in \"main\" at "
                            "position 10\n"),
              std::string::npos)
        << r.errors;
    EXPECT_EQ(r.errors.find("Stack overflow"), std::string::npos);
}

TEST(VmHandlerRecursion, AnErrorInsideTheUncaughtExceptionMethodNamesTheErrorBehindIt)
{
    Outcome r = run(program("    push 1\n    ldzero\n    div\n    ret 0, 1\n", "vminternalthrow<int>,<*string>",
                        kThrowingVmt, "    ldzero\n    ldind\n    ret 0, 2\n"));
    EXPECT_EQ(r.outcome, "fatal");
    EXPECT_EQ(r.errors, "FATAL: Error inside \"vmprintthrowableandexit<throwable>\": NullPointerException: NULL "
                        "pointer (code 1), while handling DivisionByZeroException (code 3) raised in \"main\" at "
                        "position 15\n");
}

TEST(VmHandlerRecursion, AThrowInsideTheUncaughtExceptionMethodNamesTheFirstThrow)
{
    // main throws a Throwable of its own; the method that receives it throws
    // it again, and nothing catches that either.
    Outcome r = run(program("    new 1, 3\n    dup\n    setclass Throwable\n    throw\n", "vminternalthrow<int>,<*string>",
                        kThrowingVmt, "    ldslot.s -2\n    throw\n"));
    EXPECT_EQ(r.outcome, "fatal");
    EXPECT_EQ(r.errors, "FATAL: Error inside \"vmprintthrowableandexit<throwable>\": an exception that nothing "
                        "caught, while handling an exception thrown in \"main\" at position 21\n");
}

TEST(VmHandlerRecursion, HandlersThatReturnOrAreCaughtDoNotCountAsRunning)
{
    // The handler returns from divisions by zero, three times at the same
    // place on the same stack; other errors it throws: one is caught, one
    // more on a deeper stack ends in the uncaught-exception method as usual.
    const std::string main = "    push 3\n"
                             "again:\n"
                             "    push 1\n    ldzero\n    div\n    adjust.s -2\n"
                             "    push 1\n    sub\n    dup\n    jz.s out\n    jmp.s again\n"
                             "out:\n"
                             "    adjust.s -1\n"
                             "    ldstr \"resumed\"\n    native Debug.log\n"
                             "    try any, caught\n"
                             "    ldzero\n    ldind\n"
                             "caught:\n"
                             "    adjust.s -1\n"
                             "    adjust.s 8\n"
                             "    ldzero\n    ldind\n"
                             "    ret 0, 1\n";
    const std::string vmt = "    ldslot.s -3\n    push 3\n    eq\n    jz.s throwIt\n    ret 0, 3\n"
                            "throwIt:\n" + std::string(kThrowingVmt);
    Outcome r = run(program(main, "vminternalthrow<int>,<*string>", vmt, kLoggingVmp));
    EXPECT_EQ(r.outcome, "terminated") << r.errors;
    EXPECT_EQ(r.logs, (std::vector<std::string>{"resumed", "NullPointerException: NULL pointer"}));
    EXPECT_EQ(r.errors.find("FATAL"), std::string::npos) << r.errors;
}
