// The loader: every field of the file, relocation, and the failures that
// a malformed file must produce; then thousands of mutated programs.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "Drawable.h"
#include "IO/CAppsFileReader.h"
#include "Opcodes.h"
#include "VmTestSupport.h"

using namespace vm;

namespace {

// Writes a module file field by field (all header widths 1).
struct File {
    std::vector<uint8_t> b;
    File& u8(int v)
    {
        b.push_back(uint8_t(v));
        return *this;
    }
    File& i32(int32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
        return *this;
    }
    File& text(const std::string& s)
    {
        i32(int32_t(s.size()));
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    File& header(const char* id = "loader-test-module-0")
    {
        u8(20);
        for (int i = 0; i < 20; ++i)
            u8(id[i]);
        u8(0xFF).u8(0xFF);
        for (int i = 0; i < 9; ++i)
            u8(1);
        return *this;
    }
};

// A module with statics "::global::init" and "main" at 0 (map 0), one
// virtual "v" for module class 0 at 0, classes as given, one stack map.
File standard(int classes = 2)
{
    File f;
    f.header();
    f.i32(2).text("::global::init").u8(0).u8(0).text("main").u8(0).u8(0);
    f.i32(1).text("v").u8(1).u8(0).u8(0).u8(0);
    f.i32(0);  // globals
    f.i32(classes);
    for (int c = 0; c < classes; ++c) {
        f.u8(1).i32(1).u8(1).i32(1).u8(255).u8(2);  // refs [1], arrays [(ref, 2)]
        if (c == 0)
            f.u8(0).u8(0);  // no superclass, no skipped
        else
            f.u8(1).u8(0).u8(2).u8(5).u8(6);  // super 0, two skipped
    }
    f.i32(1).u8(1).u8(0).i32(0).i32(0).u8(0).u8(0).i32(0).i32(0);  // one empty stack map
    f.i32(1).text("caf\xC3\xA9");
    return f;
}

struct Loaded {
    bool ok = false;
    int index = -1;
};

Loaded load(VirtualMachine& vm, const std::vector<uint8_t>& bytes, const char* name = "index.mcb")
{
    CAppsFileReader reader(bytes.data(), TUint32(bytes.size()));
    Loaded l;
    l.ok = vm.loadModule(reader, CAppsString(name), l.index);
    return l;
}

}  // namespace

TEST(VmLoader, ReadsEveryFieldOfAWellFormedModule)
{
    File f = standard();
    f.u8(OP_RET).i32(0).i32(1);
    f.u8(OP_CALL).i32(0).i32(0);
    f.u8(OP_LDSTR).i32(0);
    f.u8(OP_SETCLASS).i32(1);
    f.u8(OP_VCALL).i32(0);
    f.u8(OP_TRY).i32(-1).i32(3);
    f.u8(56);  // no instruction: copied with no operands
    VirtualMachine vm;
    Loaded l = load(vm, f.b);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.index, 0);
    ASSERT_EQ(vm.methods.count(), 3);
    EXPECT_EQ(vm.methods[0].entries[0].classKey, -1);
    EXPECT_EQ(vm.methods[0].entries[0].codeAddress, 0);
    EXPECT_EQ(vm.methods[2].isVirtual, 1);
    EXPECT_EQ(vm.methods[2].entries[0].classKey, 1);  // module class 0 is class 1
    // Classes start at 1; a class without superclass has parent -1; index 0
    // was never filled.
    ASSERT_EQ(vm.classParents.count(), 3);
    EXPECT_EQ(vm.classParents[0], -2);
    EXPECT_EQ(vm.classParents[1], -1);
    EXPECT_EQ(vm.classParents[2], 1);
    EXPECT_EQ(vm.classReferenceFields[2][0], 1);
    EXPECT_EQ(vm.classArrayFields[2][0], 2);
    EXPECT_EQ(vm.classArrayFieldFlags[2][0], char(255));
    EXPECT_EQ(vm.stringPool[0].toUtf8(), "caf\xC3\xA9");
    EXPECT_EQ(vm.gcInfos.count(), 1);
    const uint8_t* code = vm.codeBytes();
    EXPECT_EQ(vm.codeLength(), 9 + 9 + 5 + 5 + 5 + 9 + 1);
    // setclass raised highestClassIndex; the vcall names the method-table entry.
    EXPECT_EQ(vm.highestClassIndex, 2);
    EXPECT_EQ(code[9 + 9 + 5 + 5 + 1], 2);
    EXPECT_EQ(code[9 + 9 + 5 + 5 + 5 + 9], 56);
}

TEST(VmLoader, AnEmptyCodeSectionLoadsAndTheSameModuleLoadsOnce)
{
    VirtualMachine vm;
    File f = standard();
    Loaded first = load(vm, f.b);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(vm.codeLength(), 0);
    // Same id and name: the first module, nothing read past the id (a
    // truncated file is fine).
    std::vector<uint8_t> idOnly(f.b.begin(), f.b.begin() + 21);
    Loaded again = load(vm, idOnly);
    EXPECT_TRUE(again.ok);
    EXPECT_EQ(again.index, 0);
    EXPECT_EQ(vm.modules.count(), 1);
    // Another name is another module, relocated after the first.
    Loaded other = load(vm, f.b, "other.mcb");
    ASSERT_TRUE(other.ok);
    EXPECT_EQ(other.index, 1);
    EXPECT_EQ(vm.methods.count(), 5);  // two more statics; "v" gains an entry
    EXPECT_EQ(vm.methods[2].entries.count(), 2);
    EXPECT_EQ(vm.methods[2].entries[1].classKey, 2);  // classBase = highest (1) + 1
}

TEST(VmLoader, MalformedFilesFailTheLoad)
{
    auto fails = [](const std::vector<uint8_t>& bytes) {
        VirtualMachine vm;
        return !load(vm, bytes).ok;
    };
    File good = standard();
    good.u8(OP_PUSH).i32(7);
    {
        VirtualMachine vm;
        ASSERT_TRUE(load(vm, good.b).ok);
    }
    std::vector<uint8_t> b;
    b = good.b;
    b[0] = 19;  // id length
    EXPECT_TRUE(fails(b));
    EXPECT_TRUE(fails(std::vector<uint8_t>(good.b.begin(), good.b.begin() + 10)));  // truncated id
    b = good.b;
    b[21] = 0xFE;  // magic
    EXPECT_TRUE(fails(b));
    for (int field = 23; field < 32; ++field) {
        b = good.b;
        b[size_t(field)] = 3;  // a width other than 1, 2, 4
        EXPECT_TRUE(fails(b)) << field;
    }
    EXPECT_TRUE(fails(std::vector<uint8_t>(good.b.begin(), good.b.end() - 1)));  // ends in an operand
    for (size_t cut = 22; cut + 6 < good.b.size(); cut += 3)  // every truncation before the code
        EXPECT_TRUE(fails(std::vector<uint8_t>(good.b.begin(), good.b.begin() + long(cut)))) << cut;

    auto replaced = [&](const std::vector<uint8_t>& pattern, const std::vector<uint8_t>& with) {
        std::vector<uint8_t> r = good.b;
        auto it = std::search(r.begin(), r.end(), pattern.begin(), pattern.end());
        EXPECT_NE(it, r.end());
        std::copy(with.begin(), with.end(), it);
        return r;
    };
    // A class record's offset width, an array flag, a stack map's flag.
    EXPECT_TRUE(fails(replaced({1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 255}, {3})));
    EXPECT_TRUE(fails(replaced({1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 255}, {1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 7})));
    File badMap;
    badMap.header();
    badMap.i32(0).i32(0).i32(0).i32(0);
    badMap.i32(1).u8(1).u8(0).i32(0).i32(1).u8(9).u8(0).u8(0).u8(0).i32(0).i32(0);
    badMap.i32(0);
    EXPECT_TRUE(fails(badMap.b));
    // A virtual call whose local number is outside the import list.
    File badCall = standard();
    badCall.u8(OP_VCALL).i32(1);
    EXPECT_TRUE(fails(badCall.b));
    // Counts larger than the file.
    File huge;
    huge.header();
    huge.i32(0x7FFFFFFF);
    EXPECT_TRUE(fails(huge.b));
    File negative;
    negative.header();
    negative.i32(-1);
    EXPECT_TRUE(fails(negative.b));
}

TEST(VmLoader, WidthCodedFieldsAreUnsignedUpToTwoBytesAndSignedAtFour)
{
    File f;
    f.u8(20);
    for (int i = 0; i < 20; ++i)
        f.u8('w');
    f.u8(0xFF).u8(0xFF);
    f.u8(2).u8(4).u8(1).u8(1).u8(1).u8(1).u8(1).u8(1).u8(1);  // code 2 bytes, map index 4 bytes
    f.i32(1).text("main").u8(0xFE).u8(0xFF).i32(-1);  // address 65534, map -1
    f.i32(0).i32(0).i32(0).i32(0).i32(0);
    VirtualMachine vm;
    ASSERT_TRUE(load(vm, f.b).ok);
    EXPECT_EQ(vm.methods[0].entries[0].codeAddress, 65534);
    EXPECT_EQ(vm.methods[0].entries[0].gcInfoIndex, -1);
}

TEST(VmLoader, RepeatedVirtualNamesMergeIntoTheFirstMethodOfThatName)
{
    // 30 000 virtual entries over 10 000 names, one of them the name of a
    // static method; vcalls name the merged methods.
    const int entries = 30000, names = 10000;
    File f;
    f.header();
    f.i32(2).text("main").u8(0).u8(0).text("n77").u8(0).u8(0);
    f.i32(entries);
    for (int i = 0; i < entries; ++i)
        f.text("n" + std::to_string((i * 7) % names)).u8(0);
    f.i32(0).i32(0).i32(0).i32(0);
    const int calls[] = {0, 1, 11, 9999, 10000, 29999};
    for (int local : calls)
        f.u8(OP_VCALL).i32(local);
    // The independent model: first appearance order, statics first.
    std::map<std::string, int> index{{"main", 0}, {"n77", 1}};
    std::vector<int> imports;
    for (int i = 0; i < entries; ++i) {
        std::string name = "n" + std::to_string((i * 7) % names);
        auto it = index.emplace(name, int(index.size())).first;
        imports.push_back(it->second);
    }
    VirtualMachine vm;
    ASSERT_TRUE(load(vm, f.b).ok);
    EXPECT_EQ(vm.methods.count(), names + 1);
    EXPECT_EQ(vm.methods[1].isVirtual, 0);  // "n77" stays the static method
    for (size_t k = 0; k < std::size(calls); ++k) {
        int32_t operand;
        std::memcpy(&operand, vm.codeBytes() + 5 * k + 1, 4);
        EXPECT_EQ(operand, imports[size_t(calls[k])]) << calls[k];
    }
    EXPECT_EQ(vm.methods[imports[29999]].name, CAppsString(("n" + std::to_string((29999 * 7) % names)).c_str()));
}

namespace {

// Every event the host can send, to whatever application object and timers
// a run left; errors and the end of the run are what a host would see.
void deliverEverything(VirtualMachine& vm, TestHost& host)
{
    auto guarded = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const TerminationSignal&) {
        } catch (const ErrorHandlingException&) {
            clearPendingError();
        }
    };
    guarded([&] { vm.deliverPointer(0, 1, 2, 0); });
    guarded([&] { vm.deliverKey(65, 38, 0, OString("a"), true); });
    guarded([&] { vm.deliverKey(65, 38, 0, OString("a"), false); });
    guarded([&] { vm.deliverForeground(); });
    guarded([&] { vm.deliverBackground(); });
    guarded([&] { vm.deliverDraw(createGraphicsDrawable(vm.heap(), 0)); });
    for (auto [id, listener] : std::map<int, Word>(host.timers))
        guarded([&] { vm.deliverTimer(listener, id); });
    guarded([&] { vm.heap().collect(); });
}

}  // namespace

TEST(VmLoader, MutatedProgramsNeverCrashOrHang)
{
    // Thousands of random mutations of the test programs: each is loaded and,
    // when it loads, run with a bounded number of jumps; then every event is
    // delivered. A third of the runs mutate the program with handlers for
    // every event, so that deliveries run bytecode too.
    std::vector<std::vector<uint8_t> > seeds;
    size_t events = 0;
    for (auto& entry : std::filesystem::directory_iterator(std::string(MCB_SOURCE_DIR) + "/tests/asm/vm")) {
        if (entry.path().extension() != ".mcbs")
            continue;
        if (entry.path().stem() == "events")
            events = seeds.size();
        seeds.push_back(assembleOrFail(readFile(entry.path().string())));
    }
    ASSERT_GT(seeds.size(), events);
    {
        // Unmutated, every delivery reaches its handler.
        TestHost host;
        VirtualMachine vm;
        ASSERT_EQ(runProgram(seeds[events], host, vm), "ok");
        deliverEverything(vm, host);
        EXPECT_EQ(host.logs, (std::vector<std::string>{"10", "1", "3", "2", "3", "4", "5", "6", "7"}));
    }
    std::mt19937 rng(20261207);
    int loaded = 0, delivered = 0;
    const int runs = 1500;
    testing::internal::CaptureStderr();
    for (int i = 0; i < runs; ++i) {
        std::vector<uint8_t> bytes = seeds[i % 3 == 0 ? events : rng() % seeds.size()];
        int mutations = 1 + int(rng() % 4);
        for (int m = 0; m < mutations; ++m) {
            size_t at = rng() % bytes.size();
            switch (rng() % 6) {
            case 0:
                bytes[at] = uint8_t(rng());
                break;
            case 1:
                bytes[at] ^= uint8_t(1u << (rng() % 8));
                break;
            case 2:
                if (at >= 22)
                    bytes.resize(at);
                break;
            case 3:
                bytes.insert(bytes.begin() + long(at), uint8_t(rng()));
                break;
            case 4: {  // an interesting word
                static const uint32_t words[] = {0, 1, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0x10000, 15255, 16};
                uint32_t w = words[rng() % 8];
                for (int k = 0; k < 4 && at + size_t(k) < bytes.size(); ++k)
                    bytes[at + size_t(k)] = uint8_t(w >> (8 * k));
                break;
            }
            default:  // mutate the code, which lies at the end
                if (bytes.size() > 40)
                    bytes[bytes.size() - 1 - rng() % 40] = uint8_t(rng());
                break;
            }
            if (bytes.empty())
                bytes.push_back(20);
        }
        TestHost host;
        VirtualMachine vm;
        vm.setStepLimit(2000);
        vm.setGcStress(false);  // stress collections are not what this test is about
        std::string outcome = runProgram(bytes, host, vm);
        if (outcome != "error UnknownException (CODE:11)")
            ++loaded;
        size_t logged = host.logs.size();
        deliverEverything(vm, host);
        if (host.logs.size() > logged)
            ++delivered;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_GT(loaded, runs / 10);
    EXPECT_GT(delivered, runs / 20);
}
