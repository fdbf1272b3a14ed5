// A file the loader refuses gets, after "Error while reading bytecode", one
// line with the byte offset and what was wrong there.
#include <gtest/gtest.h>

#include "McbFile.h"
#include "VmTestSupport.h"

namespace {

// All widths 1: id length 0, id 1-20, magic 21-22, widths 23-31, two
// statics from 32 (names at 40 and 60), no virtuals (66), globals (70),
// classes (74), one stack map (78, record 82-101), strings (102), code
// from 106: "ret 0, 1", 9 bytes; 115 in all.
std::vector<uint8_t> module()
{
    return assembleOrFail(".module \"x\"\n.map m\n.static \"::global::init\" r map m\n.static \"main\" r map m\n"
                          ".code\nr: ret 0, 1\n");
}

// The standard error of starting the file.
std::string refusal(const std::vector<uint8_t>& bytes)
{
    TestHost host;
    vm::VirtualMachine machine;
    testing::internal::CaptureStderr();
    std::string outcome = runProgram(bytes, host, machine);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome, "error UnknownException (CODE:11)");
    return errors;
}

std::string reason(const std::string& line)
{
    return "FATAL: Error while reading bytecode\n" + line + "\n";
}

}  // namespace

TEST(VmLoaderDiagnostics, EachRefusalNamesTheOffsetAndTheField)
{
    std::vector<uint8_t> good = module();
    ASSERT_EQ(good.size(), 115u);

    std::vector<uint8_t> b(good.begin(), good.begin() + 45);
    EXPECT_EQ(refusal(b), reason("offset 40: file ends inside static method name"));

    // One byte changed: the offset of the field and what is wrong with it.
    const struct {
        size_t at;
        uint8_t value;
        const char* reason;
    } edits[] = {
        {0, 16, "offset 0: bad module id length 16 (must be 20)"},
        {22, 0xFE, "offset 21: bad magic (must be FF FF)"},
        {23, 3, "offset 23: bad header width 'code' 3 (must be 1, 2 or 4)"},
        {31, 0, "offset 31: bad header width 'impls' 0 (must be 1, 2 or 4)"},
        {35, 0x80, "offset 32: negative static method count -2147483646"},  // a negative count
        {39, 0x80, "offset 36: negative static method name -2147483634"},  // a negative name length
        {82, 5, "offset 82: bad stack-map record width 5 (must be 1, 2 or 4)"},
    };
    for (const auto& edit : edits) {
        b = good;
        b[edit.at] = edit.value;
        EXPECT_EQ(refusal(b), reason(edit.reason)) << edit.at;
    }

    b.assign(good.begin(), good.end() - 4);
    EXPECT_EQ(refusal(b), reason("offset 106: code offset 0: instruction cut off by the end of the file"));

    b = good;
    for (uint8_t x : {15, 5, 0, 0, 0})  // vcall 5
        b.push_back(x);
    EXPECT_EQ(refusal(b), reason("offset 115: code offset 9: virtual method number 5 outside the module's 0 "
                                 "virtual methods"));
}

TEST(VmLoaderDiagnostics, EveryTruncationIsReportedAsTheDisassemblerReportsIt)
{
    // Two readers of the format, written apart: cut anywhere before the
    // code or inside "ret", a file gets the same one line from both.
    std::vector<uint8_t> good = module();
    for (size_t cut = 0; cut < good.size(); ++cut) {
        if (cut == 106)
            continue;  // no code at all: a well-formed module
        SCOPED_TRACE(cut);
        std::vector<uint8_t> b(good.begin(), good.begin() + long(cut));
        std::string expected;
        try {
            mcb::readModule(b);
        } catch (const mcb::FormatError& e) {
            expected = e.what();
        }
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(refusal(b), reason(expected));
    }
}
