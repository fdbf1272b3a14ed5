// Assembler and disassembler: native functions and extension operations by
// name (`native String.length`, `extcall Mixer.play`) next to the numbers.
#ifdef MCB_HAVE_ASM

#include <gtest/gtest.h>

#include "Assembler.h"
#include "Disassembler.h"
#include "McbFile.h"

using namespace mcb;

namespace {

std::vector<uint8_t> codeOf(const std::string& lines)
{
    return readModule(assemble(lines, "t.mcbs")).code;
}

std::string errorOf(const std::string& lines)
{
    try {
        assemble(lines, "t.mcbs");
    } catch (const AsmError& e) {
        return e.message;
    }
    return "no error";
}

}  // namespace

TEST(AsmNativeNames, NamesAndNumbersGiveTheSameBytes)
{
    const std::vector<uint8_t> length{78, 8, 10};
    EXPECT_EQ(codeOf("native String.length"), length);
    EXPECT_EQ(codeOf("native string.LENGTH"), length);  // case is not significant
    EXPECT_EQ(codeOf("native String 10"), length);
    EXPECT_EQ(codeOf("native 8, 10"), length);
    // Function numbers from 128 on, by name, unsigned or as the signed byte.
    const std::vector<uint8_t> substring{78, 8, 150};
    EXPECT_EQ(codeOf("native String.substring"), substring);
    EXPECT_EQ(codeOf("native String 150"), substring);
    EXPECT_EQ(codeOf("native String -106"), substring);
    EXPECT_EQ(codeOf("native Float.fromFixed"), (std::vector<uint8_t>{78, 36, 0}));
    EXPECT_EQ(codeOf("native ObjectVector 2"), (std::vector<uint8_t>{78, 7, 2}));

    const std::vector<uint8_t> play{97, 30, 4};
    EXPECT_EQ(codeOf("extcall Mixer.play"), play);
    EXPECT_EQ(codeOf("extcall mixer 4"), play);
    EXPECT_EQ(codeOf("extcall 30, 4"), play);
    EXPECT_EQ(codeOf("extcall Accelerometer.getZ"), (std::vector<uint8_t>{97, 20, 13}));
    EXPECT_EQ(codeOf("extcall Platform.leaveToTaskSwitcher"), (std::vector<uint8_t>{97, 37, 1}));
}

TEST(AsmNativeNames, UnknownNamesAreErrors)
{
    EXPECT_EQ(errorOf("native String.lenght"), "unknown function 'lenght' of native group 'String'; did you mean 'length'?");
    EXPECT_EQ(errorOf("native Strng.length"), "unknown native group 'Strng'; did you mean 'String'?");
    EXPECT_EQ(errorOf("native String.length 3"), "unexpected operand '3' for 'native'");
    EXPECT_EQ(errorOf("native Byte.add"), "unknown function 'add' of native group 'Byte'");
    EXPECT_EQ(errorOf("extcall Mixer.pley"), "unknown operation 'pley' of extension 'Mixer'; did you mean 'play'?");
    EXPECT_EQ(errorOf("extcall Sonar 1"), "unknown extension 'Sonar'");
    EXPECT_EQ(errorOf("native String 256"), "value 256 out of range for a native function number (-128..255)");
}

TEST(AsmNativeNames, DisassemblyNamesTheFunctionAndKeepsTheNumbers)
{
    // Known functions by name with the numbers in the comment; unknown ones
    // as numbers; all of it assembles back to the same bytes.
    std::vector<uint8_t> file = assemble(
        "native String.length\nnative String 150\nnative String 3\nnative 2 1\nextcall Mixer.play\nextcall 30, 200\n"
        "extcall 99, 1\n",
        "t.mcbs");
    std::string text = disassemble(file);
    for (const char* want : {"    native String.length                ; 0, 8 10\n",
                             "    native String.substring             ; 3, 8 150\n",
                             "    native String 3                     ; 6\n", "    native 2 1                          ; 9\n",
                             "    extcall Mixer.play                  ; 12, 30 4\n",
                             "    extcall 30, 200                     ; 15\n", "    extcall 99, 1                       ; 18\n"})
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
    EXPECT_EQ(assemble(text, "back.mcbs"), file);
}

#endif  // MCB_HAVE_ASM
