// Helpers for tests that run bytecode: assembling, starting a VM on a test
// host, and a prelude with the exception entry methods.
#pragma once

#include <string>
#include <vector>

#include "TestHost.h"
#include "VirtualMachine.h"

std::string readFile(const std::string& path);

// Starts the assembled program; returns "ok", "fatal", "terminated" or
// "error <text>" for a VM error that escapes to the host.
std::string runProgram(const std::vector<uint8_t>& bytes, TestHost& host, vm::VirtualMachine& machine);

// Assembles source; a mistake fails the calling test with the message.
std::vector<uint8_t> assembleOrFail(const std::string& source);

// Class Throwable (word 1 code, word 2 text) and the methods
// "vminternalthrow" and "vmprintthrowableandexit"; the latter logs
// "uncaught" and the text, then terminates the run (System 2). Append to a
// program's declarations (it ends in .code).
extern const char* const kExceptionPrelude;
