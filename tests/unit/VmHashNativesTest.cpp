// Hash group 34 on the operand stack: creation into a cell, feeding, the
// empty digests, the buffer across collections, and the errors.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include "Containers/OVector.h"
#include "Hash.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

using namespace vm;

namespace {

using Pair = std::pair<int, std::string>;
constexpr Word kSentinel = 0x5EED;
constexpr int HASH = 34;

struct VmHashNatives : ::testing::Test {
    VirtualMachine vm;
    VMHeap& heap = vm.heap();

    void SetUp() override
    {
        vm.pc = 654;
        vm.push(kSentinel);
    }
    void TearDown() override { EXPECT_EQ(vm.stack()[0], kSentinel); }
    void push(std::initializer_list<Word> words)
    {
        for (Word w : words)
            vm.push(w);
    }
    void call(int function)
    {
        vm.callNative(HASH, function);
        if (vm.gcStress())
            vm.collectWithStack();
    }
    Pair callError(int function)
    {
        Pair r = errorOf([&] { vm.callNative(HASH, function); });
        vm.top = 0;
        return r;
    }
    // A rooted box for code 1 to fill, and the Hash made into it.
    Addr newHashCell(int kind)
    {
        Addr cell = newBox(heap, 0);
        heap.addRoot(cell);
        push({Word(cell), kind});
        call(1);
        return cell;
    }
    Hash& hashIn(Addr cell) { return objectOf<Hash>(heap, unbox(heap, cell)); }
    Addr bytes(std::vector<uint8_t> b)
    {
        Addr holder = newByteVector(heap, b);
        heap.addRoot(holder);
        return holder;
    }
    // The byte vector on top, checked to be a fresh vector with its holder.
    std::vector<uint8_t> resultVector()
    {
        Addr holder = Addr(vm.stack()[vm.top]);
        EXPECT_EQ(heap.gcCodeOf(holder), GC_CODE_ARRAY);
        EXPECT_EQ(heap.gcCodeOf(Addr(vm.space().loadWord(holder))), GC_CODE_VECTOR);
        return byteVectorBytes(heap, holder);
    }
};

}  // namespace

TEST_F(VmHashNatives, CreateStoresAHashInTheCell)
{
    Addr cell = newHashCell(7);
    EXPECT_EQ(vm.top, 0);
    Addr block = unbox(heap, cell);
    EXPECT_EQ(heap.gcCodeOf(block), GC_CODE_HASH);
    EXPECT_EQ(heap.payloadSize(block), 8u);
    EXPECT_EQ(hashIn(cell).state().kind, 7);
    EXPECT_TRUE(hashIn(cell).state().buffer.empty());
}

TEST_F(VmHashNatives, OneShotDigestIsAnEmptyByteVector)
{
    Addr b = bytes({1, 2, 3});
    push({Word(b), 99});
    call(2);
    ASSERT_EQ(vm.top, 1);
    EXPECT_NE(Addr(vm.stack()[1]), b);
    EXPECT_TRUE(resultVector().empty());
    EXPECT_EQ(byteVectorBytes(heap, b), (std::vector<uint8_t>{1, 2, 3}));
    vm.top = 0;
    push({Word(bytes({})), 0});
    call(2);
    EXPECT_TRUE(resultVector().empty());
    vm.top = 0;
}

TEST_F(VmHashNatives, FeedingKeepsEveryByteInOrderAcrossDigestsAndCollections)
{
    Addr cell = newHashCell(1);
    push({Word(cell), Word(bytes({0x10, 0xFF, 0x80}))});
    call(3);
    EXPECT_EQ(vm.top, 0);
    push({Word(cell), Word(bytes({0x7F}))});
    call(3);
    push({Word(cell)});
    call(4);
    ASSERT_EQ(vm.top, 1);
    EXPECT_TRUE(resultVector().empty());
    vm.top = 0;
    EXPECT_EQ(hashIn(cell).state().buffer, (std::vector<uint8_t>{0x10, 0xFF, 0x80, 0x7F}));

    // The buffer is the Hash's own: collections keep it, and code 4 did not reset it.
    for (int i = 0; i < 3; ++i)
        newByteVector(heap, std::vector<uint8_t>(100, uint8_t(i)));
    vm.collectWithStack();
    push({Word(cell), Word(bytes({5, 6}))});
    call(3);
    EXPECT_EQ(hashIn(cell).state().buffer, (std::vector<uint8_t>{0x10, 0xFF, 0x80, 0x7F, 5, 6}));
}

TEST_F(VmHashNatives, AnUnreachableHashIsDestroyed)
{
    int objects = heap.objectCount();
    Addr cell = newHashCell(3);
    EXPECT_EQ(heap.objectCount(), objects + 1);
    heap.removeRoot(cell);
    vm.collectWithStack();
    EXPECT_EQ(heap.objectCount(), objects);
}

TEST_F(VmHashNatives, NullsAndWrongObjects)
{
    const Pair null(1, "NullPointerException: NULL pointer");
    Addr b = bytes({1});
    push({0, 1});
    EXPECT_EQ(callError(1), null);
    push({0x10, 1});
    EXPECT_EQ(callError(1).first, 10) << "an out slot outside the space";
    push({0, 1});
    EXPECT_EQ(callError(2), null);
    push({0, Word(b)});
    EXPECT_EQ(callError(3), null);
    Addr empty = newBox(heap, 0);
    push({Word(empty), Word(b)});
    EXPECT_EQ(callError(3), null) << "a cell without a hash";
    push({Word(empty)});
    EXPECT_EQ(callError(4), null);
    Addr cell = newHashCell(1);
    push({Word(cell), 0});
    EXPECT_EQ(callError(3), null);
    Addr string = newStringObject(heap, OString("not a hash"));
    push({Word(string), Word(b)});
    EXPECT_EQ(callError(3), Pair(10, "VMException: Invalid object"));
    vm.space().storeWord(Addr(vm.space().loadWord(b)) + 12, 1000);  // count beyond the array
    push({Word(cell), Word(b)});
    EXPECT_EQ(callError(3), Pair(10, "VMException: Invalid vector"));
    EXPECT_TRUE(hashIn(cell).state().buffer.empty());
}

TEST_F(VmHashNatives, UnknownCodes)
{
    for (int f : {0, 5, 100, -1}) {
        push({1, 2});
        EXPECT_EQ(callError(f), Pair(10, "VMException: Hash:654")) << f;
    }
}
