// The assembler's report of a whole file: every error up to the limit, by
// line, with the nearest known name for a misspelt one, and warnings about
// entry methods the runtime would not find or not call. Each NAME.in in
// tests/diagnostics is checked, as NAME.mcbs, against NAME.expected.
#ifdef MCB_HAVE_ASM

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Assembler.h"
#include "VmTestSupport.h"

using namespace mcb;

namespace {

const std::string kDirectory = std::string(MCB_SOURCE_DIR) + "/tests/diagnostics/";

std::vector<std::string> diagnosticFiles()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kDirectory))
        if (entry.path().extension() == ".in")
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(AsmDiagnostics, EachFileGivesItsExpectedReport)
{
    std::vector<std::string> names = diagnosticFiles();
    EXPECT_EQ(names, (std::vector<std::string>{"entries", "many", "misspelt", "several"}));
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        AsmResult result = assembleFile(readFile(kDirectory + name + ".in"), name + ".mcbs");
        EXPECT_EQ(result.report(), readFile(kDirectory + name + ".expected"));
        // Warnings alone still give a file; errors give none.
        EXPECT_EQ(result.bytes.empty(), !result.ok());
    }
}

TEST(AsmDiagnostics, AssembleStillThrowsTheFirstErrorAndDropsWarnings)
{
    try {
        assemble("main:\n    psuh 1\n    jmp.s nowhere\n", "t.mcbs");
        ADD_FAILURE() << "no error";
    } catch (const AsmError& e) {
        EXPECT_EQ(e.line, 2);
        EXPECT_EQ(e.message, "unknown mnemonic 'psuh'; did you mean 'push'?");
    }
    // No main, no "::global::init": warnings only, and the bytes come out.
    EXPECT_FALSE(assemble("    ret 0, 1\n", "t.mcbs").empty());
}

TEST(AsmDiagnostics, ANameTooFarFromEveryKnownOneHasNoSuggestion)
{
    AsmResult result = assembleFile("    frobnicate\n    native String.zzzzzz\n", "t.mcbs");
    ASSERT_GE(result.diagnostics.size(), 2u);
    EXPECT_EQ(result.diagnostics[0].text(), "t.mcbs:1: error: unknown mnemonic 'frobnicate'");
    EXPECT_EQ(result.diagnostics[1].text(), "t.mcbs:2: error: unknown function 'zzzzzz' of native group 'String'");
}

#endif  // MCB_HAVE_ASM
