// The vector API natives use: making vectors, validated reading, the storage
// and shrink rules of edits, and the host-side helpers.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <cstring>

#include "Containers/OString.h"
#include "Containers/OVector.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

using namespace vm;

namespace {

using Pair = std::pair<int, std::string>;

struct VmVectorApi : ::testing::Test {
    VirtualMachine machine;
    VMHeap& heap = machine.heap();
    VMSpace& space = machine.space();

    Word word(Addr a, int i) { return space.loadWord(a + 4u * uint32_t(i)); }
    void setWord(Addr a, int i, Word v) { space.storeWord(a + 4u * uint32_t(i), v); }
    // Record words 1-3: array, capacity, count.
    std::tuple<Word, Word, Word> recordOf(Addr holder)
    {
        Addr r = Addr(word(holder, 0));
        return {word(r, 1), word(r, 2), word(r, 3)};
    }
    OVector ints(Addr holder) { return OVector::ofHolder(heap, holder, 4); }
    std::vector<int32_t> values(Addr holder) { return intVectorValues(heap, holder); }
    Pair readError(Addr holder, uint32_t size = 4)
    {
        return errorOf([&] { OVector::ofHolder(heap, holder, size); });
    }
};

}  // namespace

TEST_F(VmVectorApi, CreateFollowsTheStorageRuleAndLayout)
{
    struct Case { int count; int capacity; };
    for (Case c : {Case{1, 10}, Case{5, 10}, Case{9, 10}, Case{10, 12}, Case{25, 30}, Case{100, 120}, Case{101, 121}}) {
        OVector v = OVector::create(heap, 4, c.count);
        Addr holder = v.holder();
        EXPECT_EQ(heap.gcCodeOf(holder), GC_CODE_ARRAY);
        EXPECT_EQ(heap.gcCodeOf(v.record()), GC_CODE_VECTOR);
        EXPECT_EQ(holder, v.record() + 16 + 28) << "record and holder are one allocPair";
        EXPECT_EQ(word(holder, 0), Word(v.record()));
        EXPECT_EQ(word(holder, 1), 0) << "holders made by natives carry element size 0";
        auto [array, capacity, count] = recordOf(holder);
        EXPECT_EQ(capacity, c.capacity) << c.count;
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(heap.gcCodeOf(Addr(array)), GC_CODE_NATIVE);
        EXPECT_GE(heap.payloadSize(Addr(array)), uint32_t(c.capacity) * 4);
        EXPECT_EQ(word(v.record(), 0), 0);
        for (int i = 0; i < c.count; ++i)
            ASSERT_EQ(word(Addr(array), i), 0);
    }
    OVector refs = OVector::create(heap, 4, 3, true);
    EXPECT_EQ(heap.gcCodeOf(refs.holder()), GC_CODE_OBJECT_ARRAY);

    OVector empty = OVector::create(heap, 16, 0);
    EXPECT_EQ(recordOf(empty.holder()), std::make_tuple(0, 0, 0)) << "an empty vector has no array";
}

TEST_F(VmVectorApi, CountsThatCannotFitRaiseBeforeAllocating)
{
    int entries = heap.nOfEntries();
    EXPECT_EQ(errorOf([&] { OVector::create(heap, 4, -1); }), Pair(6, "InvalidArgumentException"));
    EXPECT_EQ(errorOf([&] { OVector::create(heap, 4, 1 << 30); }), Pair(10, "VMException: Out of memory"));
    EXPECT_EQ(errorOf([&] { OVector::createRecord(heap, 16, 200000000); }),
              Pair(10, "VMException: Out of memory"));
    EXPECT_EQ(errorOf([&] { newByteVector(heap, nullptr, size_t(1) << 31); }),
              Pair(10, "VMException: Out of memory"));
    EXPECT_EQ(heap.nOfEntries(), entries);
    EXPECT_TRUE(OVector::fits(1000, 16));
    EXPECT_FALSE(OVector::fits(uint64_t(1) << 31, 1));

    OVector v = OVector::create(heap, 4, 1000);
    entries = heap.nOfEntries();
    EXPECT_EQ(errorOf([&] { v.repeat(1 << 20); }), Pair(10, "VMException: Out of memory"));
    EXPECT_EQ(errorOf([&] { v.insert(0, nullptr, INT32_MAX - 10); }), Pair(10, "VMException: Out of memory"));
    EXPECT_EQ(heap.nOfEntries(), entries);
    EXPECT_EQ(ints(v.holder()).count(), 1000);
}

TEST_F(VmVectorApi, ReadingRefusesEveryCorruptRecord)
{
    EXPECT_EQ(readError(0), Pair(1, "NullPointerException: NULL pointer"));
    Addr holder = heap.alloc(8, 0, GC_CODE_ARRAY);
    EXPECT_EQ(readError(holder), Pair(1, "NullPointerException: NULL pointer")) << "holder without vector";
    EXPECT_EQ(readError(0x1000).first, 10) << "holder outside the space";

    auto corrupt = [&](auto&& change) {
        OVector v = OVector::create(heap, 4, 20);
        change(v.record(), v.holder());
        return readError(v.holder());
    };
    const Pair invalid(10, "VMException: Invalid vector");
    Addr plain = heap.alloc(64, 0, GC_CODE_NATIVE);
    Addr string = Addr(word(newStringObject(heap, OString("abc")), 0));
    EXPECT_EQ(corrupt([&](Addr, Addr h) { setWord(h, 0, 0x1000); }), invalid);
    EXPECT_EQ(corrupt([&](Addr, Addr h) { setWord(h, 0, Word(plain)); }), invalid) << "not a vector block";
    EXPECT_EQ(corrupt([&](Addr r, Addr h) { setWord(h, 0, Word(r + 4)); }), invalid) << "inside a vector block";
    EXPECT_EQ(corrupt([&](Addr r, Addr) { setWord(r, 3, 25); }), invalid) << "count above capacity";
    EXPECT_EQ(corrupt([&](Addr r, Addr) { setWord(r, 3, -1); }), invalid);
    EXPECT_EQ(corrupt([&](Addr r, Addr) { setWord(r, 2, 1000); setWord(r, 3, 1000); }), invalid)
        << "capacity beyond the array block";
    EXPECT_EQ(corrupt([&](Addr r, Addr) { setWord(r, 1, Word(string)); }), invalid) << "array is a string";
    EXPECT_EQ(corrupt([&](Addr r, Addr) { setWord(r, 1, Word(plain + 8)); }), invalid) << "array inside a block";
    EXPECT_EQ(corrupt([&](Addr r, Addr) { setWord(r, 1, -8); }), invalid);
    EXPECT_EQ(corrupt([&](Addr r, Addr) {
                  Addr freed = heap.alloc(400, 0, GC_CODE_NATIVE);
                  heap.freeObject(freed);
                  setWord(r, 1, Word(freed));
              }),
              invalid)
        << "array is a free block";

    // A byte vector read with a larger element size would reach past its array.
    Addr bytes = newByteVector(heap, "0123456789abc", 13);
    EXPECT_EQ(readError(bytes, 4), invalid);
    EXPECT_EQ(OVector::ofHolder(heap, bytes, 1).count(), 13);

    // Count 0 ignores whatever the other words say.
    OVector v = OVector::create(heap, 4, 3);
    setWord(v.record(), 3, 0);
    setWord(v.record(), 2, 999999);
    OVector empty = ints(v.holder());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.capacity(), 0);
    EXPECT_EQ(empty.data(), nullptr);
    int one = 1;
    empty.append(&one);
    EXPECT_NE(std::get<0>(recordOf(v.holder())), Word(v.elements())) << "a fresh array, not the stale one";
    EXPECT_EQ(values(v.holder()), std::vector<int32_t>{1});
}

TEST_F(VmVectorApi, ElementAddressesAreChecked)
{
    OVector v = OVector::create(heap, 12, 4);
    EXPECT_EQ(v.elementAddress(0), v.elements());
    EXPECT_EQ(v.elementAddress(3), v.elements() + 36);
    EXPECT_EQ(errorOf([&] { v.elementAddress(4); }).first, 2);
    EXPECT_EQ(errorOf([&] { v.elementAddress(-1); }).first, 2);
    EXPECT_EQ(v.bytes().size(), 48u);
}

TEST_F(VmVectorApi, EditsStayInPlaceOrMoveByTheRules)
{
    OVector v = OVector::create(heap, 4, 25);  // capacity 30
    for (int i = 0; i < 25; ++i)
        v.dataAs<int32_t>()[i] = i;
    Addr first = v.elements();
    int32_t more[5] = {100, 101, 102, 103, 104};
    v.insert(2, more, 5);  // 30: fits
    EXPECT_EQ(v.elements(), first);
    EXPECT_EQ(v.capacity(), 30);
    v.append(more, 1);  // 31: a new array of capacity 37
    EXPECT_NE(v.elements(), first);
    EXPECT_EQ(v.capacity(), 37);
    EXPECT_EQ(v.count(), 31);
    std::vector<int32_t> expected{0, 1, 100, 101, 102, 103, 104};
    for (int i = 2; i < 25; ++i)
        expected.push_back(i);
    expected.push_back(100);
    EXPECT_EQ(values(v.holder()), expected);
    EXPECT_TRUE(heap.isLiveBlock(first)) << "the old array is left to the collector";

    // Shrinking: in place while the new count exceeds capacity / 2 (18).
    Addr second = v.elements();
    v.remove(0, 12);  // 19
    EXPECT_EQ(v.elements(), second);
    v.remove(0, 1);  // 18: moves to capacity max(10, 21)
    EXPECT_NE(v.elements(), second);
    EXPECT_EQ(v.capacity(), 21);
    EXPECT_EQ(v.count(), 18);
    EXPECT_EQ(values(v.holder()).front(), 8);

    v.splice(0, 18, nullptr, 0);
    EXPECT_EQ(recordOf(v.holder()), std::make_tuple(0, 0, 0)) << "removing everything drops the array";
}

TEST_F(VmVectorApi, SpliceHandlesSourcesInsideItsOwnArray)
{
    OVector v = OVector::create(heap, 4, 4);  // capacity 10
    for (int i = 0; i < 4; ++i)
        v.dataAs<int32_t>()[i] = i + 1;
    v.insert(1, v.data(), 4);  // in place, source moves under it
    EXPECT_EQ(values(v.holder()), (std::vector<int32_t>{1, 1, 2, 3, 4, 2, 3, 4}));
    v.splice(0, 2, v.data() + 4 * 5, 3);  // replace the first two by the last three
    EXPECT_EQ(values(v.holder()), (std::vector<int32_t>{2, 3, 4, 2, 3, 4, 2, 3, 4}));
    v.insert(9, v.data(), 9);  // grows: copied from the old array
    EXPECT_EQ(v.count(), 18);
    EXPECT_EQ(values(v.holder())[17], 4);
    EXPECT_EQ(values(v.holder())[9], 2);
}

TEST_F(VmVectorApi, ResizeAndRepeat)
{
    OVector v = OVector::create(heap, 8, 2);
    int32_t pairs[4] = {1, 2, 3, 4};
    std::memcpy(v.data(), pairs, 16);
    v.repeat(3);
    EXPECT_EQ(v.count(), 6);
    EXPECT_EQ(v.capacity(), 10) << "fits in place";
    v.repeat(2);
    EXPECT_EQ(v.count(), 12);
    EXPECT_EQ(v.capacity(), 14);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(v.dataAs<int32_t>()[2 * i], 1 + 2 * (i % 2));
        EXPECT_EQ(v.dataAs<int32_t>()[2 * i + 1], 2 + 2 * (i % 2));
    }
    v.resize(13);
    EXPECT_EQ(v.dataAs<int32_t>()[24], 0);
    EXPECT_EQ(v.dataAs<int32_t>()[25], 0);
    v.resize(1);
    EXPECT_EQ(v.count(), 1);
    EXPECT_EQ(v.capacity(), 10);
    v.repeat(0);
    EXPECT_TRUE(OVector::ofHolder(heap, v.holder(), 8).isEmpty());
}

TEST_F(VmVectorApi, StoreIntoFillsAHolderBytecodeMade)
{
    Addr holder = heap.alloc(8, 0, GC_CODE_ARRAY);
    OVector v = OVector::createRecord(heap, 1, 3);
    v.data()[2] = 0x80;
    v.storeInto(holder);
    EXPECT_EQ(byteVectorBytes(heap, holder), (std::vector<uint8_t>{0, 0, 0x80}));
    EXPECT_EQ(errorOf([&] { v.storeInto(0); }).first, 1);
}

TEST_F(VmVectorApi, HostHelpersRoundTripAndSurviveCollections)
{
    Addr bytes = newByteVector(heap, "\x01\xff\x7f", 3);
    Addr empty = newByteVector(heap, nullptr, 0);
    int32_t raw[3] = {-5, 0, 70000};
    Addr words = newIntVector(heap, raw);
    Vec<OString> texts;
    texts.append(OString("one"));
    texts.append(OString());
    texts.append(OString(u"\u00e9t\u00e9"));
    Addr strings = newStringVector(heap, texts);
    EXPECT_EQ(heap.gcCodeOf(strings), GC_CODE_OBJECT_ARRAY);
    for (Addr a : {bytes, empty, words, strings})
        heap.addRoot(a);
    Addr garbage = newByteVector(heap, "zz", 2);
    heap.collect();
    EXPECT_FALSE(heap.isLiveBlock(garbage));

    EXPECT_EQ(byteVectorBytes(heap, bytes), (std::vector<uint8_t>{1, 0xff, 0x7f}));
    EXPECT_TRUE(byteVectorBytes(heap, empty).empty());
    EXPECT_EQ(values(words), (std::vector<int32_t>{-5, 0, 70000}));
    Vec<OString> back = stringVectorStrings(heap, strings);
    ASSERT_EQ(back.count(), 3);
    EXPECT_EQ(back[0].toUtf8(), "one");
    EXPECT_TRUE(back[1].isEmpty());
    EXPECT_EQ(back[2].toU16(), u"\u00e9t\u00e9");

    // Elements that are not strings.
    OVector v = OVector::ofHolder(heap, strings, 4);
    setWord(v.elements(), 1, 0);
    EXPECT_EQ(errorOf([&] { stringVectorStrings(heap, strings); }).first, 1);
    setWord(v.elements(), 1, Word(bytes));
    EXPECT_EQ(errorOf([&] { stringVectorStrings(heap, strings); }), Pair(10, "VMException: Invalid object"));
}

TEST_F(VmVectorApi, CreateByteVectorMakesAByteVectorWithHolder)
{
    Addr holder = machine.createByteVector(25);
    EXPECT_EQ(heap.gcCodeOf(holder), GC_CODE_ARRAY);
    auto [array, capacity, count] = recordOf(holder);
    EXPECT_NE(array, 0);
    EXPECT_EQ(capacity, 30);
    EXPECT_EQ(count, 25);
    EXPECT_EQ(byteVectorBytes(heap, holder), std::vector<uint8_t>(25, 0));
    EXPECT_EQ(errorCode([&] { machine.createByteVector(-1); }), 6);
}

TEST_F(VmVectorApi, LargeBlockSizesFollowFreesAndReuse)
{
    // Vector reads ask for array sizes constantly; the answer for a block at
    // the same address must change when the block is freed and reused.
    Addr big = heap.alloc(40000, 0, GC_CODE_NATIVE);
    Addr after = heap.alloc(8, 0, GC_CODE_NATIVE);
    EXPECT_EQ(heap.payloadSize(big), 40000u);
    heap.freeObject(big);
    Addr small = heap.alloc(20000, 0, GC_CODE_NATIVE);
    ASSERT_EQ(small, big);
    EXPECT_EQ(heap.payloadSize(small), 20000u);
    heap.freeObject(small);
    heap.freeObject(after);
    Addr merged = heap.alloc(50000, 0, GC_CODE_NATIVE);
    ASSERT_EQ(merged, big);
    EXPECT_EQ(heap.payloadSize(merged), 50000u);
}
