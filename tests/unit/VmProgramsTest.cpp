// Runs every program under tests/asm/vm/: assembles it, starts it on a test
// host and compares what it logged, and how the run ended, with the
// expectations written in the program's comments:
//   ;> text        the next expected log line (anywhere in a line)
//   ;! fatal       the run ends with the fatal termination signal
//   ;! terminated  the run ends with the termination request
//   ;! error TEXT  a VM error with that text escapes to the host
// Without a ";!" line the run must end normally.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Assembler.h"
#include "VmTestSupport.h"

namespace {

std::vector<std::string> programNames()
{
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(std::string(MCB_SOURCE_DIR) + "/tests/asm/vm"))
        if (entry.path().extension() == ".mcbs")
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Expectations {
    std::vector<std::string> logs;
    std::string outcome = "ok";
};

Expectations expectationsOf(const std::string& source)
{
    Expectations e;
    std::istringstream lines(source);
    std::string line;
    while (std::getline(lines, line)) {
        size_t p = line.find(";>");
        if (p != std::string::npos)
            e.logs.push_back(line.size() > p + 2 ? line.substr(p + 3) : "");
        p = line.find(";! ");
        if (p != std::string::npos)
            e.outcome = line.substr(p + 3);
    }
    return e;
}

}  // namespace

class VmPrograms : public ::testing::TestWithParam<std::string> {};

TEST_P(VmPrograms, Run)
{
    std::string path = std::string(MCB_SOURCE_DIR) + "/tests/asm/vm/" + GetParam() + ".mcbs";
    std::string source = readFile(path);
    Expectations expected = expectationsOf(source);
    std::vector<uint8_t> bytes;
    try {
        bytes = mcb::assemble(source, path);
    } catch (const mcb::AsmError& e) {
        FAIL() << e.what();
    }
    TestHost host;
    vm::VirtualMachine machine;
    testing::internal::CaptureStderr();
    std::string outcome = runProgram(bytes, host, machine);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome, expected.outcome) << err;
    EXPECT_EQ(host.logs, expected.logs) << err;
}

INSTANTIATE_TEST_SUITE_P(Vm, VmPrograms, ::testing::ValuesIn(programNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });
