// Assembler: encodings, label arithmetic, widths and error reports.
#ifdef MCB_HAVE_ASM

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "Assembler.h"
#include "Disassembler.h"
#include "McbFile.h"
#include "Opcodes.h"

using namespace mcb;

namespace {

std::vector<uint8_t> as(std::string_view src)
{
    return assemble(src, "t.mcbs");
}

Module asModule(std::string_view src)
{
    return readModule(as(src));
}

std::vector<uint8_t> codeOf(std::string_view src)
{
    return asModule(src).code;
}

std::vector<uint8_t> bytes(std::initializer_list<int> v)
{
    std::vector<uint8_t> out;
    for (int b : v)
        out.push_back(static_cast<uint8_t>(b));
    return out;
}

::testing::AssertionResult failsWith(std::string_view src, int line, std::string_view text)
{
    try {
        as(src);
    } catch (const AsmError& e) {
        if (e.line != line || e.message.find(text) == std::string::npos)
            return ::testing::AssertionFailure() << "got line " << e.line << ": " << e.message;
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "assembled without error";
}

}  // namespace

TEST(AsmErrors, ReportFileLineAndMessage)
{
    try {
        assemble("nop\nfoo 1\n", "prog.mcbs");
        FAIL() << "no error";
    } catch (const AsmError& e) {
        EXPECT_EQ(e.file, "prog.mcbs");
        EXPECT_EQ(e.line, 2);
        EXPECT_EQ(e.message, "unknown mnemonic 'foo'");
        EXPECT_STREQ(e.what(), "prog.mcbs:2: error: unknown mnemonic 'foo'");
    }

    // Lexical mistakes.
    EXPECT_TRUE(failsWith("nop\npush \"abc\n", 2, "unterminated string"));
    EXPECT_TRUE(failsWith("push '\\q'", 1, "unknown escape"));
    EXPECT_TRUE(failsWith("push 'ab'", 1, "exactly one character"));
    EXPECT_TRUE(failsWith("push ''", 1, "empty character literal"));
    EXPECT_TRUE(failsWith(".string s \"\\x4\"", 1, "two hex digits"));
    EXPECT_TRUE(failsWith("push 12ab", 1, "bad number '12ab'"));
    EXPECT_TRUE(failsWith("push 99999999999999999999", 1, "bad number"));

    // Instructions and operands.
    EXPECT_TRUE(failsWith("\n\npush", 3, "missing operand"));
    EXPECT_TRUE(failsWith("push 1 2", 1, "unexpected operand '2' for 'push'"));
    EXPECT_TRUE(failsWith("adjust.s 128", 1, "value 128 out of range"));
    EXPECT_TRUE(failsWith("adjust.s -129", 1, "out of range"));
    EXPECT_TRUE(failsWith("push 0x100000000", 1, "out of range"));
    EXPECT_TRUE(failsWith("push -2147483649", 1, "out of range"));
    EXPECT_TRUE(failsWith("new -1, 2", 1, "out of range"));
    EXPECT_TRUE(failsWith("extcall 1, 256", 1, "out of range"));
    EXPECT_TRUE(failsWith("push label", 1, "expected a number"));
    EXPECT_TRUE(failsWith("jmp.s nowhere", 1, "undefined label 'nowhere'"));
    EXPECT_TRUE(failsWith("call \"nope\"", 1, "unknown static method \"nope\""));
    EXPECT_TRUE(failsWith("call f\nf:", 1, "no stack map named 'f'"));
    EXPECT_TRUE(failsWith("call 12", 1, "missing 'map'"));
    EXPECT_TRUE(failsWith("vcall 0", 1, "virtual method number 0 out of range"));
    EXPECT_TRUE(failsWith(".virtual \"v\"\nvcall -1", 2, "out of range"));
    EXPECT_TRUE(failsWith(".virtual \"v\"\nvcall 1", 2, "out of range (the module has 1 virtual methods)"));
    EXPECT_TRUE(failsWith("vcall \"x\"", 1, "unknown virtual method \"x\""));
    EXPECT_TRUE(failsWith("vcall x", 1, "in quotes"));
    EXPECT_TRUE(failsWith("native Nope 1", 1, "unknown native group 'Nope'"));
    EXPECT_TRUE(failsWith("native 200 1", 1, "out of range"));
    EXPECT_TRUE(failsWith("ldstr nope", 1, "undefined string 'nope'"));
    EXPECT_TRUE(failsWith("setclass Nope", 1, "undefined class 'Nope'"));
    EXPECT_TRUE(failsWith("try Nope, x\nx:", 1, "undefined class 'Nope'"));
    EXPECT_TRUE(failsWith("refs 1", 1, "outside a .class, .map or .virtual"));
    EXPECT_TRUE(failsWith("nop\n.frob", 2, "unknown directive '.frob'"));
    EXPECT_TRUE(failsWith("\"x\"", 1, "expected a mnemonic or directive"));
    EXPECT_TRUE(failsWith(".byte 256", 1, "out of range"));

    // Declarations.
    EXPECT_TRUE(failsWith("a:\nnop\na: nop", 3, "duplicate label 'a' (first defined at line 1)"));
    EXPECT_TRUE(failsWith(".class A\n.class A", 2, "duplicate class 'A'"));
    EXPECT_TRUE(failsWith(".map m\n\n.map m", 3, "duplicate stack map 'm' (first defined at line 1)"));
    EXPECT_TRUE(failsWith(".string s \"x\"\n.string s \"y\"", 2, "duplicate string 's'"));
    EXPECT_TRUE(failsWith(".globals 1\n.globals 2", 2, "duplicate .globals"));
    EXPECT_TRUE(failsWith(".module \"a\"\n.module \"b\"", 2, "duplicate .module"));
    EXPECT_TRUE(failsWith(".module \"123456789012345678901\"", 1, "at most 20"));
    EXPECT_TRUE(failsWith(".module hex 0011", 1, "exactly 40 hex digits"));
    EXPECT_TRUE(failsWith(".module 5", 1, "expected a string or 'hex'"));
    EXPECT_TRUE(failsWith(".class any", 1, "reserved word"));
    EXPECT_TRUE(failsWith(".class A\n.class B super A flag 0", 2, "must be non-zero"));
    EXPECT_TRUE(failsWith(".class A flag 2", 1, "'flag' needs 'super'"));
    EXPECT_TRUE(failsWith(".class A super B", 1, "undefined class 'B'"));
    EXPECT_TRUE(failsWith(".class A\n  refs x", 2, "expected offsets after 'refs'"));
    EXPECT_TRUE(failsWith(".class A\n  arrays 1 maybe", 2, "expected 'ref' or 'plain'"));
    EXPECT_TRUE(failsWith(".class A\n  super A\n  super A", 3, "'super' given twice"));
    EXPECT_TRUE(failsWith(".class A refs 1 bogus 1", 1, "unexpected 'bogus' in .class"));
    EXPECT_TRUE(failsWith(".class A\n  bogus 1", 2, "unknown mnemonic 'bogus'"));   // not a clause: ends the class
    EXPECT_TRUE(failsWith(".map m params 1 params 2", 1, "'params' given twice"));
    EXPECT_TRUE(failsWith(".map m\n  width 3", 2, "width must be 1, 2 or 4"));
    EXPECT_TRUE(failsWith(".widths code 3", 1, "width must be 1, 2 or 4"));
    EXPECT_TRUE(failsWith(".widths code 1 code 2", 1, "given twice"));
    EXPECT_TRUE(failsWith(".widths wide 2", 1, "unknown width field 'wide'"));
    EXPECT_TRUE(failsWith(".static main main", 1, "method name in quotes"));
    EXPECT_TRUE(failsWith(".static \"f\" f\nf:", 1, "no stack map named 'f'"));
    EXPECT_TRUE(failsWith(".static \"f\" 0 map nomap", 1, "undefined stack map 'nomap'"));
    EXPECT_TRUE(failsWith(".virtual \"v\"\n  impl", 2, "missing class"));
    EXPECT_TRUE(failsWith(".virtual \"v\" other", 1, "expected 'impl'"));
    EXPECT_TRUE(failsWith(".string 5", 1, "expected a string"));
    EXPECT_TRUE(failsWith("nop\n.end", 2, "'.end' without"));
    EXPECT_TRUE(failsWith(".class A\nnop\n.end", 3, "'.end' without"));
}

TEST(AsmErrors, MutatedSourcesAssembleOrReportAnError)
{
    std::vector<std::string> sources;
    std::filesystem::path dir = std::filesystem::path(MCB_SOURCE_DIR) / "tests/asm";
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".mcbs") {
            std::ifstream in(e.path(), std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            sources.push_back(ss.str());
        }
    ASSERT_FALSE(sources.empty());
    const std::string alphabet = " \n\t;:,.\"'\\-+0123456789xabfz_ALmpr";
    std::mt19937 rng(777);
    int errors = 0;
    for (int iter = 0; iter < 2000; ++iter) {
        std::string s = sources[rng() % sources.size()];
        for (int e = 0; e < 3; ++e) {
            size_t at = rng() % (s.size() + 1);
            switch (rng() % 3) {
            case 0: s.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
            case 1: if (at < s.size()) s.erase(at, 1); break;
            default: if (at < s.size()) s[at] = static_cast<char>(rng()); break;
            }
        }
        try {
            std::vector<uint8_t> file = assemble(s, "m.mcbs");
            std::string text;
            try {
                text = disassemble(file);
            } catch (const FormatError&) {
                continue;   // raw .byte values can cut the last instruction
            }
            EXPECT_EQ(assemble(text, "d.mcbs"), file);
        } catch (const AsmError& e) {
            ++errors;
            EXPECT_GE(e.line, 1) << e.what();
        }
    }
    EXPECT_GT(errors, 100);
}

TEST(AsmErrors, ValuesThatDoNotFitAnExplicitWidth)
{
    EXPECT_TRUE(failsWith(".widths code 1\n.map m\n.static \"f\" 300 map m", 3, "code address 300 does not fit width 1"));
    EXPECT_TRUE(failsWith(".widths map 2\n.static \"f\" 0 map -1", 2, "stack-map index -1 does not fit width 2"));
    EXPECT_TRUE(failsWith(".widths params 2\n.map m\n  params 70000", 3, "parameter slots 70000 does not fit"));
    EXPECT_TRUE(failsWith(".widths class 1\n.class A\n.class B super A\n  skip 256", 4, "class index 256"));
    EXPECT_TRUE(failsWith(".widths superflag 1\n.class A super A flag 256", 2, "superclass flag 256"));
    EXPECT_TRUE(failsWith(".class A width 1\n  refs 1\n  refs 256", 3, "class offset 256 does not fit width 1"));
    EXPECT_TRUE(failsWith(".map m width 2 inline -1 ref", 1, "stack map offset -1 does not fit width 2"));

    std::string many = ".widths impls 1\n.map m\n.class A\n.virtual \"v\"\n";
    for (int i = 0; i < 256; ++i)
        many += "  impl A 0 map m\n";
    EXPECT_TRUE(failsWith(many, 4, "implementation count 256 does not fit width 1"));
    std::string skips = ".widths skipcount 1\n.class A skip";
    for (int i = 0; i < 256; ++i)
        skips += " 0";
    EXPECT_TRUE(failsWith(skips, 2, "skipped class count 256"));
}

TEST(AsmEncoding, OperandsOfEachFormat)
{
    const char* src = R"(
.class A
.class B super A
.map m0
.map m1 params 1
.string s0 "zero"
.static "f" f map m1
.static "g" 0x10 map -1
.virtual "v0"
.virtual "v1"
.code
f:  ldslot.s -1
    ldslot 0x01020304
    push -2
    push 0xFFFFFFFF
    push 'A'
    push '\x80'
    push 'é'
    push 0b101
    call "f"
    call "g"
    call f map m0
    call 7 map 2
    vcall "v1"
    vcall 0
    ret 1, 2
    new 14, 3
    newat 2, 5, -1
    ldstr s0
    ldstr "zero"
    ldstr "new"
    ldstr 9
    setclass B
    setclass 300
    native String 4
    native Float -1
    native Vector8 1
    native ObjectVector 2
    native -3 0
    extcall 200, 7
    push2 0x11223344, 0x55667788
    push2 -2
    fldvia -1, 2
)";
    Module m = asModule(src);
    std::vector<uint8_t> want = bytes({
        1, 0xFF,                          // ldslot.s -1
        2, 4, 3, 2, 1,                    // ldslot 0x01020304
        20, 0xFE, 0xFF, 0xFF, 0xFF,       // push -2
        20, 0xFF, 0xFF, 0xFF, 0xFF,       // push 0xFFFFFFFF
        20, 65, 0, 0, 0,                  // 'A'
        20, 0x80, 0, 0, 0,                // '\x80'
        20, 0xE9, 0, 0, 0,                // 'é' is U+00E9
        20, 5, 0, 0, 0,                   // 0b101
        14, 0, 0, 0, 0, 1, 0, 0, 0,       // call "f": address 0, map 1
        14, 0x10, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,
        14, 0, 0, 0, 0, 0, 0, 0, 0,       // call f map m0
        14, 7, 0, 0, 0, 2, 0, 0, 0,       // raw address and map
        15, 1, 0, 0, 0,                   // vcall "v1"
        15, 0, 0, 0, 0,
        16, 1, 0, 0, 0, 2, 0, 0, 0,       // ret 1, 2
        17, 14, 3, 0, 0, 0,               // new 14, 3
        146, 2, 5, 0, 0, 0, 0xFF,         // newat 2, 5, -1
        21, 0, 0, 0, 0,                   // ldstr s0
        21, 0, 0, 0, 0,                   // "zero" reuses s0
        21, 1, 0, 0, 0,                   // "new" is appended
        21, 9, 0, 0, 0,
        22, 1, 0, 0, 0,                   // setclass B
        22, 0x2C, 1, 0, 0,
        78, 8, 4,                         // native String 4
        78, 36, 0xFF,
        78, 1, 1,
        78, 7, 2,
        78, 0xFD, 0,
        97, 200, 7,
        65, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,
        65, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,   // one 64-bit value, low word first
        131, 0xFF, 2,
    });
    EXPECT_EQ(m.code, want);
    ASSERT_EQ(m.strings.size(), 2u);
    EXPECT_EQ(m.strings[1], "new");
    ASSERT_EQ(m.statics.size(), 2u);
    EXPECT_EQ(m.statics[1].codeAddress, 0x10);
    EXPECT_EQ(m.statics[1].gcInfoIndex, -1);
    ASSERT_EQ(m.classes.size(), 2u);
    EXPECT_EQ(m.classes[1].hasSuper, 1);
    EXPECT_EQ(m.classes[1].superIndex, 0);
}

TEST(AsmEncoding, DeclarationsAndConveniences)
{
    Module m = asModule(R"(
.module "demo"            ; padded with zero bytes
.globals 3
.class A                  ; clauses on following lines continue the declaration
  ; a comment between clause lines
  refs 1 2
  arrays 3 ref, 4 plain
  skip A 9
.end
.map main locals 2 refs 1 inline 2 ref
.map other params 1 extra 2
  checked 0
  arrays 1 plain
.static "main" main       ; the map named like the label
.static "main" other map other
.virtual "<a>.f" impl A main map main
  impl 5 other
.code
main: other: call "main"
)");
    EXPECT_EQ(std::string(m.id.begin(), m.id.begin() + 4), "demo");
    for (size_t i = 4; i < m.id.size(); ++i)
        EXPECT_EQ(m.id[i], 0);
    EXPECT_EQ(m.globalWords, 3);
    ASSERT_EQ(m.classes.size(), 1u);
    EXPECT_EQ(m.classes[0].refOffsets, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(m.classes[0].arrayFields, (std::vector<FlaggedSlot>{{255, 3}, {0, 4}}));
    EXPECT_EQ(m.classes[0].skipped, (std::vector<int32_t>{0, 9}));
    EXPECT_EQ(m.classes[0].hasSuper, 0);
    ASSERT_EQ(m.maps.size(), 2u);
    EXPECT_EQ(m.maps[0].localSlots, 2);
    EXPECT_EQ(m.maps[0].referenceSlots, (std::vector<int32_t>{1}));
    EXPECT_EQ(m.maps[0].inlineArraySlots, (std::vector<FlaggedSlot>{{255, 2}}));
    EXPECT_EQ(m.maps[1].parameterSlots, 1);
    EXPECT_EQ(m.maps[1].extraSlots, 2);
    EXPECT_EQ(m.maps[1].checkedReferenceSlots, (std::vector<int32_t>{0}));
    EXPECT_EQ(m.maps[1].arrayReferenceSlots, (std::vector<FlaggedSlot>{{0, 1}}));
    ASSERT_EQ(m.statics.size(), 2u);
    EXPECT_EQ(m.statics[0].gcInfoIndex, 0);
    EXPECT_EQ(m.statics[1].gcInfoIndex, 1);
    ASSERT_EQ(m.virtuals.size(), 1u);
    EXPECT_EQ(m.virtuals[0].impls, (std::vector<VirtualImpl>{{0, 0, 0}, {5, 0, 1}}));
    // A repeated static name: the call takes the first.
    EXPECT_EQ(m.code, bytes({14, 0, 0, 0, 0, 0, 0, 0, 0}));

    Module hex = asModule(".module hex 000102030405060708090A0B0C0D0E0F10111213");
    for (int i = 0; i < kModuleIdLength; ++i)
        EXPECT_EQ(hex.id[i], i);
    Module escaped = asModule(".string \"a\\tb\\n\\\"\\\\\\0\\xfF\" ; comment\n");
    EXPECT_EQ(escaped.strings[0], std::string("a\tb\n\"\\\0\xff", 8));
}

TEST(AsmEncoding, EveryOpcodeTakesItsTableLength)
{
    const std::string prelude =
        ".class C0\n.map m\n.string s0 \"x\"\n.static \"l\" l map m\n.virtual \"v\"\n.code\nl:\n";
    int instructions = 0;
    for (int op = 0; op < 256; ++op) {
        const vm::OpcodeInfo& info = vm::kOpcodeInfo[op];
        if (!info.mnemonic)
            continue;
        ++instructions;
        std::string operands;
        switch (info.format) {
        case vm::OperandFormat::NONE: break;
        case vm::OperandFormat::S8: operands = "-5"; break;
        case vm::OperandFormat::S32: operands = "-5"; break;
        case vm::OperandFormat::BR16:
        case vm::OperandFormat::BR32: operands = "l"; break;
        case vm::OperandFormat::CALL: operands = "\"l\""; break;
        case vm::OperandFormat::VCALL: operands = "\"v\""; break;
        case vm::OperandFormat::RET: operands = "1, 2"; break;
        case vm::OperandFormat::NEW: operands = "2, 3"; break;
        case vm::OperandFormat::NEWW: operands = "2, 3, 1"; break;
        case vm::OperandFormat::STR: operands = "s0"; break;
        case vm::OperandFormat::CLASS: operands = "C0"; break;
        case vm::OperandFormat::TRY: operands = "C0, l"; break;
        case vm::OperandFormat::NATIVE: operands = "Math.tan"; break;
        case vm::OperandFormat::EXT: operands = "1, 2"; break;
        case vm::OperandFormat::IMM64: operands = "1, 2"; break;
        case vm::OperandFormat::S8S8: operands = "1, 2"; break;
        }
        std::string line = std::string(info.mnemonic) + " " + operands;
        std::vector<uint8_t> file = as(prelude + line + "\n");
        Module m = readModule(file);
        ASSERT_EQ(m.code.size(), size_t(1) + info.operandBytes) << line;
        EXPECT_EQ(m.code[0], op) << line;
        EXPECT_EQ(int(info.operandBytes), vm::operandLength(static_cast<uint8_t>(op)));
        std::string text = disassemble(file);
        EXPECT_NE(text.find("    " + line), std::string::npos) << line << "\n" << text;
        EXPECT_EQ(as(text), file) << line;
    }
    EXPECT_EQ(instructions, 130);
}

TEST(AsmBranches, OffsetsCountFromTheLastOperandByte)
{
    std::vector<uint8_t> code = codeOf(R"(
top:                 ; 0
    nop              ; 0
    jz.s top         ; 1: 0 - (1 + 2) = -3
    jmp fwd          ; 4: 26 - (4 + 4) = 18
    try any, fwd     ; 9: a catch resumes at A + 8 + d + 1, so d = 26 - (9 + 9) = 8
    jmp.s 0          ; 18: raw offset, kept
    jz -1            ; 21
fwd:                 ; 26
    jmp.s fwd        ; 26: -2
    jmp top          ; 29: -33
    try 0, top       ; 34: 0 - 43
end:
)");
    EXPECT_EQ(code, bytes({
                        0,
                        10, 0xFD, 0xFF,
                        13, 18, 0, 0, 0,
                        117, 0xFF, 0xFF, 0xFF, 0xFF, 8, 0, 0, 0,
                        12, 0, 0,
                        11, 0xFF, 0xFF, 0xFF, 0xFF,
                        12, 0xFE, 0xFF,
                        13, 0xDF, 0xFF, 0xFF, 0xFF,
                        117, 0, 0, 0, 0, 0xD5, 0xFF, 0xFF, 0xFF,
                    }));
}

TEST(AsmBranches, ShortFormsRefuseOffsetsBeyond16Bits)
{
    // `jmp.s end` at address 0 stores end - 2 = filler + 1.
    auto filler = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += i % 100 == 0 ? "\n.byte 0" : " 0";
        return s + "\n";
    };
    auto forward = [&](int n, const char* jump) { return std::string(jump) + " end" + filler(n) + "end:\n"; };
    std::vector<uint8_t> ok = codeOf(forward(32766, "jmp.s"));
    EXPECT_EQ(ok[1], 0xFF);
    EXPECT_EQ(ok[2], 0x7F);
    EXPECT_TRUE(failsWith(forward(32767, "jmp.s"), 1, "offset 32768 to label 'end' out of range for 'jmp.s' (16-bit)"));
    EXPECT_TRUE(failsWith(forward(40000, "jz.s"), 1, "out of range for 'jz.s'"));
    std::vector<uint8_t> wide = codeOf(forward(40000, "jz"));
    EXPECT_EQ(readLE32(&wide[1]), 40001);

    // Backward: `jmp.s top` at address 32768 + k reaches top = 0 with -(32768 + k + 2).
    auto backward = [&](int n) { return "top:" + filler(n) + "jmp.s top\n"; };
    std::vector<uint8_t> back = codeOf(backward(32766));
    EXPECT_EQ(readLE16(&back[32767]), -32768);
    EXPECT_TRUE(failsWith(backward(32767), 330, "offset -32769"));
    EXPECT_TRUE(failsWith("jmp.s 32768", 1, "out of range"));
}

TEST(AsmWidths, ChosenAutomaticallyAndOverridable)
{
    // 300 static methods whose code addresses reach 299 need width 2.
    std::string src = ".map m\n";
    for (int i = 0; i < 300; ++i)
        src += ".static \"f" + std::to_string(i) + "\" f" + std::to_string(i) + " map m\n";
    src += ".code\n";
    for (int i = 0; i < 300; ++i)
        src += "f" + std::to_string(i) + ": nop\n";
    Module m = asModule(src);
    EXPECT_EQ(m.widths, (Widths{2, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(m.statics[299].codeAddress, 299);
    EXPECT_EQ(disassemble(as(src)).find(".widths"), std::string::npos);

    // An override to 4 is kept, and the disassembler says so.
    std::vector<uint8_t> wide = as(".widths code 4 locals 2\n" + src);
    EXPECT_EQ(readModule(wide).widths, (Widths{4, 1, 1, 1, 1, 1, 1, 2, 1}));
    std::string text = disassemble(wide);
    EXPECT_NE(text.find(".widths code 4 locals 2\n"), std::string::npos);
    EXPECT_EQ(as(text), wide);

    // Each field widens on its own; negative values need the signed width 4.
    Module w = asModule(R"(
.class A
.class B super A flag 256
.map m params 255 extra 256 locals 70000
.static "f" 0 map -1
.virtual "v" impl 65535 0 map m
)");
    EXPECT_EQ(w.widths, (Widths{1, 4, 2, 2, 1, 1, 2, 4, 1}));
    Module s = asModule(".class A skip 1 2 3\n.static \"f\" -1 map 0\n");
    EXPECT_EQ(s.widths[W_SKIP_COUNT], 1);
    EXPECT_EQ(s.widths[W_CODE_ADDRESS], 4);

    // Record widths follow the largest offset of their own record only.
    Module r = asModule(R"(
.class A refs 255
.class B refs 1 256
.class C arrays 1 ref -1 plain
.class D width 4 refs 1
.map m checked 65536
.map n inline 2 ref
)");
    EXPECT_EQ(r.classes[0].width, 1);
    EXPECT_EQ(r.classes[1].width, 2);
    EXPECT_EQ(r.classes[2].width, 4);
    EXPECT_EQ(r.classes[3].width, 4);
    EXPECT_EQ(r.maps[0].width, 4);
    EXPECT_EQ(r.maps[1].width, 1);
}

TEST(AsmDocs, DescribeEveryOpcodeOfTheTable)
{
    std::ifstream in(std::string(MCB_SOURCE_DIR) + "/docs/assembly.md");
    ASSERT_TRUE(in) << "docs/assembly.md missing";
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string all = ss.str();
    ASSERT_NE(all.find("\n## Instructions"), std::string::npos);
    const std::string doc = all.substr(all.find("\n## Instructions"));
    int rows = 0;
    for (int op = 0; op < 256; ++op) {
        const char* mn = vm::kOpcodeInfo[op].mnemonic;
        std::string row = "| " + std::to_string(op) + " | `" + (mn ? mn : "") + "` |";
        if (mn) {
            EXPECT_NE(doc.find(row), std::string::npos) << "missing row: " << row;
            ++rows;
        }
    }
    // No row for a code that is no instruction.
    size_t count = 0;
    for (size_t p = doc.find("\n| "); p != std::string::npos; p = doc.find("\n| ", p + 1)) {
        size_t q = p + 3;
        if (q < doc.size() && doc[q] >= '0' && doc[q] <= '9') {
            int code = std::atoi(doc.c_str() + q);
            if (doc.compare(doc.find(" | ", q), 4, " | `") == 0) {
                ++count;
                EXPECT_TRUE(code < 256 && vm::isInstruction(static_cast<uint8_t>(code))) << "row for " << code;
            }
        }
    }
    EXPECT_EQ(count, static_cast<size_t>(rows));
}

#endif  // MCB_HAVE_ASM
