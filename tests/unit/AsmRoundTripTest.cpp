// Disassembler: the reader's acceptance rules and byte-exact round trips.
#ifdef MCB_HAVE_ASM

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "Assembler.h"
#include "Disassembler.h"
#include "McbFile.h"

using namespace mcb;

namespace {

// Builds a file byte by byte, independently of writeModule.
struct Bytes {
    std::vector<uint8_t> b;

    Bytes& u8(int v)
    {
        b.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Bytes& coded(int width, int64_t v)
    {
        for (int i = 0; i < width; ++i)
            b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
        return *this;
    }
    Bytes& i32(int64_t v) { return coded(4, v); }
    Bytes& str(std::string_view s)
    {
        i32(static_cast<int64_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& raw(std::initializer_list<int> v)
    {
        for (int x : v)
            u8(x);
        return *this;
    }
    // Id, magic and the nine widths.
    Bytes& header(std::array<int, 9> widths = {1, 1, 1, 1, 1, 1, 1, 1, 1})
    {
        u8(20);
        for (int i = 0; i < 20; ++i)
            u8(i < 4 ? "test"[i] : 0);
        raw({0xFF, 0xFF});
        for (int w : widths)
            u8(w);
        return *this;
    }
    // Empty sections from the static methods to the strings.
    Bytes& emptySections() { return i32(0).i32(0).i32(0).i32(0).i32(0).i32(0); }
};

// assemble(disassemble(f)) == f, and the text is a fixed point.
::testing::AssertionResult roundTrips(const std::vector<uint8_t>& file)
{
    std::string text;
    try {
        text = disassemble(file);
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure() << "disassemble: " << e.what();
    }
    std::vector<uint8_t> again;
    try {
        again = assemble(text, "disassembly");
    } catch (const AsmError& e) {
        return ::testing::AssertionFailure() << e.what() << "\n" << text;
    }
    if (again != file) {
        size_t i = 0;
        while (i < again.size() && i < file.size() && again[i] == file[i])
            ++i;
        return ::testing::AssertionFailure() << "bytes differ from offset " << i << "\n" << text;
    }
    if (disassemble(again) != text)
        return ::testing::AssertionFailure() << "second disassembly differs";
    if (writeModule(readModule(file)) != file)
        return ::testing::AssertionFailure() << "writeModule(readModule(f)) != f";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult refused(const std::vector<uint8_t>& file, std::string_view text)
{
    try {
        disassemble(file);
    } catch (const FormatError& e) {
        if (std::string(e.what()).find(text) == std::string::npos)
            return ::testing::AssertionFailure() << "message: " << e.what();
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "accepted";
}

std::vector<std::filesystem::path> samplePrograms()
{
    std::vector<std::filesystem::path> out;
    for (const char* dir : {"tests", "examples", "benchmarks"}) {
        std::filesystem::path root = std::filesystem::path(MCB_SOURCE_DIR) / dir;
        if (!std::filesystem::is_directory(root))
            continue;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root))
            if (e.is_regular_file() && e.path().extension() == ".mcbs")
                out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string readText(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A file with one of each odd thing the loader accepts.
std::vector<uint8_t> oddFile()
{
    Bytes f;
    f.u8(20);
    for (int i = 0; i < 20; ++i)
        f.u8(i * 13 + 1);   // binary id
    f.raw({0xFF, 0xFF});
    for (int i = 0; i < 9; ++i)
        f.u8(4);   // every header width wider than needed

    // Static methods: odd name bytes; address inside an instruction; address
    // at the end of the code; a repeated name.
    f.i32(4);
    f.str(std::string("na\0me\xff\"", 7)).i32(3).i32(-1);
    f.str("end").i32(46).i32(0);
    f.str("end").i32(0).i32(1);
    f.str("").i32(-7).i32(99);

    // Virtual methods: a repeated name; implementations for classes that have
    // no record, outside the code.
    f.i32(3);
    f.str("<x>.v").i32(2).i32(0).i32(0).i32(0).i32(9).i32(1000).i32(1);
    f.str("<x>.v").i32(0);
    f.str("<x>.w").i32(1).i32(-3).i32(2).i32(-1);

    f.i32(-3);   // globals

    // Classes: a superclass flag of 7, skipped indices, a record wider than
    // needed, a superclass without a record.
    f.i32(3);
    f.u8(2).i32(1).coded(2, 1).i32(2).u8(255).coded(2, 2).u8(0).coded(2, 3);
    f.i32(7).i32(1).i32(2).i32(5).i32(-1);
    f.u8(1).i32(0).i32(0).i32(0).i32(0);
    f.u8(4).i32(0).i32(0).i32(1).i32(40).i32(0);

    // Stack maps: negative offsets, every list, one map nobody uses.
    f.i32(3);
    f.u8(4).i32(1).i32(1).i32(-2).i32(1).u8(255).i32(3).i32(0).i32(2).i32(2).i32(4).i32(5).i32(1).u8(0).i32(6);
    f.u8(1).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).i32(0);
    f.u8(2).i32(70000).i32(0).i32(0).i32(1).i32(65535).i32(0).i32(0);

    // Strings: malformed UTF-8, surrogates, overlong forms, controls.
    const char* strings[] = {"", "\xC3\x28", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80", "caf\xC3\xA9 \xE2\x98\xBA \xF0\x9F\x98\x80",
                             "\x01\x1F\x7F\xC2\x85\t\r\n\"\\", "\xE2\x82", "a\0b"};
    f.i32(9);
    for (const char* s : strings)
        f.str(std::string(s, s == strings[8] ? 3 : std::strlen(s)));

    // Code.
    f.raw({56});                                       // 0: no instruction
    f.raw({12, 0xFF, 0xFF});                           // 1: jmp.s into itself (target 2)
    f.raw({10, 0x00, 0x80});                           // 4: jz.s far outside the code
    f.raw({13, 35, 0, 0, 0});                          // 7: jmp to the end (46)
    f.raw({14, 3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});   // 12: call matching static 0
    f.raw({14, 46, 0, 0, 0, 1, 0, 0, 0});              // 21: no first-of-name match
    f.raw({15, 1, 0, 0, 0});                           // 30: the second "<x>.v"
    f.raw({117, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF});   // 35: try any, into an instruction
    f.raw({200, 255, 2, 7});                           // 44: two non-instructions, then a cut ldslot
    return std::move(f.b);
}

}  // namespace

TEST(AsmRoundTrip, SampleProgramsAssembleAndRoundTrip)
{
    std::vector<std::filesystem::path> programs = samplePrograms();
    EXPECT_GE(programs.size(), 4u);
    for (const auto& p : programs) {
        SCOPED_TRACE(p.string());
        std::vector<uint8_t> file;
        try {
            file = assemble(readText(p), p.string());
        } catch (const AsmError& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        EXPECT_TRUE(roundTrips(file));
    }
}

TEST(AsmRoundTrip, HandBuiltFilesWithOddCases)
{
    // The code of oddFile() ends with 200, 255, then opcode 2 (4 operand
    // bytes) that would run past the end: trim to a valid file first.
    std::vector<uint8_t> file = oddFile();
    EXPECT_TRUE(refused(file, "cut off"));
    file.resize(file.size() - 2);   // code: ... 200, 255 (47 bytes)
    ASSERT_TRUE(roundTrips(file));

    std::string text = disassemble(file);
    for (const char* want : {
             ".module hex 010e1b2835424f5c697683909daab7c4d1deebf8\n",
             ".widths superflag 4 skipcount 4 extra 4 locals 4 impls 4\n",   // the others need 4 anyway
             ".globals -3\n",
             ".class C0 super C1 flag 7\n    refs 1\n    arrays 2 ref 3 plain\n    skip 5 -1\n    width 2\n",
             ".class C2 super 40\n    width 4\n",
             "    checked -2\n",
             ".static \"na\\0me\\xFF\\\"\" 3 map -1\n",   // an address inside an instruction stays a number
             ".static \"end\" end map end\n",
             ".static \"end\" end_2 map end_2\n",
             ".static \"\" -7 map 99\n",
             ".virtual \"<x>.v\"    ; 1\n",
             "    impl 9 1000 map end_2\n",
             "    impl -3 2 map -1\n",
             ".string s1 \"\\xC3(\"\n",
             ".string s2 \"\\xED\\xA0\\x80\"\n",
             ".string s3 \"\\xC0\\xAF\"\n",
             ".string s4 \"\\xF4\\x90\\x80\\x80\"\n",
             ".string s5 \"caf\xC3\xA9 \xE2\x98\xBA \xF0\x9F\x98\x80\"\n",
             ".string s6 \"\\x01\\x1F\\x7F\\xC2\\x85\\t\\r\\n\\\"\\\\\"\n",
             ".string s7 \"\\xE2\\x82\"\n",
             ".string s8 \"a\\0b\"\n",
             "    .byte 56 ",
             "    jmp.s -1 ",
             "target 2 (inside an instruction)",
             "    jz.s -32768 ",
             "(outside the code)",
             "    jmp end ",
             "    call \"na\\0me\\xFF\\\"\" ",
             "    call end map end_2 ",
             "    vcall 1 ",
             "    try any, -16 ",
             "    .byte 200 ",
             "    .byte 255 ",
             "\nend:\n",
         })
        EXPECT_NE(text.find(want), std::string::npos) << "missing: " << want << "\n" << text;

    // Files the assembler would never choose: each width at 2 with small values,
    // an empty code section, nothing at all.
    EXPECT_TRUE(roundTrips(Bytes().header({2, 2, 2, 2, 2, 2, 2, 2, 2}).emptySections().b));
    EXPECT_TRUE(roundTrips(Bytes().header().emptySections().b));
    Bytes zeroId;
    zeroId.u8(20);
    for (int i = 0; i < 20; ++i)
        zeroId.u8(0);
    zeroId.raw({0xFF, 0xFF, 1, 1, 1, 1, 1, 1, 1, 1, 1}).emptySections();
    EXPECT_TRUE(roundTrips(zeroId.b));
    EXPECT_NE(disassemble(zeroId.b).find(".module \"\"\n"), std::string::npos);
    Bytes innerZero = Bytes().header();
    innerZero.b[2] = 0;   // "t\0st": not text
    EXPECT_TRUE(roundTrips(innerZero.emptySections().b));
    EXPECT_NE(disassemble(innerZero.b).find(".module hex 7400737400"), std::string::npos);
    Bytes fullId;
    fullId.u8(20);
    for (int i = 0; i < 20; ++i)
        fullId.u8('a' + i);
    fullId.raw({0xFF, 0xFF, 1, 1, 1, 1, 1, 1, 1, 1, 1}).emptySections();
    EXPECT_TRUE(roundTrips(fullId.b));

    // Native groups without a name, unknown strings and classes, opcodes
    // beyond the table.
    Bytes code = Bytes().header().emptySections();
    code.raw({78, 2, 1, 78, 0, 0, 78, 37, 0, 78, 0xFF, 0x80, 21, 5, 0, 0, 0, 22, 0xF9, 0xFF, 0xFF, 0xFF});
    code.raw({117, 0xFE, 0xFF, 0xFF, 0xFF, 100, 0, 0, 0, 255, 77, 0});
    ASSERT_TRUE(roundTrips(code.b));
    std::string codeText = disassemble(code.b);
    for (const char* want : {"native 2 1", "native 0 0", "native 37 0", "native -1 -128", "ldstr 5", "setclass -7",
                             "try -2, 100", ".byte 255", ".byte 77", "nop"})
        EXPECT_NE(codeText.find(want), std::string::npos) << want << "\n" << codeText;
}

TEST(AsmRoundTrip, ReaderMatchesTheLayout)
{
    std::vector<uint8_t> file = oddFile();
    file.resize(file.size() - 2);
    Module m = readModule(file);
    EXPECT_EQ(m.widths, (Widths{4, 4, 4, 4, 4, 4, 4, 4, 4}));
    ASSERT_EQ(m.statics.size(), 4u);
    EXPECT_EQ(m.statics[0].name, std::string("na\0me\xff\"", 7));
    EXPECT_EQ(m.statics[0].gcInfoIndex, -1);
    ASSERT_EQ(m.virtuals.size(), 3u);
    EXPECT_EQ(m.virtuals[0].impls, (std::vector<VirtualImpl>{{0, 0, 0}, {9, 1000, 1}}));
    EXPECT_TRUE(m.virtuals[1].impls.empty());
    EXPECT_EQ(m.globalWords, -3);
    ASSERT_EQ(m.classes.size(), 3u);
    EXPECT_EQ(m.classes[0].width, 2);
    EXPECT_EQ(m.classes[0].arrayFields, (std::vector<FlaggedSlot>{{255, 2}, {0, 3}}));
    EXPECT_EQ(m.classes[0].hasSuper, 7);
    EXPECT_EQ(m.classes[0].superIndex, 1);
    EXPECT_EQ(m.classes[0].skipped, (std::vector<int32_t>{5, -1}));
    EXPECT_EQ(m.classes[1].hasSuper, 0);
    ASSERT_EQ(m.maps.size(), 3u);
    EXPECT_EQ(m.maps[0].parameterSlots, 1);
    EXPECT_EQ(m.maps[0].checkedReferenceSlots, (std::vector<int32_t>{-2}));
    EXPECT_EQ(m.maps[0].arrayReferenceSlots, (std::vector<FlaggedSlot>{{255, 3}}));
    EXPECT_EQ(m.maps[0].extraSlots, 0);
    EXPECT_EQ(m.maps[0].localSlots, 2);
    EXPECT_EQ(m.maps[0].referenceSlots, (std::vector<int32_t>{4, 5}));
    EXPECT_EQ(m.maps[0].inlineArraySlots, (std::vector<FlaggedSlot>{{0, 6}}));
    EXPECT_EQ(m.maps[2].parameterSlots, 70000);
    EXPECT_EQ(m.maps[2].localSlots, 65535);
    ASSERT_EQ(m.strings.size(), 9u);
    EXPECT_EQ(m.strings[8], std::string("a\0b", 3));
    EXPECT_EQ(m.code.size(), 46u);

    // Widths 1 and 2 are unsigned, width 4 signed.
    Bytes w = Bytes().header({2, 1, 1, 1, 1, 1, 1, 1, 1});
    w.i32(1).str("f").coded(2, 0xFFFF).u8(0xFF).i32(0).i32(0).i32(0).i32(0).i32(0);
    Module u = readModule(w.b);
    EXPECT_EQ(u.statics[0].codeAddress, 65535);
    EXPECT_EQ(u.statics[0].gcInfoIndex, 255);
    EXPECT_TRUE(roundTrips(w.b));
}

TEST(AsmRoundTrip, RefusesFilesTheLoaderRefuses)
{
    std::vector<uint8_t> good = Bytes().header().emptySections().raw({20, 1, 0, 0, 0, 0}).b;
    ASSERT_TRUE(roundTrips(good));

    EXPECT_TRUE(refused({}, "module id length"));
    std::vector<uint8_t> f = good;
    f[0] = 19;
    EXPECT_TRUE(refused(f, "bad module id length 19"));
    f = good;
    f[22] = 0xFE;
    EXPECT_TRUE(refused(f, "bad magic"));
    for (int i = 0; i < 9; ++i)
        for (int bad : {0, 3, 8}) {
            f = good;
            f[23 + i] = static_cast<uint8_t>(bad);
            EXPECT_TRUE(refused(f, "bad header width")) << i << " " << bad;
        }

    // Every prefix that stops before the code is cut inside a section.
    size_t codeStart = good.size() - 6;
    for (size_t n = 0; n < codeStart; ++n)
        EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + n), "")) << n;
    // Inside the code, prefixes that end between instructions are valid files.
    for (size_t n = codeStart; n <= good.size(); ++n) {
        std::vector<uint8_t> p(good.begin(), good.begin() + n);
        bool boundary = n == codeStart || n == codeStart + 5 || n == good.size();
        if (boundary)
            EXPECT_TRUE(roundTrips(p)) << n;
        else
            EXPECT_TRUE(refused(p, "cut off")) << n;
    }

    // Record widths and flags.
    EXPECT_TRUE(refused(Bytes().header().i32(0).i32(0).i32(0).i32(1).u8(3).b, "bad class record width 3"));
    EXPECT_TRUE(refused(Bytes().header().i32(0).i32(0).i32(0).i32(0).i32(1).u8(0).b, "bad stack-map record width 0"));
    EXPECT_TRUE(refused(Bytes().header().i32(0).i32(0).i32(0).i32(1).u8(1).i32(0).i32(1).u8(7).u8(0).b,
                        "bad flag 7 in class array fields"));
    Bytes mapFlag = Bytes().header().i32(0).i32(0).i32(0).i32(0).i32(1).u8(1).u8(0).i32(0).i32(1).u8(1).u8(0);
    EXPECT_TRUE(refused(mapFlag.b, "bad flag 1 in stack-map array reference slots"));
    Bytes inlineFlag = Bytes().header().i32(0).i32(0).i32(0).i32(0).i32(1).u8(1).u8(0).i32(0).i32(0).u8(0).u8(0);
    inlineFlag.i32(0).i32(1).u8(128).u8(0);
    EXPECT_TRUE(refused(inlineFlag.b, "bad flag 128 in stack-map inline array slots"));

    // Negative counts, including the width-4 coded ones.
    EXPECT_TRUE(refused(Bytes().header().i32(-1).b, "negative static method count"));
    EXPECT_TRUE(refused(Bytes().header().i32(0).i32(1).str("v").b, "implementation count"));
    EXPECT_TRUE(refused(Bytes().header({1, 1, 1, 1, 1, 1, 1, 1, 4}).i32(0).i32(1).str("v").i32(-1).b,
                        "negative implementation count"));
    EXPECT_TRUE(refused(Bytes().header({1, 1, 1, 1, 4, 1, 1, 1, 1}).i32(0).i32(0).i32(0).i32(1).u8(1).i32(0).i32(0).u8(0).i32(-2).b,
                        "negative skipped class count"));
    EXPECT_TRUE(refused(Bytes().header().i32(1).i32(-5).b, "negative static method name"));
    // A huge count with nothing behind it fails on reading, without allocating.
    EXPECT_TRUE(refused(Bytes().header().i32(0x7FFFFFFF).b, "file ends inside"));
    EXPECT_TRUE(refused(Bytes().header().i32(0).i32(0).i32(0).i32(0).i32(0).i32(1).i32(0x7FFFFFFF).b, "string constant"));

    // Virtual call numbers must name one of the module's virtual methods.
    Bytes vcall = Bytes().header().i32(0).i32(1).str("v").u8(0).i32(0).i32(0).i32(0).i32(0);
    std::vector<uint8_t> ok = vcall.b;
    ok.insert(ok.end(), {15, 0, 0, 0, 0});
    EXPECT_TRUE(roundTrips(ok));
    std::vector<uint8_t> beyond = vcall.b;
    beyond.insert(beyond.end(), {15, 1, 0, 0, 0});
    EXPECT_TRUE(refused(beyond, "virtual method number 1 outside the module's 1 virtual methods"));
    std::vector<uint8_t> negative = vcall.b;
    negative.insert(negative.end(), {15, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_TRUE(refused(negative, "virtual method number -1"));
}

TEST(AsmRoundTrip, MutatedFilesRoundTripOrAreRefused)
{
    std::vector<std::vector<uint8_t>> seeds;
    for (const auto& p : samplePrograms())
        seeds.push_back(assemble(readText(p), p.string()));
    std::vector<uint8_t> odd = oddFile();
    odd.resize(odd.size() - 2);
    seeds.push_back(odd);

    std::mt19937 rng(12345);
    int accepted = 0, refusedCount = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        std::vector<uint8_t> f = seeds[rng() % seeds.size()];
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !f.empty(); ++e) {
            size_t at = rng() % f.size();
            switch (rng() % 5) {
            case 0: f[at] = static_cast<uint8_t>(rng()); break;
            case 1: f[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
            case 2: f.insert(f.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(rng())); break;
            case 3: f.erase(f.begin() + static_cast<std::ptrdiff_t>(at)); break;
            default: f.resize(at); break;
            }
        }
        std::string text;
        try {
            text = disassemble(f);
        } catch (const FormatError&) {
            ++refusedCount;
            continue;
        }
        ++accepted;
        ASSERT_TRUE(roundTrips(f)) << "iteration " << iter;
    }
    EXPECT_GT(accepted, 100);
    EXPECT_GT(refusedCount, 100);
}

#endif  // MCB_HAVE_ASM
