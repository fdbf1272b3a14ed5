// Vector groups 1 and 3-7 driven in-process on the operand stack: the stack
// effect of every code for every element kind, ranges and their errors, the
// storage and shrink rules, scribbled records, and a differential run of
// random operations against std::vector. Under MCB_GC_STRESS every call is
// followed by a full collection with the stack, the test's vectors being
// rooted only through their holders.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Containers/OVector.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

using namespace vm;

namespace {

using Pair = std::pair<int, std::string>;
using Elem = std::vector<Word>;  // one element as its stack words
using Items = std::vector<Elem>;

constexpr Word kSentinel = 0x5EED;
constexpr int kPc = 321;

struct Kind {
    int group;
    int words;        // stack words per element
    uint32_t bytes;   // bytes per element
    bool references;  // group 7
    const char* name;
};

void PrintTo(const Kind& kind, std::ostream* os)
{
    *os << kind.name;
}

const Kind kKinds[] = {
    {1, 1, 1, false, "Bytes"}, {3, 1, 4, false, "Words"},   {4, 2, 8, false, "Pairs"},
    {5, 3, 12, false, "Triples"}, {6, 4, 16, false, "Quads"}, {7, 1, 4, true, "References"},
};

const Pair kVectorError{10, "VMException: Vector:" + std::to_string(kPc)};
const Pair kIndex{2, "IndexOutOfBoundsException"};
const Pair kRange{5, "RangeException"};
const Pair kArgument{6, "InvalidArgumentException"};
const Pair kNull{1, "NullPointerException: NULL pointer"};

class VmVectorNatives : public ::testing::TestWithParam<Kind> {
protected:
    VirtualMachine vm;
    VMHeap& heap = vm.heap();
    Kind k = GetParam();
    bool primitive = !GetParam().references;

    void SetUp() override
    {
        vm.pc = kPc;
        vm.push(kSentinel);
    }
    void TearDown() override { EXPECT_EQ(vm.stack()[0], kSentinel); }

    // Element number i: distinct words, negative ones included; bytes as
    // sign-extended values. Reference elements stay below the lowest heap
    // address, so the collector takes them for words that name no block.
    Elem elem(int i) const
    {
        Elem e;
        for (int w = 0; w < k.words; ++w) {
            if (k.bytes == 1)
                e.push_back(Word(int8_t(i * 37 + 5)));
            else
                e.push_back((i * 100 + w + 1) * (w % 2 ? -1 : 1));
        }
        return e;
    }
    Items elems(int from, int n) const
    {
        Items items;
        for (int i = 0; i < n; ++i)
            items.push_back(elem(from + i));
        return items;
    }
    // A rooted vector holding items (made through the vector API).
    Addr vec(const Items& items)
    {
        OVector v = OVector::create(heap, k.bytes, int(items.size()), k.references);
        for (size_t i = 0; i < items.size(); ++i)
            store(v.elementAddress(int(i)), items[i]);
        heap.addRoot(v.holder());
        return v.holder();
    }
    Addr vec(int n, int from = 0) { return vec(elems(from, n)); }
    void store(Addr a, const Elem& e)
    {
        for (int w = 0; w < k.words; ++w) {
            if (k.bytes == 1)
                vm.space().storeByte(a, e[0]);
            else
                vm.space().storeWord(a + 4u * uint32_t(w), e[size_t(w)]);
        }
    }
    Elem load(Addr a)
    {
        Elem e;
        for (int w = 0; w < k.words; ++w)
            e.push_back(k.bytes == 1 ? Word(vm.space().loadByte(a)) : vm.space().loadWord(a + 4u * uint32_t(w)));
        return e;
    }
    Items contents(Addr holder)
    {
        OVector v = OVector::ofHolder(heap, holder, k.bytes);
        Items items;
        for (int i = 0; i < v.count(); ++i)
            items.push_back(load(v.elementAddress(i)));
        return items;
    }
    Word word(Addr a, int i) { return vm.space().loadWord(a + 4u * uint32_t(i)); }
    Addr recordOf(Addr holder) { return Addr(word(holder, 0)); }
    Word capacityOf(Addr holder) { return word(recordOf(holder), 2); }
    // A rooted holder with no vector yet, as bytecode allocates for O.
    Addr cell()
    {
        Addr c = heap.alloc(8, 0, k.references ? GC_CODE_OBJECT_ARRAY : GC_CODE_ARRAY);
        heap.addRoot(c);
        return c;
    }

    void reset() { vm.top = 0; }
    void push(std::initializer_list<Word> words)
    {
        for (Word w : words)
            vm.push(w);
    }
    void push(const Elem& e)
    {
        for (Word w : e)
            vm.push(w);
    }
    void call(int code)
    {
        vm.callNative(k.group, code);
        if (vm.gcStress())
            vm.collectWithStack();
    }
    // The error a call raises; the stack is emptied down to the sentinel.
    Pair callError(int code)
    {
        Pair r = errorOf([&] { vm.callNative(k.group, code); });
        reset();
        return r;
    }
    // The stack above the sentinel.
    std::vector<Word> stack() { return std::vector<Word>(vm.stack() + 1, vm.stack() + vm.top + 1); }
    static std::vector<Word> concat(std::initializer_list<Word> head, const Elem& e)
    {
        std::vector<Word> out(head);
        out.insert(out.end(), e.begin(), e.end());
        return out;
    }
    Items join(std::initializer_list<Items> parts)
    {
        Items out;
        for (const Items& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    }
    // Box -> holder -> vector: the items of a boxed result.
    Items boxed(Word box)
    {
        EXPECT_EQ(heap.gcCodeOf(Addr(box)), GC_CODE_REFERENCE);
        Addr holder = Addr(word(Addr(box), 0));
        EXPECT_EQ(heap.gcCodeOf(holder), k.references ? GC_CODE_OBJECT_ARRAY : GC_CODE_ARRAY);
        EXPECT_EQ(word(holder, 1), 0);
        return contents(holder);
    }
};

std::string kindName(const ::testing::TestParamInfo<Kind>& info)
{
    return info.param.name;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Vm, VmVectorNatives, ::testing::ValuesIn(kKinds), kindName);

TEST_P(VmVectorNatives, CopyIntoACell)
{
    Addr v = vec(3), o = cell();
    push({Word(o), Word(v)});
    call(2);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(o), elems(0, 3));
    EXPECT_NE(recordOf(o), recordOf(v));
    EXPECT_EQ(capacityOf(o), 10);
    // The copy is independent of the original.
    push({Word(o)});
    push(elem(9));
    call(19);
    EXPECT_EQ(contents(v), elems(0, 3));
    EXPECT_EQ(contents(o).size(), 4u);

    push({0, Word(v)});
    EXPECT_EQ(callError(2), kNull);
    push({Word(o), 0});
    EXPECT_EQ(callError(2), kNull);
}

TEST_P(VmVectorNatives, CopiesOfOneElement)
{
    Addr o = cell();
    push({Word(o)});
    push(elem(7));
    push({25});
    call(3);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(o), Items(25, elem(7)));
    EXPECT_EQ(capacityOf(o), 30);

    push({Word(o)});
    push(elem(7));
    push({0});
    call(3);
    EXPECT_TRUE(contents(o).empty());
    EXPECT_EQ(word(recordOf(o), 1), 0) << "no array";

    push({Word(o)});
    push(elem(7));
    push({-1});
    EXPECT_EQ(callError(3), kArgument);
    int entries = heap.nOfEntries();
    push({Word(o)});
    push(elem(7));
    push({INT32_MAX});
    EXPECT_EQ(callError(3), Pair(10, "VMException: Out of memory"));
    EXPECT_EQ(heap.nOfEntries(), entries) << "nothing allocated";
}

TEST_P(VmVectorNatives, CodeFourDoesNothing)
{
    push({1, 2, 3});
    call(4);
    EXPECT_EQ(stack(), (std::vector<Word>{1, 2, 3}));
}

TEST_P(VmVectorNatives, EveryIthElement)
{
    Addr v = vec(7), o = cell();
    struct Case { int step; std::vector<int> picked; };
    for (const Case& c : {Case{3, {0, 3, 6}}, Case{2, {0, 2, 4, 6}}, Case{7, {0}}, Case{9, {0}}, Case{1, {0, 1, 2, 3, 4, 5, 6}}}) {
        reset();
        push({Word(o), Word(v), c.step});
        call(5);
        EXPECT_EQ(stack(), std::vector<Word>{});
        Items expected;
        for (int i : c.picked)
            expected.push_back(elem(i));
        EXPECT_EQ(contents(o), expected) << c.step;
    }
    push({Word(o), Word(vec(0)), 4});
    call(5);
    EXPECT_TRUE(contents(o).empty());
    for (int step : {0, -2}) {
        push({Word(o), Word(v), step});
        EXPECT_EQ(callError(5), kArgument);
    }
}

TEST_P(VmVectorNatives, ElementAccessByIndex)
{
    Addr v = vec(3);
    OVector view = OVector::ofHolder(heap, v, k.bytes);
    // 6: the address (references: the value) replaces V.
    push({Word(v), 2});
    call(6);
    EXPECT_EQ(stack(), primitive ? std::vector<Word>{Word(view.elementAddress(2))} : elem(2));
    // 8: primitive groups leave V and put the element's words above it.
    reset();
    push({Word(v), 1});
    call(8);
    EXPECT_EQ(stack(), primitive ? concat({Word(v)}, elem(1)) : elem(1));
    // 7: the address, for reference vectors only.
    reset();
    push({Word(v), 1});
    if (primitive) {
        EXPECT_EQ(callError(7), kVectorError);
    } else {
        call(7);
        EXPECT_EQ(stack(), std::vector<Word>{Word(view.elementAddress(1))});
    }
    for (int code : {6, 7, 8}) {
        if (code == 7 && primitive)
            continue;
        for (int index : {3, -1}) {
            reset();
            push({Word(v), index});
            EXPECT_EQ(callError(code), kIndex) << code << " " << index;
        }
    }
    // A store through the address changes the element.
    reset();
    push({Word(v), 0});
    call(primitive ? 6 : 7);
    store(Addr(vm.stack()[1]), elem(42));
    EXPECT_EQ(contents(v), join({{elem(42)}, elems(1, 2)}));
}

TEST_P(VmVectorNatives, FirstLastCountAndEmptiness)
{
    Addr v = vec(3), empty = vec(0);
    push({Word(v)});
    call(9);
    EXPECT_EQ(stack(), elem(0));
    reset();
    push({Word(v)});
    call(10);
    EXPECT_EQ(stack(), elem(2));
    reset();
    push({Word(v)});
    call(11);
    EXPECT_EQ(stack(), std::vector<Word>{3});
    reset();
    push({Word(v)});
    call(12);
    EXPECT_EQ(stack(), std::vector<Word>{0});
    reset();
    push({Word(empty)});
    call(12);
    EXPECT_EQ(stack(), std::vector<Word>{1});
    reset();
    for (int code : {9, 10}) {
        push({Word(empty)});
        EXPECT_EQ(callError(code), kIndex);
    }
    push({0});
    EXPECT_EQ(callError(11), kNull);
}

TEST_P(VmVectorNatives, InsertingVectorsAndParts)
{
    Addr v = vec(3), w = vec(5, 10);
    push({Word(v), Word(w), 1});
    call(13);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), join({{elem(0)}, elems(10, 5), elems(1, 2)}));
    EXPECT_EQ(contents(w), elems(10, 5));
    for (int index : {9, -1}) {
        push({Word(v), Word(w), index});
        EXPECT_EQ(callError(13), kIndex);
    }

    Addr a = vec(3);
    push({Word(a), Word(w), 1, 2, 0});  // W's elements 1..2 at the front
    call(14);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(a), join({elems(11, 2), elems(0, 3)}));
    push({Word(a), Word(w), 3, -1, 5});  // 3 to the end, at the end
    call(14);
    EXPECT_EQ(contents(a), join({elems(11, 2), elems(0, 3), elems(13, 2)}));
    Items before = contents(a);
    push({Word(a), Word(w), 4, 3, 99});  // invalid part: nothing, whatever the index
    call(14);
    push({Word(a), Word(w), 5, -1, 0});
    call(14);
    EXPECT_EQ(contents(a), before);
    push({Word(a), Word(w), 1, 1, 99});
    EXPECT_EQ(callError(14), kIndex);
    push({Word(a), Word(w), -1, 1, 0});
    EXPECT_EQ(callError(14), kRange);

    Addr b = vec(2);
    push({Word(b)});
    push(elem(50));
    push({1});
    call(15);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(b), (Items{elem(0), elem(50), elem(1)}));
    push({Word(b)});
    push(elem(50));
    push({4});
    EXPECT_EQ(callError(15), kIndex);
}

TEST_P(VmVectorNatives, FrontAndBack)
{
    Addr v = vec(2), w = vec(2, 10);
    push({Word(v), Word(w)});
    call(16);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), join({elems(10, 2), elems(0, 2)}));
    push({Word(v)});
    push(elem(60));
    call(17);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v).front(), elem(60));
    push({Word(v), Word(w)});
    call(18);
    EXPECT_EQ(stack(), std::vector<Word>{});
    push({Word(v)});
    push(elem(61));
    call(19);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), join({{elem(60)}, elems(10, 2), elems(0, 2), elems(10, 2), {elem(61)}}));
    // A vector inserted into itself.
    Addr s = vec(3);
    push({Word(s), Word(s)});
    call(18);
    EXPECT_EQ(contents(s), join({elems(0, 3), elems(0, 3)}));
    push({Word(s), Word(s), 1});
    call(13);
    EXPECT_EQ(contents(s), join({{elem(0)}, elems(0, 3), elems(0, 3), elems(1, 2), elems(0, 3)}));
}

TEST_P(VmVectorNatives, Repeat)
{
    Addr v = vec(2);
    push({Word(v), 3});
    call(20);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), join({elems(0, 2), elems(0, 2), elems(0, 2)}));
    push({Word(v), 1});
    call(20);
    EXPECT_EQ(contents(v).size(), 6u);
    push({Word(v), -1});
    EXPECT_EQ(callError(20), kArgument);
    int entries = heap.nOfEntries();
    push({Word(v), 1 << 30});
    EXPECT_EQ(callError(20), Pair(10, "VMException: Out of memory"));
    EXPECT_EQ(heap.nOfEntries(), entries);
    push({Word(v), 0});
    call(20);
    EXPECT_TRUE(contents(v).empty());
    EXPECT_EQ(word(recordOf(v), 1), 0);
}

TEST_P(VmVectorNatives, RemovingByIndexRangeAndCount)
{
    Addr v = vec(5);
    push({Word(v), 1});
    call(21);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), (Items{elem(0), elem(2), elem(3), elem(4)}));
    for (int index : {4, -1}) {
        push({Word(v), index});
        EXPECT_EQ(callError(21), kIndex);
    }

    Addr r = vec(6);
    push({Word(r), 1, 2});
    call(22);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(r), (Items{elem(0), elem(3), elem(4), elem(5)}));
    push({Word(r), 2, -1});
    call(22);
    EXPECT_EQ(contents(r), (Items{elem(0), elem(3)}));
    for (auto [start, length] : {std::pair{2, -1}, std::pair{1, 2}, std::pair{-1, 1}, std::pair{1, 0}}) {
        push({Word(r), start, length});
        EXPECT_EQ(callError(22), kRange) << start << " " << length;
    }
    push({Word(vec(0)), 0, -1});
    EXPECT_EQ(callError(22), kRange) << "(0, -1) on an empty vector";

    Addr f = vec(5);
    push({Word(f), 2});
    call(23);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(f), elems(2, 3));
    push({Word(f), 2});
    call(24);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(f), elems(2, 1));
    for (int code : {23, 24}) {
        Addr g = vec(3);
        for (int n : {4, -1}) {
            push({Word(g), n});
            EXPECT_EQ(callError(code), kArgument);
        }
        push({Word(g), 3});
        call(code);
        EXPECT_TRUE(contents(g).empty());
        EXPECT_EQ(word(recordOf(g), 1), 0);
    }
    push({Word(f)});
    call(25);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_TRUE(contents(f).empty());
}

TEST_P(VmVectorNatives, ReplacingParts)
{
    Addr v = vec(5), w = vec(2, 10), empty = vec(0);
    push({Word(v), 1, 3, Word(w)});
    call(26);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), (Items{elem(0), elem(10), elem(11), elem(4)}));
    push({Word(v), 3, 5, Word(w)});  // invalid, non-empty W: nothing
    call(26);
    EXPECT_EQ(contents(v).size(), 4u);
    push({Word(v), 3, 5, Word(empty)});  // invalid, empty W: a removal
    EXPECT_EQ(callError(26), kRange);
    push({Word(v), 0, 2, Word(empty)});
    call(26);
    EXPECT_EQ(contents(v), (Items{elem(11), elem(4)}));

    push({Word(v), 0, -1});
    push(elem(70));
    call(27);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), Items{elem(70)});
    push({Word(v), 1, 1});
    push(elem(71));
    call(27);
    EXPECT_EQ(contents(v), Items{elem(70)}) << "invalid range: nothing";
    push({Word(v), -1, 1});
    push(elem(71));
    EXPECT_EQ(callError(27), kRange);
}

TEST_P(VmVectorNatives, PartsIntoACell)
{
    Addr v = vec(5), o = cell();
    push({Word(o), Word(v), 1, 3});
    call(28);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(o), elems(1, 3));
    push({Word(o), Word(v), 3, -1});
    call(28);
    EXPECT_EQ(contents(o), elems(3, 2));
    push({Word(o), Word(v), 4, 2});
    call(28);
    EXPECT_TRUE(contents(o).empty()) << "invalid range: an empty vector";
    push({Word(o), Word(vec(0)), 0, -1});
    call(28);
    EXPECT_TRUE(contents(o).empty());
    push({Word(o), Word(v), -2, 1});
    EXPECT_EQ(callError(28), kRange);

    push({Word(o)});
    push(elem(80));
    call(29);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(o), Items{elem(80)});
    EXPECT_EQ(capacityOf(o), 10);
}

TEST_P(VmVectorNatives, CheckedRangeReplaceOrInsert)
{
    Addr v = vec(5), w = vec(3, 10);
    push({Word(v), 1, 2, Word(w)});
    call(81);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), join({{elem(0)}, elems(10, 3), elems(3, 2)}));
    Addr a = vec(2);
    push({Word(a), 1, 0, Word(w)});  // length 0: inserted at the start
    call(81);
    EXPECT_EQ(contents(a), join({{elem(0)}, elems(10, 3), {elem(1)}}));
    Addr b = vec(2);
    push({Word(b), 2, -1, Word(w)});  // to the end from 2: empty, inserted at the end
    call(81);
    EXPECT_EQ(contents(b), join({elems(0, 2), elems(10, 3)}));
    Addr c = vec(3);
    push({Word(c), 1, -1, Word(vec(0))});  // replaced by nothing: removed
    call(81);
    EXPECT_EQ(contents(c), Items{elem(0)});

    Addr d = vec(5);
    push({Word(d), 6, -1, Word(w)});
    EXPECT_EQ(callError(81), Pair(5, "RangeException: Invalid Range, first should not be more than 5, first = 6"));
    push({Word(d), 3, 4, Word(w)});
    EXPECT_EQ(callError(81), Pair(5, "RangeException: Invalid Range, range out of bounds: 7 > 5"));
    push({Word(d), -1, 2, Word(w)});
    EXPECT_EQ(callError(81), kRange);
    push({Word(d), 6, 0, Word(w)});
    EXPECT_EQ(callError(81), kIndex) << "insertion beyond the end";
    EXPECT_EQ(contents(d), elems(0, 5));
}

TEST_P(VmVectorNatives, CheckedRangePartInABox)
{
    Addr v = vec(5);
    push({Word(v), 1, 3});
    call(82);
    ASSERT_EQ(vm.top, 1);
    EXPECT_EQ(boxed(vm.stack()[1]), elems(1, 3));
    reset();
    push({Word(v), 2, -1});
    call(82);
    ASSERT_EQ(vm.top, 1);
    EXPECT_EQ(boxed(vm.stack()[1]), elems(2, 3));
    reset();
    push({Word(v), 5, -1});
    call(82);
    ASSERT_EQ(vm.top, 1);
    EXPECT_TRUE(boxed(vm.stack()[1]).empty());
    reset();
    push({Word(v), 4, 2});
    EXPECT_EQ(callError(82), Pair(5, "RangeException: Invalid Range, range out of bounds: 6 > 5"));
    push({Word(v), 7, -1});
    EXPECT_EQ(callError(82), Pair(5, "RangeException: Invalid Range, first should not be more than 5, first = 7"));
    EXPECT_EQ(contents(v), elems(0, 5));
}

TEST_P(VmVectorNatives, PartOfAnotherReplacesOrIsInserted)
{
    Addr v = vec(5), w = vec(4, 10);
    push({Word(v), 1, 2, Word(w), 0, 3});
    call(83);
    EXPECT_EQ(stack(), std::vector<Word>{});
    EXPECT_EQ(contents(v), join({{elem(0)}, elems(10, 3), elems(3, 2)}));
    Addr a = vec(3);
    push({Word(a), 1, 0, Word(w), 2, 2});
    call(83);
    EXPECT_EQ(contents(a), join({{elem(0)}, elems(12, 2), elems(1, 2)}));
    // Lengths are taken as given: a negative one makes the range invalid.
    Addr b = vec(3);
    push({Word(b), 0, 1, Word(w), 1, -1});
    call(83);
    push({Word(b), 0, -1, Word(w), 1, 1});
    call(83);
    push({Word(b), 0, 1, Word(w), 3, 2});
    call(83);
    push({Word(b), 0, 1, Word(w), 0, 0});
    call(83);
    EXPECT_EQ(contents(b), elems(0, 3));
    push({Word(b), 4, 0, Word(w), 0, 1});
    EXPECT_EQ(callError(83), kIndex);
    push({Word(b), 0, 1, Word(w), -1, 1});
    EXPECT_EQ(callError(83), kRange);
}

TEST_P(VmVectorNatives, TwoPartsJoinedInABox)
{
    Addr y = vec(5), x = vec(4, 10);
    // Y, Ra, X, Rb: X's part over Ra, then Y's part over Rb.
    push({Word(y), 1, 2, Word(x), 3, 2});
    call(84);
    ASSERT_EQ(vm.top, 1);
    EXPECT_EQ(boxed(vm.stack()[1]), join({elems(11, 2), elems(3, 2)}));
    reset();
    push({Word(y), 0, -1, Word(x), 4, 1});
    call(84);
    ASSERT_EQ(vm.top, 1);
    EXPECT_EQ(boxed(vm.stack()[1]), Items{elem(4)}) << "a negative length is an invalid, empty part";
    reset();
    push({Word(y), 3, 2, Word(x), 0, 9});
    call(84);
    ASSERT_EQ(vm.top, 1);
    EXPECT_TRUE(boxed(vm.stack()[1]).empty());
    reset();
    push({Word(y), 0, 1, Word(x), -3, 1});
    EXPECT_EQ(callError(84), kRange);
    EXPECT_EQ(contents(y), elems(0, 5));
    EXPECT_EQ(contents(x), elems(10, 4));
}

TEST_P(VmVectorNatives, UnknownAndReservedCodes)
{
    Addr v = vec(2);
    for (int code : {1, 0, 30, 80, 85, 127, -1, -128}) {
        push({Word(v), 0, 0, 0});
        EXPECT_EQ(callError(code), kVectorError) << code;
        reset();
    }
}

TEST_P(VmVectorNatives, ScribbledRecordsRaiseInsteadOfReachingOut)
{
    const Pair invalid(10, "VMException: Invalid vector");
    Addr v = vec(4);
    Addr record = recordOf(v);
    vm.space().storeWord(record + 8, 100000);  // capacity beyond the array
    vm.space().storeWord(record + 12, 100000);
    for (int code : {6, 11, 19, 21}) {
        push({Word(v)});
        if (code == 19)
            push(elem(1));
        else if (code != 11)
            push({0});
        EXPECT_EQ(callError(code), invalid) << code;
        reset();
    }
    vm.space().storeWord(record + 12, 3);
    vm.space().storeWord(record + 4, 0x7FFF0000);  // array outside the heap
    push({Word(v), 0});
    EXPECT_EQ(callError(6), invalid);
    reset();
    vm.space().storeWord(v, Word(heap.alloc(16, 0, GC_CODE_NATIVE)));  // not a vector block
    push({Word(v)});
    EXPECT_EQ(callError(11), invalid);
    reset();
    vm.space().storeWord(v, -4);
    push({Word(v)});
    EXPECT_EQ(callError(11), invalid);
    reset();
    push({0x7FFFFFF0});
    EXPECT_EQ(callError(11).first, 10) << "a holder outside the space";
}

TEST_P(VmVectorNatives, StorageAndShrinkRulesThroughTheNatives)
{
    Addr o = cell();
    push({Word(o)});
    push(elem(1));
    push({25});
    call(3);
    Word array = word(recordOf(o), 1);
    EXPECT_EQ(capacityOf(o), 30);
    for (int i = 0; i < 5; ++i) {
        reset();
        push({Word(o)});
        push(elem(2));
        call(19);
    }
    EXPECT_EQ(word(recordOf(o), 1), array) << "30 elements still fit";
    reset();
    push({Word(o)});
    push(elem(3));
    call(19);
    EXPECT_EQ(capacityOf(o), 37);
    EXPECT_NE(word(recordOf(o), 1), array);
    array = word(recordOf(o), 1);
    push({Word(o), 12});  // 31 -> 19 > 18: in place
    call(24);
    EXPECT_EQ(word(recordOf(o), 1), array);
    push({Word(o), 1});  // 18: moves to capacity 21
    call(23);
    EXPECT_NE(word(recordOf(o), 1), array);
    EXPECT_EQ(capacityOf(o), 21);
    EXPECT_EQ(contents(o), Items(18, elem(1)));
}

TEST_P(VmVectorNatives, ElementsKeepTheirWidth)
{
    Addr v = vec(0);
    Elem wide;
    for (int w = 0; w < k.words; ++w)
        wide.push_back(0x12345680 + w);
    push({Word(v)});
    push(wide);
    call(19);
    push({Word(v)});
    call(9);
    Elem expected = wide;
    if (k.bytes == 1)
        expected = Elem{Word(int8_t(0x80))};  // the low 8 bits, sign-extended
    EXPECT_EQ(stack(), expected);
}

TEST(VmVectorReferences, ElementsStayAliveThroughTheirVector)
{
    VirtualMachine vm;
    VMHeap& heap = vm.heap();
    vm.push(0);
    Addr holder = heap.alloc(8, 0, GC_CODE_OBJECT_ARRAY);
    heap.addRoot(holder);
    Addr o = holder;
    for (int i = 0; i < 3; ++i) {
        vm.top = 0;
        if (i == 0) {
            vm.push(Word(o));
            vm.push(Word(newStringObject(heap, OString("s0"))));
            vm.callNative(7, 29);
        } else {
            vm.push(Word(o));
            vm.push(Word(newStringObject(heap, OString(("s" + std::to_string(i)).c_str()))));
            vm.callNative(7, 19);
        }
        vm.collectWithStack();
    }
    Vec<OString> texts = stringVectorStrings(heap, holder);
    ASSERT_EQ(texts.count(), 3);
    EXPECT_EQ(texts[2].toUtf8(), "s2");
    // A part in a box keeps the strings too, and the original loses nothing.
    vm.top = 0;
    vm.push(Word(holder));
    vm.push(1);
    vm.push(-1);
    vm.callNative(7, 82);
    Addr box = Addr(vm.stack()[1]);
    vm.push(Word(holder));
    vm.callNative(7, 25);
    vm.collectWithStack();
    Vec<OString> part = stringVectorStrings(heap, Addr(vm.space().loadWord(box)));
    ASSERT_EQ(part.count(), 2);
    EXPECT_EQ(part[0].toUtf8(), "s1");
}

// --- Differential run ------------------------------------------------------

namespace {

// What the vector natives do, written over std::vector. The capacity follows
// the storage rule: a new array of max(10, n * 1.2) for n > 0, none for 0;
// edits stay in place when the new count fits and, when shorter, exceeds
// half the capacity.
struct ModelVector {
    Items items;
    int capacity = 0;

    static int fresh(size_t n) { return n == 0 ? 0 : std::max<int>(10, int(n) * 6 / 5); }
    void become(Items next)
    {
        int n = int(next.size());
        if (n == 0)
            capacity = 0;
        else if (!(n <= capacity && (n >= int(items.size()) || n > capacity / 2)))
            capacity = fresh(next.size());
        items = std::move(next);
    }
};

struct ModelRange {
    bool valid;
    int first, n;
};

ModelRange modelRange(int start, int length, int count, bool asGiven)
{
    long end = length < 0 && !asGiven ? count - 1L : long(start) + length - 1;
    if (start >= 0 && start <= end && end < count)
        return {true, start, int(end - start + 1)};
    return {false, 0, 0};
}

Items slice(const Items& v, int first, int n)
{
    return Items(v.begin() + first, v.begin() + first + n);
}

Items spliced(const Items& v, int first, int n, const Items& with)
{
    Items out(v.begin(), v.begin() + first);
    out.insert(out.end(), with.begin(), with.end());
    out.insert(out.end(), v.begin() + first + n, v.end());
    return out;
}

}  // namespace

TEST_P(VmVectorNatives, RandomOperationsMatchAModel)
{
    std::mt19937 rng(20240 + k.group);
    auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Addr holders[2] = {vec(0), vec(4, 30)};
    ModelVector models[2];
    models[1].items = elems(30, 4);
    models[1].capacity = 10;
    int serial = 100;
    int errors = 0;

    for (int step = 0; step < 2500; ++step) {
        int vi = rnd(0, 1), wi = rnd(0, 1);
        Addr v = holders[vi], w = holders[wi];
        ModelVector& mv = models[vi];
        ModelVector& mw = models[wi];
        int count = int(mv.items.size());
        int wcount = int(mw.items.size());
        Elem e = elem(serial++);
        int start = rnd(-1, count + 2), length = rnd(-2, count + 2);
        int wstart = rnd(-1, wcount + 1), wlength = rnd(-2, wcount + 1);
        int index = rnd(-1, count + 1);
        static const int kCodes[] = {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 81, 83, 2, 5, 28, 29, 82, 84};
        int code = kCodes[rnd(0, int(std::size(kCodes)) - 1)];
        if (code == 25 && rnd(0, 3) != 0)
            code = 19;  // keep the vectors from emptying too often
        if (code == 20 && count > 40)
            code = 24;
        if (count > 200)
            code = rnd(0, 1) ? 23 : 22;

        // Expected outcome: error code (0 for none) and the new items of V
        // (or of the vector made by the call).
        int expectError = 0;
        bool changesV = true;
        bool makesNew = false;
        Items next = mv.items;
        auto rangeError = [&] { return start < 0; };
        reset();
        switch (code) {
        case 13:
        case 15: {
            push({Word(v)});
            if (code == 13)
                push({Word(w)});
            else
                push(e);
            push({index});
            if (index < 0 || index > count)
                expectError = 2;
            else
                next = spliced(mv.items, index, 0, code == 13 ? mw.items : Items{e});
            break;
        }
        case 14: {
            push({Word(v), Word(w), wstart, wlength, index});
            ModelRange r = modelRange(wstart, wlength, wcount, false);
            if (wstart < 0)
                expectError = 5;
            else if (!r.valid)
                changesV = false;
            else if (index < 0 || index > count)
                expectError = 2;
            else
                next = spliced(mv.items, index, 0, slice(mw.items, r.first, r.n));
            break;
        }
        case 16:
        case 18:
            push({Word(v), Word(w)});
            next = spliced(mv.items, code == 16 ? 0 : count, 0, mw.items);
            break;
        case 17:
        case 19:
            push({Word(v)});
            push(e);
            next = spliced(mv.items, code == 17 ? 0 : count, 0, {e});
            break;
        case 20: {
            int times = rnd(-1, 3);
            push({Word(v), times});
            if (times < 0) {
                expectError = 6;
            } else {
                next.clear();
                for (int t = 0; t < times; ++t)
                    next.insert(next.end(), mv.items.begin(), mv.items.end());
            }
            break;
        }
        case 21:
            push({Word(v), index});
            if (index < 0 || index >= count)
                expectError = 2;
            else
                next = spliced(mv.items, index, 1, {});
            break;
        case 22: {
            push({Word(v), start, length});
            ModelRange r = modelRange(start, length, count, false);
            if (rangeError() || !r.valid)
                expectError = 5;
            else
                next = spliced(mv.items, r.first, r.n, {});
            break;
        }
        case 23:
        case 24: {
            int n = rnd(-1, count + 1);
            push({Word(v), n});
            if (n < 0 || n > count)
                expectError = 6;
            else
                next = spliced(mv.items, code == 23 ? 0 : count - n, n, {});
            break;
        }
        case 25:
            push({Word(v)});
            next.clear();
            break;
        case 26:
        case 27: {
            push({Word(v), start, length});
            if (code == 26)
                push({Word(w)});
            else
                push(e);
            Items with = code == 26 ? mw.items : Items{e};
            ModelRange r = modelRange(start, length, count, false);
            if (rangeError() || (with.empty() && !r.valid))
                expectError = 5;
            else if (r.valid)
                next = spliced(mv.items, r.first, r.n, with);
            else
                changesV = false;
            break;
        }
        case 81: {
            push({Word(v), start, length, Word(w)});
            if (start < 0 || (length < 0 && start > count) || (length > 0 && start + length > count)) {
                expectError = 5;
            } else {
                int n = length < 0 ? count - start : length;
                if (n != 0)
                    next = spliced(mv.items, start, n, mw.items);
                else if (start > count)
                    expectError = 2;
                else
                    next = spliced(mv.items, start, 0, mw.items);
            }
            break;
        }
        case 83: {
            push({Word(v), start, length, Word(w), wstart, wlength});
            ModelRange rw = modelRange(wstart, wlength, wcount, true);
            ModelRange rv = modelRange(start, length, count, true);
            if (wstart < 0 || start < 0)
                expectError = 5;
            else if (!rw.valid)
                changesV = false;
            else if (length != 0 && rv.valid)
                next = spliced(mv.items, rv.first, rv.n, slice(mw.items, rw.first, rw.n));
            else if (length != 0)
                changesV = false;
            else if (start > count)
                expectError = 2;
            else
                next = spliced(mv.items, start, 0, slice(mw.items, rw.first, rw.n));
            break;
        }
        default:
            changesV = false;
            makesNew = true;
            break;
        }

        if (makesNew) {
            // Results in a cell (2, 5, 28, 29) or in a box (82, 84).
            Addr o = cell();
            Items made;
            switch (code) {
            case 2:
                push({Word(o), Word(v)});
                made = mv.items;
                break;
            case 5: {
                int by = rnd(-1, 4);
                push({Word(o), Word(v), by});
                if (by <= 0)
                    expectError = 6;
                for (int i = 0; by > 0 && i < count; i += by)
                    made.push_back(mv.items[size_t(i)]);
                break;
            }
            case 28: {
                push({Word(o), Word(v), start, length});
                ModelRange r = modelRange(start, length, count, false);
                if (rangeError())
                    expectError = 5;
                else if (r.valid)
                    made = slice(mv.items, r.first, r.n);
                break;
            }
            case 29:
                push({Word(o)});
                push(e);
                made = {e};
                break;
            case 82: {
                push({Word(v), start, length});
                if (start < 0 || (length < 0 && start > count) || (length > 0 && start + length > count))
                    expectError = 5;
                else if (length != 0 && start < count)
                    made = slice(mv.items, start, length < 0 ? count - start : length);
                break;
            }
            case 84: {
                push({Word(v), start, length, Word(w), wstart, wlength});
                // V's slot is Y: X = W over (start, length), then V over (wstart, wlength).
                ModelRange ra = modelRange(start, length, wcount, true);
                ModelRange rb = modelRange(wstart, wlength, count, true);
                if (start < 0 || wstart < 0)
                    expectError = 5;
                if (ra.valid)
                    made = slice(mw.items, ra.first, ra.n);
                if (rb.valid) {
                    Items tail = slice(mv.items, rb.first, rb.n);
                    made.insert(made.end(), tail.begin(), tail.end());
                }
                break;
            }
            }
            if (expectError) {
                ASSERT_EQ(callError(code).first, expectError) << "step " << step << " code " << code;
                ++errors;
            } else {
                call(code);
                if (code == 82 || code == 84) {
                    ASSERT_EQ(vm.top, 1) << "step " << step << " code " << code;
                    Addr holder = Addr(word(Addr(vm.stack()[1]), 0));
                    ASSERT_EQ(contents(holder), made) << "step " << step << " code " << code;
                    ASSERT_EQ(capacityOf(holder), ModelVector::fresh(made.size()));
                } else {
                    ASSERT_EQ(vm.top, 0) << "step " << step << " code " << code;
                    ASSERT_EQ(contents(o), made) << "step " << step << " code " << code;
                    ASSERT_EQ(capacityOf(o), ModelVector::fresh(made.size()));
                    // Sometimes the new vector replaces one of the two.
                    if (rnd(0, 3) == 0) {
                        vm.space().storeWord(holders[vi], Word(recordOf(o)));
                        mv.items = made;
                        mv.capacity = ModelVector::fresh(made.size());
                    }
                }
            }
            heap.removeRoot(o);
        } else if (expectError) {
            ASSERT_EQ(callError(code).first, expectError) << "step " << step << " code " << code;
            ++errors;
        } else {
            call(code);
            ASSERT_EQ(vm.top, 0) << "step " << step << " code " << code;
            if (changesV)
                mv.become(next);
        }
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(contents(holders[i]), models[i].items) << "step " << step << " code " << code << " vector " << i;
            ASSERT_EQ(capacityOf(holders[i]), models[i].capacity) << "step " << step << " code " << code;
        }
    }
    EXPECT_GT(errors, 100) << "the run exercised the error paths";
    EXPECT_GT(models[0].items.size() + models[1].items.size(), 0u);
}
