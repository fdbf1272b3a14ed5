// The pre-decoded stream and its superinstructions: which positions start a
// sequence, and that a program has the same effect with superinstructions
// as without them (results, errors with their positions, every stack word),
// on chosen cases and on many random programs that jump anywhere.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "Opcodes.h"
#include "Predecode.h"
#include "VmTestSupport.h"

using namespace vm;

namespace {

TEST(VmPredecodeTest, MarksEverySequenceStartAndDecodesEachByteOnItsOwn)
{
    // ldaddr.s -1; inc.i | push 0x20 (an inc.i byte inside the operand); ldind; jz.s +0
    std::vector<uint8_t> code = {OP_LDADDR_S, 0xFF, OP_INC_I, OP_PUSH, 0x20, 0, 0, 0, OP_LDIND, OP_JZ_S, 0, 0};
    code.resize(code.size() + 16, 0xFF);
    std::vector<uint8_t> d = predecode(code.data(), code.size(), true);
    ASSERT_EQ(d.size(), code.size());
    EXPECT_EQ(d[0], superCode(SUPER_INC_SLOT));
    EXPECT_EQ(d[1], kInvalidDispatch);  // 0xFF
    EXPECT_EQ(d[2], OP_INC_I);
    EXPECT_EQ(d[3], OP_PUSH);           // push, then ldind: no sequence
    EXPECT_EQ(d[4], OP_INC_I);          // the operand byte 0x20 decodes as inc.i
    EXPECT_EQ(d[5], OP_NOP);
    EXPECT_EQ(d[8], superCode(SUPER_LDIND_JZ));
    EXPECT_EQ(d[9], OP_JZ_S);
    EXPECT_EQ(d[10], OP_NOP);
    EXPECT_EQ(d[12], kInvalidDispatch);

    std::vector<uint8_t> plain = predecode(code.data(), code.size(), false);
    EXPECT_EQ(plain[0], OP_LDADDR_S);
    EXPECT_EQ(plain[8], OP_LDIND);
}

TEST(VmPredecodeTest, SequenceStartsAndCodesThatAreNoOpcodes)
{
    // ldslot.s; push; lt; jz.s: a compare-and-branch at 0, nothing at 1 or 2.
    std::vector<uint8_t> code = {OP_LDSLOT_S, 0xFE, OP_PUSH, 5, 0, 0, 0, OP_LT, OP_JZ_S, 0xF0, 0xFF};
    code.resize(code.size() + 16, 0xFF);
    EXPECT_EQ(superAt(code.data(), code.size(), 0), SUPER_SLOT_LT_JZ);
    EXPECT_EQ(superAt(code.data(), code.size(), 1), -1);
    EXPECT_EQ(superAt(code.data(), code.size(), 2), -1);
    for (int k = 0; k < kSuperCount; ++k) {
        EXPECT_FALSE(isInstruction(superCode(k))) << k;
        EXPECT_NE(superCode(k), kInvalidDispatch);
    }
}

struct Outcome {
    std::string result;
    std::string errors;  // fatal lines with their positions
    std::vector<std::string> logs;
    std::vector<int32_t> stack;
};

Outcome runWith(const std::vector<uint8_t>& bytes, bool superinstructions, int64_t steps)
{
    TestHost host;
    VirtualMachine machine;
    machine.setSuperinstructions(superinstructions);
    machine.setStepLimit(steps);
    Outcome o;
    testing::internal::CaptureStderr();
    o.result = runProgram(bytes, host, machine);
    o.errors = testing::internal::GetCapturedStderr();
    o.logs = host.logs;
    o.stack.assign(machine.stack(), machine.stack() + VirtualMachine::kStackWords);
    return o;
}

// A program whose main has `locals` zeroed slots, slot 1 holding a 16-word
// block, then `body`; with `globals` words of globals (0: none, a null
// globals word) and `refs` the stack map's reference slots.
std::string program(const std::string& body, int locals = 8, int globals = 4, const std::string& refs = "")
{
    std::ostringstream out;
    out << ".module \"super\"\n";
    if (globals > 0)
        out << ".globals " << globals << "\n";
    out << ".map m params 0 extra 0 locals " << locals << (refs.empty() ? "" : " refs " + refs) << "\n"
        << ".map m0 params 0 extra 0 locals 0\n"
        << ".static \"main\" main map m\n.static \"::global::init\" init map m0\n"
        << ".code\ninit:\n    ret 0, 1\nmain:\n    adjust " << locals << "\n"
        << "    ldaddr.s -" << locals << "\n    new 2, 16\n    stind\n"
        << body << "\n    ret " << locals << ", " << locals + 1 << "\n";
    return out.str();
}

// Runs the program both ways; returns the outcome with superinstructions.
Outcome expectSameBothWays(const std::string& source, int64_t steps = 100000)
{
    std::vector<uint8_t> bytes = assembleOrFail(source);
    Outcome fused = runWith(bytes, true, steps);
    Outcome plain = runWith(bytes, false, steps);
    EXPECT_EQ(fused.result, plain.result) << source;
    EXPECT_EQ(fused.errors, plain.errors) << source;
    EXPECT_EQ(fused.logs, plain.logs) << source;
    EXPECT_TRUE(fused.stack == plain.stack) << source;
    return fused;
}

TEST(VmSuperinstructionTest, LoopsComputeTheirResults)
{
    // acc += i for i < 1000; sum of multiples marked in the block.
    Outcome o = expectSameBothWays(program(R"(
loop:
    ldaddr.s -1
    ldslot.s -3
    add.i
    ldaddr.s -2
    inc.i
    ldslot.s -2
    push 1000
    ge
    jz.s loop
    ldslot.s -1
    itos
    native Debug 1
mark:                       ; block[j] = 7 for j = 3, 6, ... 15
    ldaddr.s -3
    ldslot.s -4
    push 3
    add
    stind
    ldslot.s -8
    ldslot.s -4
    push 2
    shl
    add
    push 7
    stind
    ldslot.s -3
    push 15
    lt
    jz.s done
    jmp.s mark
done:
    ldslot.s -8
    field.s 15
    ldind
    jz.s zero
    ldstr "marked"
    native Debug 1
zero:
)"));
    EXPECT_EQ(o.result, "ok");
    ASSERT_EQ(o.logs.size(), 2u);
    EXPECT_EQ(o.logs[0], "499500");
    EXPECT_EQ(o.logs[1], "marked");
}

TEST(VmSuperinstructionTest, FaultsNameTheInstructionThatFails)
{
    // Each body faults inside a sequence: a slot outside the stack, a store
    // through address 0 and 0x1000, a load through a small integer, the
    // stack full before the third word of a sequence, the step limit on a
    // backward branch of a fused compare.
    const char* const bodies[] = {
        "    ldaddr.s -100\n    inc.i\n",
        "    ldaddr.s -1\n    ldslot.s -120\n    add.i\n",
        "    ldslot.s -1\n    ldslot.s -90\n    push 2\n    shl\n    add\n",
        "    ldzero\n    push 5\n    stind\n",
        "    push 0x1000\n    push 5\n    stind\n",
        "    push 12\n    ldind\n    jz.s 0\n",
        "    adjust 15245\n    ldslot.s -1\n    ldslot.s -1\n    push 2\n    shl\n    add\n",
        "    adjust 15246\n    ldslot.s -1\n    push 2\n    lt\n    jz.s 0\n",
        "    adjust 15247\n    ldaddr.s -1\n    inc.i\n",
        "back:\n    ldslot.s -2\n    push 1\n    gt\n    jz.s back\n",
    };
    for (const char* body : bodies) {
        Outcome o = expectSameBothWays(program(body), 50);
        EXPECT_NE(o.result, "ok") << body;
    }
}

TEST(VmSuperinstructionTest, OperandsThatNameTheSequencesOwnWords)
{
    // Slot operands 0 and above name the words the sequence itself pushes;
    // shifts out of range; branches into the middle of a sequence.
    expectSameBothWays(program(R"(
    ldaddr.s 0
    ldslot.s -1
    add.i
    ldaddr.s 0
    inc.i
    ldaddr.s 1
    ldslot.s 0
    sub.i
    ldaddr.s 0
    ldslot.s 0
    stind
    ldslot.s 0
    push 40
    add
    ldslot.s -9
    ldslot.s 0
    push 33
    shl
    add
    ldslot.s -10
    ldslot.s -1
    push -1
    shl
    add
    ldslot.s 0
    push 0
    eq
    jz.s 3
    ldslot.s -1
    push 7
    ne
    jz.s -9
    ldaddr.s -4
    dec.i
    push 9
    ldslot.s -5
    push 4
    le
    jz.s -9
)"));
}

TEST(VmSuperinstructionTest, FixedNativesAsTheGroupRunsThem)
{
    // acc = acc * 1.5 + 0.25 through a variable, the compound forms on the
    // variable, then the same calls with a null address and with too few
    // words on the stack.
    Outcome o = expectSameBothWays(program(R"(
    ldaddr.s -7             ; slot 2..3: the fixed variable 2.0
    push2 0, 2
    storen.s 2
    ldaddr.s -7
    native Fixed 1
    push2 0x80000000, 1
    native Fixed 9
    push2 0x40000000, 0
    native Fixed 7
    push2 0x40000000, 0
    native Fixed 8
    ldaddr.s -9
    ldslot.s -3
    ldslot.s -3
    storen.s 2
    adjust.s -2
    ldaddr.s -7
    push2 0, 3
    native Fixed 12
    ldaddr.s -7
    push2 0, 1
    native Fixed 13
    ldaddr.s -7
    push2 0x80000000, 0
    native Fixed 14
    ldslot.s -6
    itos
    native Debug 1
    ldslot.s -7
    itos
    native Debug 1
)"));
    EXPECT_EQ(o.result, "ok");
    // 2 * 1.5 + 0.25 - 0.25 = 3; (3 + 3 - 1) * 0.5 = 2.5: high word 2, low 2^31.
    ASSERT_EQ(o.logs.size(), 2u);
    EXPECT_EQ(o.logs[0], "2");
    EXPECT_EQ(o.logs[1], "-2147483648");

    const char* const faults[] = {
        "    ldzero\n    native Fixed 1\n",
        "    ldzero\n    push2 0, 1\n    native Fixed 12\n",
        "    push 0x1000\n    push2 0, 1\n    native Fixed 14\n",
        "    adjust.s -8\n    native Fixed 9\n",
        "    adjust.s -8\n    native Fixed 13\n",
        "    adjust 15246\n    ldaddr.s -1\n    native Fixed 1\n",
    };
    for (const char* body : faults)
        EXPECT_NE(expectSameBothWays(program(body)).result, "ok") << body;
}

TEST(VmSuperinstructionTest, VectorNativesAsTheGroupsRunThem)
{
    // Slot 2: an int vector, slot 3: a reference vector (the stack map says
    // so, for collections under GC stress). 5 7 9 appended to
    // each; element 1 read by value and through its address; element 0
    // removed; the counts. Groups 3 and 7 differ in what codes 6 and 8 leave.
    Outcome o = expectSameBothWays(program(R"(
    ldaddr.s -7
    new 6, 2
    dup
    newvec 4
    stind
    ldaddr.s -6
    new 7, 2
    dup
    newvec 4
    stind
    ldslot.s -7
    push 5
    native Vector32 19
    ldslot.s -7
    push 7
    native Vector32 19
    ldslot.s -7
    push 9
    native Vector32 19
    ldslot.s -6
    push 5
    native ObjectVector 19
    ldslot.s -6
    push 7
    native ObjectVector 19
    ldslot.s -6
    push 9
    native ObjectVector 19
    ldslot.s -7
    push 1
    native Vector32 8       ; V 7
    itos
    native Debug 1
    itos                    ; V stays under the element
    native Debug 1
    ldslot.s -7
    push 2
    native Vector32 6
    ldind
    itos
    native Debug 1
    ldslot.s -6
    push 1
    native ObjectVector 6
    itos
    native Debug 1
    ldslot.s -6
    push 2
    native ObjectVector 8
    itos
    native Debug 1
    ldslot.s -7
    ldzero
    native Vector32 21
    ldslot.s -7
    native Vector32 11
    itos
    native Debug 1
    ldslot.s -7
    ldzero
    native Vector32 8
    itos
    native Debug 1
    adjust.s -1
    ldslot.s -6
    native ObjectVector 11
    itos
    native Debug 1
)", 8, 4, "2 3"));
    EXPECT_EQ(o.result, "ok") << o.errors;
    const std::vector<std::string> expected = {"7", "", "9", "7", "9", "2", "7", "3"};
    ASSERT_EQ(o.logs.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].empty())
            EXPECT_NE(o.logs[i], "7");  // the holder's address, not the element
        else
            EXPECT_EQ(o.logs[i], expected[i]) << i;
    }

    // Index out of range, a null or forged holder, a record scribbled over,
    // too few words: each raises the group's error at the call, both ways.
    const std::string vector = "    ldaddr.s -7\n    new 6, 2\n    dup\n    newvec 4\n    stind\n"
                               "    ldslot.s -7\n    push 4\n    native Vector32 19\n";
    const std::string faults[] = {
        vector + "    ldslot.s -7\n    push 1\n    native Vector32 8\n",
        vector + "    ldslot.s -7\n    push -1\n    native Vector32 6\n",
        vector + "    ldslot.s -7\n    push 1\n    native Vector32 21\n",
        vector + "    ldslot.s -7\n    push 1\n    native ObjectVector 6\n",
        "    ldzero\n    push 3\n    native Vector32 19\n",
        "    ldzero\n    native ObjectVector 11\n",
        "    ldslot.s -8\n    push 3\n    native Vector32 19\n",
        vector + "    ldslot.s -7\n    ldind\n    field.s 3\n    push 99\n    stind\n"
                 "    ldslot.s -7\n    push 50\n    native Vector32 6\n",
        "    adjust.s -8\n    native Vector32 19\n",
        "    adjust.s -8\n    native ObjectVector 8\n",
    };
    for (const std::string& body : faults)
        EXPECT_NE(expectSameBothWays(program(body, 8, 4, "2 3")).result, "ok") << body;
}

// Random programs from the instructions the sequences are made of, with
// operands that reach the sequences' own words and branches that land
// anywhere, inside instructions too. Stack words, results and error
// positions must not depend on superinstructions.
TEST(VmSuperinstructionTest, RandomProgramsBehaveTheSameWithout)
{
    std::mt19937 random(20261208);
    auto pick = [&](std::initializer_list<int> values) {
        return *(values.begin() + std::uniform_int_distribution<size_t>(0, values.size() - 1)(random));
    };
    auto slot = [&] { return pick({-9, -8, -5, -3, -2, -1, 0, 1, 3}); };
    auto constant = [&] { return pick({0, 1, 2, 3, 7, 31, 32, -1, -40, 1000}); };
    const char* const compares[] = {"lt", "le", "gt", "ge", "eq", "ne"};
    const char* const assignments[] = {"add.i", "sub.i", "stind"};
    const char* const globalUses[] = {"ldind",           "push 5\n    stind", "inc.i", "dec.i", "ldind\n    jz.s -4",
                                      "ldind\n    jz.s 3\n    jmp.s -14", "ldind\n    jz.s -9\n    jmp.s 2"};
    for (int n = 0; n < 300; ++n) {
        std::ostringstream body;
        int length = std::uniform_int_distribution<int>(4, 30)(random);
        for (int k = 0; k < length; ++k) {
            switch (std::uniform_int_distribution<int>(0, 15)(random)) {
            case 0: body << "    ldslot.s " << slot() << "\n    ldslot.s " << slot() << "\n    push "
                         << pick({2, 2, 0, 33, -2}) << "\n    shl\n    add\n"; break;
            case 1: body << "    ldslot.s " << slot() << "\n    push " << constant() << "\n    "
                         << compares[random() % 6] << "\n    jz.s " << pick({-30, -11, -3, 0, 2, 5}) << "\n";
                    break;
            case 2: body << "    ldaddr.s " << slot() << "\n    ldslot.s " << slot() << "\n    "
                         << assignments[random() % 3] << "\n"; break;
            case 3: body << "    ldslot.s " << slot() << "\n    push " << constant() << "\n    "
                         << (random() % 2 ? "add" : "sub") << "\n"; break;
            case 4: body << "    ldaddr.s " << slot() << "\n    " << (random() % 2 ? "inc.i" : "dec.i") << "\n"; break;
            case 5: body << "    ldslot.s -8\n    field.s " << pick({0, 3, 15, 16}) << "\n    push "
                         << constant() << "\n    stind\n"; break;
            case 6: body << "    ldslot.s " << slot() << "\n    ldind\n    jz.s " << pick({-7, 0, 1, 4}) << "\n"; break;
            case 7: body << "    push " << constant() << "\n"; break;
            case 8: body << "    adjust.s " << pick({-2, -1, 1, 2}) << "\n"; break;
            case 9: body << "    jmp.s " << pick({-20, -5, -1, 1, 3}) << "\n"; break;
            case 10: body << "    .byte " << pick({1, 3, 10, 26, 34, 255}) << "\n"; break;
            case 11: body << "    globals\n    field.s " << pick({0, 3, 4, -40}) << "\n    "
                          << globalUses[random() % 7] << "\n"; break;
            case 12: body << "    push2 " << constant() << ", " << constant() << "\n    native Fixed "
                          << pick({7, 8, 9}) << "\n"; break;
            case 13: body << "    ldaddr.s " << slot() << "\n    native Fixed 1\n"; break;
            case 14: body << "    globals\n    dup\n    adjust.s " << pick({-2, -1}) << "\n"; break;
            default: body << "    ldslot.s " << slot() << "\n    itos\n    native Debug 1\n"; break;
            }
        }
        expectSameBothWays(program(body.str(), 8, n % 5 == 0 ? 0 : 4), 200);
        if (HasFailure())
            return;
    }
}

}  // namespace
