#include "VmTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Assembler.h"
#include "IO/CAppsFileReader.h"

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string runProgram(const std::vector<uint8_t>& bytes, TestHost& host, vm::VirtualMachine& machine)
{
    CAppsFileReader reader(bytes.data(), TUint32(bytes.size()));
    try {
        machine.start(reader, CAppsString("index.mcb"), &host);
    } catch (const vm::TerminationSignal& t) {
        return t.kind == vm::TerminationSignal::Fatal ? "fatal" : "terminated";
    } catch (const vm::ErrorHandlingException&) {
        std::string text = vm::toLatin1(vm::pendingError().text);
        vm::clearPendingError();
        return "error " + text;
    }
    return "ok";
}

std::vector<uint8_t> assembleOrFail(const std::string& source)
{
    try {
        return mcb::assemble(source, "test");
    } catch (const mcb::AsmError& e) {
        ADD_FAILURE() << e.what() << "\n" << source;
        return {};
    }
}

const char* const kExceptionPrelude = R"(
.class Throwable refs 2
.map vmt params 2 extra 0 locals 0 refs 1
.map vmp params 1 extra 0 locals 0 refs 0
.static "vminternalthrow<int>,<*string>" vmt map vmt
.static "vmprintthrowableandexit<*throwable>" vmp map vmp
.code
vmt:
    new 1, 3
    dup
    setclass Throwable
    dup
    field.s 1
    ldslot.s -5
    stind
    dup
    field.s 2
    ldslot.s -4
    stind
    throw
vmp:
    ldstr "uncaught"
    native Debug 1
    ldslot.s -2
    field.s 2
    ldind
    native Debug 1
    ldstr "uncaught"
    native System 2
)";
