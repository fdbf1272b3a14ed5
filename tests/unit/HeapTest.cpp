// The heap: allocation, splitting and merging, the free lists, marking,
// collection, the memory report, and resistance to corrupted blocks.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>
#include <string>

#include "Containers/CAppsString.h"
#include "Heap.h"
#include "ObjectModel.h"
#include "TestSupport.h"

using namespace vm;

namespace {

struct HeapFixture : ::testing::Test {
    Vec<Vec<int> > refs, arrays;
    Vec<Vec<char> > flags;
    VMSpace space;
    VMHeap heap{space, 64000, nullptr, refs, arrays, flags};

    const HeapHeader& hdr(Addr payload) { return *space.raw<HeapHeader>(payload - 24); }
    int raisedCode(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const ErrorHandlingException&) {
            int code = pendingError().code;
            clearPendingError();
            return code;
        }
        return 0;
    }
    // Class c with reference fields at the given word offsets.
    void defineClass(int c, std::initializer_list<int> fields, std::initializer_list<int> arrayFields = {},
                     std::initializer_list<char> arrayFlags = {})
    {
        while (refs.count() <= c) {
            refs.append(Vec<int>());
            arrays.append(Vec<int>());
            flags.append(Vec<char>());
        }
        for (int f : fields)
            refs[c].append(f);
        for (int f : arrayFields)
            arrays[c].append(f);
        for (char f : arrayFlags)
            flags[c].append(f);
    }
    Addr instance(int c, int words)
    {
        Addr p = heap.alloc(4u * words, 0, GC_CODE_INSTANCE);
        space.setRawWord(p, c);
        return p;
    }
};

struct Counted : GCObject {
    static int alive;
    Counted() { ++alive; }
    ~Counted() override { --alive; }
};
int Counted::alive = 0;

}  // namespace

TEST(Log2Ceil, Buckets)
{
    EXPECT_EQ(log2Ceil(0), 0);
    EXPECT_EQ(log2Ceil(1), 0);
    EXPECT_EQ(log2Ceil(2), 1);
    EXPECT_EQ(log2Ceil(3), 2);
    EXPECT_EQ(log2Ceil(4), 2);
    EXPECT_EQ(log2Ceil(5), 3);
    EXPECT_EQ(log2Ceil(8), 3);
    EXPECT_EQ(log2Ceil(64000), 16);
    EXPECT_EQ(log2Ceil(0x80000000u), 31);
}

TEST_F(HeapFixture, ConstructionMakesOnePoolWithOneFreeBlock)
{
    EXPECT_EQ(heap.poolCount(), 1);
    EXPECT_EQ(heap.totalSizeOfPools(), 64000 + 80);
    auto blocks = heap.blocksOfPool(0);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(space.raw<HeapHeader>(blocks[0])->gcCode, GC_CODE_TERMINATOR);
    EXPECT_EQ(space.raw<HeapHeader>(blocks[2])->gcCode, GC_CODE_TERMINATOR);
    EXPECT_EQ(blocks[1] - blocks[0], 28u);
    EXPECT_EQ(blocks[2] - blocks[1], 64000u + 28);
    auto list = heap.freeList(16);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].second, 64000u);
}

TEST_F(HeapFixture, RequestSizesRoundUpToWords)
{
    Addr a0 = heap.alloc(0, 0, GC_CODE_NATIVE);
    Addr a1 = heap.alloc(1, 0, GC_CODE_NATIVE);
    Addr a3 = heap.alloc(3, 0, GC_CODE_NATIVE);
    Addr a5 = heap.alloc(5, 0, GC_CODE_NATIVE);
    EXPECT_EQ(hdr(a0).size, 0);
    EXPECT_EQ(hdr(a1).size, 4);
    EXPECT_EQ(hdr(a3).size, 4);
    EXPECT_EQ(hdr(a5).size, 8);
    EXPECT_EQ(hdr(a5).usedSize, 8u);
    EXPECT_EQ(a1 - a0, 28u);        // blocks are adjacent: header + payload + trailer
    EXPECT_EQ(space.rawWord(a5 + 8), 8 + 28);  // trailer holds the block length
    EXPECT_EQ(heap.nOfEntries(), 4);
}

TEST_F(HeapFixture, PayloadIsZeroFilledAndHeaderDescribesTheBlock)
{
    Addr a = heap.alloc(64, 0, GC_CODE_NATIVE);
    for (int i = 0; i < 16; ++i)
        space.setRawWord(a + 4 * i, -1);
    heap.freeObject(a);
    Addr b = heap.alloc(64, -1, GC_CODE_HASH);
    EXPECT_EQ(b, a);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(space.rawWord(b + 4 * i), 0);
    EXPECT_EQ(hdr(b).gcCode, GC_CODE_HASH);
    EXPECT_EQ(hdr(b).isGcObject, -1);
    EXPECT_EQ(hdr(b).marked, 0);
}

TEST_F(HeapFixture, LargeRequestMakesAPoolOfExactlyThatSize)
{
    Addr big = heap.alloc(100000, 0, GC_CODE_NATIVE);
    EXPECT_EQ(heap.poolCount(), 2);
    EXPECT_EQ(heap.totalSizeOfPools(), 64080 + 100080);
    EXPECT_EQ(hdr(big).size, 100000);
    // The new pool's free block was used directly: nothing new in the free lists.
    EXPECT_EQ(heap.freeList(17).size(), 0u);
}

TEST_F(HeapFixture, SplittingKeepsSurplusOfAtMost28InTheBlock)
{
    for (uint32_t request : {36u, 32u}) {
        // A heap whose only free block has a payload of 64.
        VMSpace s;
        VMHeap h(s, 64, nullptr, refs, arrays, flags);
        Addr p = h.alloc(request, 0, GC_CODE_NATIVE);
        const HeapHeader& he = *s.raw<HeapHeader>(p - 24);
        if (request == 36) {
            EXPECT_EQ(he.size, 64);  // surplus 28: not split
            EXPECT_EQ(he.usedSize, 36u);
            EXPECT_EQ(h.blocksOfPool(0).size(), 3u);
        } else {
            EXPECT_EQ(he.size, 32);  // surplus 32: a free block of payload 4
            auto list = h.freeList(2);
            ASSERT_EQ(list.size(), 1u);
            EXPECT_EQ(list[0].first, p + 32 + 4);
            EXPECT_EQ(list[0].second, 4u);
        }
    }
}

TEST_F(HeapFixture, AdjacentFreesMergeInEitherOrder)
{
    for (int order = 0; order < 2; ++order) {
        VMSpace s;
        VMHeap h(s, 64000, nullptr, refs, arrays, flags);
        Addr left = h.alloc(8, 0, GC_CODE_NATIVE);
        Addr a = h.alloc(16, 0, GC_CODE_NATIVE);
        Addr b = h.alloc(24, 0, GC_CODE_NATIVE);
        Addr right = h.alloc(8, 0, GC_CODE_NATIVE);
        h.freeObject(order == 0 ? a : b);
        h.freeObject(order == 0 ? b : a);
        // One free block of 16 + 24 + 28 at a.
        auto list = h.freeList(log2Ceil(68));
        ASSERT_EQ(list.size(), 1u) << "order " << order;
        EXPECT_EQ(list[0].first, a - 24);
        EXPECT_EQ(list[0].second, 68u);
        EXPECT_EQ(s.rawWord(a + 68), 68 + 28);
        EXPECT_TRUE(h.isLiveBlock(left));
        EXPECT_TRUE(h.isLiveBlock(right));
    }
}

TEST_F(HeapFixture, FreeingEverythingRestoresOneBlock)
{
    std::vector<Addr> blocks;
    for (int i = 0; i < 100; ++i)
        blocks.push_back(heap.alloc(4u * (i % 7), 0, GC_CODE_NATIVE));
    std::mt19937 rng(5);
    std::shuffle(blocks.begin(), blocks.end(), rng);
    for (Addr b : blocks)
        heap.freeObject(b);
    EXPECT_EQ(heap.nOfEntries(), 0);
    EXPECT_EQ(heap.blocksOfPool(0).size(), 3u);
    EXPECT_EQ(heap.freeList(16).size(), 1u);
}

TEST_F(HeapFixture, FreeListsAreFirstInFirstOutAndTakeFromLargerListsFirst)
{
    Addr a = heap.alloc(20, 0, GC_CODE_NATIVE);
    heap.alloc(4, 0, GC_CODE_NATIVE);
    Addr b = heap.alloc(20, 0, GC_CODE_NATIVE);
    heap.alloc(4, 0, GC_CODE_NATIVE);
    heap.freeObject(a);
    heap.freeObject(b);
    auto list = heap.freeList(log2Ceil(20));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].first, a - 24);
    EXPECT_EQ(list[1].first, b - 24);
    // A request of 17..20 bytes looks in larger lists first: the pool rest.
    Addr c = heap.alloc(20, 0, GC_CODE_NATIVE);
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
    // A request of 9..16 (list 4) takes the first block of list 5.
    Addr d = heap.alloc(12, 0, GC_CODE_NATIVE);
    EXPECT_EQ(d, a);
}

TEST_F(HeapFixture, FreeObjectOfNullDoesNothingAndBadFreesRaise)
{
    heap.freeObject(0);
    EXPECT_EQ(heap.nOfEntries(), 0);
    Addr a = heap.alloc(8, 0, GC_CODE_NATIVE);
    heap.freeObject(a);
    EXPECT_EQ(raisedCode([&] { heap.freeObject(a); }), KErrVm);   // double free
    EXPECT_EQ(raisedCode([&] { heap.freeObject(a + 4); }), KErrVm);  // not a block
    EXPECT_EQ(raisedCode([&] { heap.freeObject(12345); }), KErrVm);  // outside pools
    EXPECT_EQ(heap.nOfEntries(), 0);
}

TEST_F(HeapFixture, AllocPairMakesTwoAdjacentEntries)
{
    auto [a, b] = heap.allocPair(8, -1, GC_CODE_STRING, 4, 0, GC_CODE_REFERENCE);
    EXPECT_EQ(b, a + 8 + 28);
    EXPECT_EQ(hdr(a).gcCode, GC_CODE_STRING);
    EXPECT_EQ(hdr(a).isGcObject, -1);
    EXPECT_EQ(hdr(b).gcCode, GC_CODE_REFERENCE);
    EXPECT_EQ(hdr(b).usedSize, 4u);
    EXPECT_EQ(heap.nOfEntries(), 2);
    heap.freeObject(a);
    heap.freeObject(b);
    EXPECT_EQ(heap.nOfEntries(), 0);
}

TEST_F(HeapFixture, RootsKeepObjectsAliveUntilRemoved)
{
    Addr a = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr b = heap.alloc(8, 0, GC_CODE_NATIVE);
    heap.addRoot(a);
    heap.collect();
    EXPECT_TRUE(heap.isLiveBlock(a));
    EXPECT_FALSE(heap.isLiveBlock(b));
    EXPECT_FALSE(heap.isMarked(a));  // every survivor ends unmarked
    heap.removeRoot(a);
    heap.collect();
    EXPECT_FALSE(heap.isLiveBlock(a));
    EXPECT_EQ(heap.nOfEntries(), 0);
}

TEST_F(HeapFixture, SweepFreesDeadRunsInAddressOrderAcrossTheWholePool)
{
    // 60 adjacent blocks of 48 bytes; every fourth is rooted, so runs of
    // three dead blocks lie between them, the last run before the pool rest.
    std::vector<Addr> b;
    for (int i = 0; i < 60; ++i)
        b.push_back(heap.alloc(20, 0, GC_CODE_NATIVE));
    for (int i = 0; i < 60; i += 4)
        heap.addRoot(b[size_t(i)]);
    heap.collect();
    EXPECT_EQ(heap.nOfEntries(), 15);
    auto runs = heap.freeList(7);  // three blocks merged: 3 * 20 + 2 * 28 = 116 bytes
    ASSERT_EQ(runs.size(), 14u);
    for (size_t r = 0; r < runs.size(); ++r) {
        EXPECT_EQ(runs[r].first, b[4 * r + 1] - 24) << r;
        EXPECT_EQ(runs[r].second, 116u) << r;
    }
    auto rest = heap.freeList(16);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].first, b[57] - 24);
    EXPECT_EQ(rest[0].second, 64000u - 57 * 48);
    for (int i = 0; i < 60; i += 4) {
        EXPECT_TRUE(heap.isLiveBlock(b[size_t(i)]));
        EXPECT_FALSE(heap.isMarked(b[size_t(i)]));
    }
    // The next collection finds nothing more to free.
    heap.collect();
    EXPECT_EQ(heap.freeList(7).size(), 14u);
    EXPECT_EQ(heap.nOfEntries(), 15);
}

TEST_F(HeapFixture, RemovingAMissingRootReportsAndChangesNothing)
{
    Addr a = heap.alloc(8, 0, GC_CODE_NATIVE);
    heap.addRoot(a);
    testing::internal::CaptureStderr();
    heap.removeRoot(a + 100);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Error: Removing non-existing root: " + std::to_string(a + 100));
    EXPECT_EQ(heap.roots().size(), 1u);
}

TEST_F(HeapFixture, MarkingFollowsInstancesBoxesArraysAndDrawables)
{
    defineClass(1, {1, 2}, {3}, {char(255)});
    Addr obj = instance(1, 4);
    Addr child = heap.alloc(4, 0, GC_CODE_NATIVE);
    Addr box = newBox(heap, Word(child));
    space.setRawWord(obj + 4, Word(box));
    // Array field: a vector of references with one element.
    Addr vec = heap.alloc(16, -1, GC_CODE_VECTOR);
    Addr elems = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr elemTarget = heap.alloc(4, 0, GC_CODE_NATIVE);
    space.setRawWord(vec + 4, Word(elems));
    space.setRawWord(vec + 8, 2);
    space.setRawWord(vec + 12, 1);
    space.setRawWord(elems, Word(elemTarget));
    space.setRawWord(obj + 12, Word(vec));
    // A drawable of kind 2 referenced from a plain array holder? No: from a box.
    Addr drawable = heap.alloc(12, 0, GC_CODE_DRAWABLE);
    Addr g = heap.alloc(4, 0, GC_CODE_NATIVE);
    Addr bm = heap.alloc(4, 0, GC_CODE_NATIVE);
    space.setRawWord(drawable, 2);
    space.setRawWord(drawable + 4, Word(g));
    space.setRawWord(drawable + 8, Word(bm));
    Addr dbox = newBox(heap, Word(drawable));
    space.setRawWord(obj + 8, Word(dbox));
    Addr garbage = heap.alloc(4, 0, GC_CODE_NATIVE);

    heap.addRoot(obj);
    heap.collect();
    for (Addr p : {obj, child, box, vec, elems, elemTarget, drawable, g, bm, dbox})
        EXPECT_TRUE(heap.isLiveBlock(p)) << p;
    EXPECT_FALSE(heap.isLiveBlock(garbage));
}

TEST_F(HeapFixture, PlainArraysDoNotMarkTheirElementsAndEmptyVectorsSkipTheArray)
{
    Addr holder = heap.alloc(8, 0, GC_CODE_ARRAY);
    Addr vec = heap.alloc(16, -1, GC_CODE_VECTOR);
    Addr elems = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr target = heap.alloc(4, 0, GC_CODE_NATIVE);
    space.setRawWord(holder, Word(vec));
    space.setRawWord(vec + 4, Word(elems));
    space.setRawWord(vec + 12, 1);
    space.setRawWord(elems, Word(target));
    heap.addRoot(holder);
    heap.collect();
    EXPECT_TRUE(heap.isLiveBlock(elems));
    EXPECT_FALSE(heap.isLiveBlock(target));
    space.setRawWord(vec + 12, 0);
    heap.collect();
    EXPECT_TRUE(heap.isLiveBlock(vec));
    EXPECT_FALSE(heap.isLiveBlock(elems));
}

TEST_F(HeapFixture, ALongListIsMarkedWithoutHostRecursion)
{
    defineClass(1, {1});
    Addr head = instance(1, 2);
    Addr p = head;
    for (int i = 0; i < 200000; ++i) {
        Addr n = instance(1, 2);
        space.setRawWord(p + 4, Word(n));
        p = n;
    }
    heap.addRoot(head);
    heap.collect();
    EXPECT_EQ(heap.nOfEntries(), 200001);
    heap.removeRoot(head);
    heap.collect();
    EXPECT_EQ(heap.nOfEntries(), 0);
}

TEST_F(HeapFixture, ConservativeMarkingKeepsBlocksPointedIntoAndIgnoresTheRest)
{
    Addr a = heap.alloc(64, 0, GC_CODE_NATIVE);
    Addr b = heap.alloc(64, 0, GC_CODE_NATIVE);
    Addr free = heap.alloc(64, 0, GC_CODE_NATIVE);
    heap.alloc(4, 0, GC_CODE_NATIVE);
    heap.freeObject(free);
    heap.markIfInHeap(a + 40);             // middle of a block
    heap.markIfInHeap(free);               // a free block: ignored, no raise
    heap.markIfInHeap(heap.blocksOfPool(0)[0] + 24);  // the leading sentinel
    heap.markIfInHeap(heap.blocksOfPool(0).back() + 24);  // the trailing sentinel
    heap.markIfInHeap(7);                  // not in any pool
    heap.markIfInHeap(0xFFFFFFF0u);
    EXPECT_TRUE(heap.isMarked(a));
    EXPECT_FALSE(heap.isMarked(b));
    heap.collect();
    EXPECT_TRUE(heap.isLiveBlock(a));
    EXPECT_FALSE(heap.isLiveBlock(b));
}

TEST_F(HeapFixture, ReferencesToFreeBlocksSentinelsOrNoBlockAreIgnored)
{
    Addr a = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr b = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr box = newBox(heap, Word(a));
    heap.freeObject(a);  // the box now dangles
    EXPECT_EQ(raisedCode([&] { heap.mark(a); }), 0);
    EXPECT_EQ(raisedCode([&] { heap.mark(heap.blocksOfPool(0)[0] + 24); }), 0);
    EXPECT_EQ(raisedCode([&] { heap.mark(b + 4); }), 0);
    EXPECT_EQ(raisedCode([&] { heap.mark(99); }), 0);
    EXPECT_FALSE(heap.isMarked(a));
    EXPECT_FALSE(heap.isMarked(b));
    heap.clearMarks();
    // The collection completes: the box survives, b does not, and the freed
    // block stays one free block.
    heap.addRoot(box);
    EXPECT_EQ(raisedCode([&] { heap.collect(); }), 0);
    EXPECT_TRUE(heap.isLiveBlock(box));
    EXPECT_FALSE(heap.isMarked(box));
    EXPECT_FALSE(heap.isLiveBlock(b));
    EXPECT_EQ(heap.nOfEntries(), 1);
}

TEST_F(HeapFixture, ADrawableOfUnknownKindIsALeaf)
{
    Addr target = heap.alloc(4, 0, GC_CODE_NATIVE);
    for (int kind : {0, 3, -1}) {
        Addr d = heap.alloc(12, 0, GC_CODE_DRAWABLE);
        space.setRawWord(d, kind);
        space.setRawWord(d + 4, Word(target));
        space.setRawWord(d + 8, Word(target));
        heap.addRoot(d);
        EXPECT_EQ(raisedCode([&] { heap.collect(); }), 0) << kind;
        EXPECT_TRUE(heap.isLiveBlock(d));
        EXPECT_FALSE(heap.isLiveBlock(target)) << kind;  // its words were not followed
        target = heap.alloc(4, 0, GC_CODE_NATIVE);
    }
    // Too short to be a record: nothing is read past its payload.
    Addr shortRecord = heap.alloc(4, 0, GC_CODE_DRAWABLE);
    space.setRawWord(shortRecord, 1);
    heap.addRoot(shortRecord);
    EXPECT_EQ(raisedCode([&] { heap.collect(); }), 0);
    EXPECT_FALSE(heap.isLiveBlock(target));
}

TEST_F(HeapFixture, RootScannersRunAtEveryCollection)
{
    Addr globals = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr held = heap.alloc(8, 0, GC_CODE_NATIVE);
    space.setRawWord(globals + 4, Word(held));
    heap.addRoot(globals);
    heap.addRootScanner([globals](VMHeap& h) {
        for (int i = 0; i < 2; ++i)
            h.markIfInHeap(uint32_t(h.space().rawWord(globals + 4 * i)));
    });
    heap.collect();
    EXPECT_TRUE(heap.isLiveBlock(held));
}

TEST_F(HeapFixture, HostObjectsDieWithTheirBlockAndForgedHandlesAreRefused)
{
    Counted::alive = 0;
    Addr a = heap.construct<Counted>(8, GC_CODE_NATIVE);
    EXPECT_EQ(Counted::alive, 1);
    EXPECT_NE(heap.objectAs<Counted>(a), nullptr);
    // A copy of the handle in another block is not that object.
    Addr forged = heap.alloc(8, 0, GC_CODE_NATIVE);
    space.setRawWord(forged, space.rawWord(a));
    EXPECT_EQ(heap.objectAt(forged), nullptr);
    heap.freeObject(forged);
    EXPECT_EQ(Counted::alive, 1);
    heap.collect();
    EXPECT_EQ(Counted::alive, 0);
    EXPECT_EQ(heap.objectCount(), 0);
    // Objects still alive when the heap dies are destroyed with it.
    {
        Vec<Vec<int> > r, ar;
        Vec<Vec<char> > fl;
        VMSpace s2;
        VMHeap h2(s2, 64000, nullptr, r, ar, fl);
        h2.construct<Counted>(8, GC_CODE_NATIVE);
        EXPECT_EQ(Counted::alive, 1);
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST_F(HeapFixture, MemoryReportAddsUpAndHasItsExactShape)
{
    heap.alloc(10, 0, GC_CODE_NATIVE);  // 12 used
    Addr b = heap.alloc(36, 0, GC_CODE_NATIVE);
    heap.alloc(4, 0, GC_CODE_NATIVE);
    heap.freeObject(b);
    // 8 bytes: list 6 (b's 36 bytes) is the first non-empty list above 3;
    // the surplus of 28 stays in the block as waste.
    EXPECT_EQ(heap.alloc(8, 0, GC_CODE_NATIVE), b);
    CAppsString out;
    int total = heap.getMemUsage(&out);
    // headers: sentinels 28 + 24, four blocks of 28 (three live, the free rest)
    EXPECT_EQ(total, 164 + 24 + 28);
    EXPECT_EQ(out.toLatin1(),
              "\nheaders 164 + actual 24 + wasted 28 + outsideHeap 0 = total 216\n"
              "stringContents=0 bitmapContents=0 fontContents=0\n"
              "nOfEntries=3 nOfPools=1 SzOfPools=64080 AllContents=63916 freeSpace=63864\n");
}

TEST_F(HeapFixture, ScribblingOverBlocksNeverEscapesTheSpace)
{
    // Bytecode can write any word anywhere in the heap, headers and trailers
    // included. Whatever it writes, allocation and freeing succeed or raise a
    // VM error, every collection completes, and what the roots hold survives.
    defineClass(1, {1, 2, 3}, {4}, {char(255)});
    std::mt19937 rng(1234);
    std::vector<Addr> live;
    std::set<Addr> rooted;  // roots whose block was never freed explicitly
    int collections = 0, refusedFrees = 0;
    for (int round = 0; round < 300; ++round) {
        for (int i = 0; i < 20; ++i) {
            uint32_t size = rng() % 80;
            int kind = int(rng() % 19);
            Addr p = heap.alloc(size, (rng() & 1) ? -1 : 0, kind);
            if (size >= 4 && kind == GC_CODE_INSTANCE)
                space.setRawWord(p, 1);
            live.push_back(p);
            if (rng() % 4 == 0) {
                heap.addRoot(p);
                rooted.insert(p);
            }
        }
        // Random words over random places of the first pool.
        auto blocks = heap.blocksOfPool(0);
        for (int i = 0; i < 10; ++i) {
            Addr base = blocks[rng() % blocks.size()];
            Addr at = base + 4 * (rng() % 12);
            uint32_t value;
            switch (rng() % 5) {
            case 0: value = rng(); break;
            case 1: value = live[rng() % live.size()]; break;
            case 2: value = rng() % 64; break;
            case 3: value = live[rng() % live.size()] - 24 + 4 * (rng() % 8); break;
            default: value = uint32_t(-int(rng() % 64)); break;
            }
            if (space.contains(at, 4))
                space.setRawWord(at, Word(value));
        }
        for (int i = 0; i < 5; ++i) {
            size_t k = rng() % live.size();
            // A block the collector took already is refused (code 10).
            int code = raisedCode([&] { heap.freeObject(live[k]); });
            if (code == 0)
                rooted.erase(live[k]);
            else
                ++refusedFrees;
            EXPECT_TRUE(code == 0 || code == KErrVm);
            live.erase(live.begin() + long(k));
        }
        if (round % 10 == 0) {
            heap.collect();  // never raises
            ++collections;
            for (Addr p : rooted)
                ASSERT_TRUE(heap.isLiveBlock(p)) << "round " << round;
            heap.getMemUsage(nullptr);  // its accounting check holds
        }
    }
    EXPECT_EQ(collections, 30);
    EXPECT_GT(refusedFrees, 0);
    EXPECT_GT(rooted.size(), 100u);
    // The structure is still whole: every pool walks from sentinel to
    // sentinel, and no two free-list nodes name one block.
    std::set<Addr> free;
    for (int k = 0; k < VMHeap::kFreeLists; ++k)
        for (auto [block, size] : heap.freeList(k))
            EXPECT_TRUE(free.insert(block).second) << block;
    for (int i = 0; i < heap.poolCount(); ++i)
        EXPECT_GE(heap.blocksOfPool(i).size(), 2u);
}

TEST_F(HeapFixture, WordsThatNameNoLiveBlockAreIgnoredWhereverTheCollectorReadsThem)
{
    // Class 1: a reference field at 1, array fields at 2 (references) and 3.
    defineClass(1, {1}, {2, 3}, {char(255), 0});
    Addr freed = heap.alloc(8, 0, GC_CODE_NATIVE);  // freed before the collections
    heap.alloc(4, 0, GC_CODE_NATIVE);
    // Blocks whose kind bytecode rewrote to an array holder of either kind.
    auto retyped = [&](uint32_t word0, int gcCode) {
        Addr p = heap.alloc(8, 0, GC_CODE_NATIVE);
        space.setRawWord(p, Word(word0));
        space.raw<HeapHeader>(p - 24)->gcCode = gcCode;
        return uint32_t(p);
    };
    const uint32_t bad[] = {0x1000, 0xFFFFFFFF, 5, 0xFFFFFFF0, freed, heap.blocksOfPool(0)[0] + 24,
                            retyped(0x1000, GC_CODE_ARRAY), retyped(0xFFFFFFFF, GC_CODE_OBJECT_ARRAY),
                            retyped(5, GC_CODE_OBJECT_ARRAY)};
    std::vector<Addr> cells;  // words the stack maps would name
    heap.addRootScanner([&](VMHeap& h) {
        for (Addr cell : cells) {
            h.markIfInHeap(h.space().rawWord(cell));               // a conservative word
            h.markArrayField(Addr(h.space().rawWord(cell)), true);  // an array slot
            h.markArrayField(cell, true);                           // an inline pair
            h.mark(Addr(h.space().rawWord(cell)));                  // a precise slot
        }
    });
    std::vector<Addr> kept;
    for (uint32_t w : bad) {
        auto keep = [&](Addr p) {
            heap.addRoot(p);
            kept.push_back(p);
            return p;
        };
        auto record = [&](uint32_t size, int gcCode, std::initializer_list<uint32_t> words) {
            Addr p = keep(heap.alloc(size, 0, gcCode));
            uint32_t at = 0;
            for (uint32_t v : words)
                space.setRawWord(p + 4 * at++, Word(v));
            return p;
        };
        heap.addRoot(w);  // a timer listener or an application object
        record(8, GC_CODE_ARRAY, {w, 4});
        record(8, GC_CODE_OBJECT_ARRAY, {w, 4});
        record(16, GC_CODE_INSTANCE, {1, w, w, w});
        record(4, GC_CODE_REFERENCE, {w});
        record(12, GC_CODE_DRAWABLE, {2, w, w});  // a bitmap's paint record
        record(12, GC_CODE_DRAWABLE, {1, w, w});
        // Vectors whose element word, and whose elements, name no block.
        Addr vector = record(16, GC_CODE_VECTOR, {0, w, 3, 3});
        record(8, GC_CODE_OBJECT_ARRAY, {vector, 4});
        Addr elements = record(12, GC_CODE_NATIVE, {w, w, w});
        Addr vector2 = record(16, GC_CODE_VECTOR, {0, elements, 3, 3});
        record(8, GC_CODE_OBJECT_ARRAY, {vector2, 4});
        cells.push_back(record(4, GC_CODE_NATIVE, {w}));
    }
    Addr garbage = heap.alloc(8, 0, GC_CODE_NATIVE);
    heap.freeObject(freed);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(raisedCode([&] { heap.collect(); }), 0);
    for (Addr p : kept)
        EXPECT_TRUE(heap.isLiveBlock(p)) << p;
    EXPECT_FALSE(heap.isLiveBlock(garbage));
    EXPECT_FALSE(heap.isLiveBlock(freed));
}

TEST_F(HeapFixture, AFreeBlockStaysFreeWhateverItsHeaderSays)
{
    // The free state comes from the heap's own records: a free block whose
    // header fields were overwritten is neither freed again by a sweep nor
    // handed out twice.
    const uint32_t values[] = {0, 1, 0xFFFFFFFF, 0x80000000, 1000, 6};
    for (int field = 0; field <= 6; ++field) {  // 6: every field at once
        for (uint32_t value : values) {
            VMSpace s;
            VMHeap h(s, 64000, nullptr, refs, arrays, flags);
            Addr big = h.alloc(1000, 0, GC_CODE_NATIVE);
            Addr guard = h.alloc(8, 0, GC_CODE_NATIVE);
            Addr rest = h.alloc(64000 - 1028 - 36, 0, GC_CODE_NATIVE);  // the pool's rest
            h.addRoot(guard);
            h.addRoot(rest);
            h.freeObject(big);  // the only free block
            uint32_t* words = s.raw<uint32_t>(big - 24);
            for (int f = 0; f < 6; ++f)
                if (f == field || field == 6)
                    words[f] = value;
            h.collect();
            h.collect();
            Addr a = h.alloc(1000, 0, GC_CODE_NATIVE);
            Addr b = h.alloc(1000, 0, GC_CODE_NATIVE);
            EXPECT_EQ(a, big) << field << " " << value;
            EXPECT_NE(a, b) << field << " " << value;
            EXPECT_TRUE(h.isLiveBlock(a));
            EXPECT_TRUE(h.isLiveBlock(b));
            EXPECT_EQ(h.nOfEntries(), 4);
            h.freeObject(a);
            EXPECT_EQ(raisedCode([&] { h.freeObject(a); }), KErrVm);  // the second free is refused
        }
    }
}

TEST_F(HeapFixture, PoolTotalsCountPastTwoGibibytes)
{
    space.setMemoryLimit(3ull << 30);
    const uint32_t block = 0x1000000 * 4;  // 64 MiB
    const int n = 36;                      // 2.25 GiB of pools
    for (int i = 0; i < n; ++i)
        heap.alloc(block, 0, GC_CODE_NATIVE);
    EXPECT_EQ(heap.poolCount(), 1 + n);
    EXPECT_EQ(heap.totalSizeOfPools(), 64080 + int64_t(n) * (int64_t(block) + 80));
    CAppsString out;
    EXPECT_EQ(heap.getMemUsage(&out), INT32_MAX);  // the total saturates
    EXPECT_NE(out.toLatin1().find("SzOfPools=" + std::to_string(64080 + int64_t(n) * (int64_t(block) + 80))),
              std::string::npos);
}

TEST_F(HeapFixture, AllocationBeyondTheMemoryLimitRaisesOutOfMemory)
{
    EXPECT_EQ(space.memoryLimit(), 1ull << 30);  // the default
    space.setMemoryLimit(space.committedBytes() + (4u << 20));
    Addr a = heap.alloc(3u << 20, 0, GC_CODE_NATIVE);
    auto error = errorOf([&] { heap.alloc(2u << 20, 0, GC_CODE_NATIVE); });
    EXPECT_EQ(error.first, KErrVm);
    EXPECT_EQ(error.second, "VMException: Out of memory");
    // Small blocks still come from the pools there are; a freed block is
    // reused without growing the space.
    uint64_t committed = space.committedBytes();
    Addr small = heap.alloc(100, 0, GC_CODE_NATIVE);
    EXPECT_TRUE(heap.isLiveBlock(small));
    heap.freeObject(a);
    EXPECT_EQ(heap.alloc(3u << 20, 0, GC_CODE_NATIVE), a);
    EXPECT_EQ(space.committedBytes(), committed);
    EXPECT_EQ(errorOf([&] { heap.allocPair(0x7FF00000, 0, GC_CODE_NATIVE, 0x7FF00000, 0, GC_CODE_NATIVE); })
                  .second,
              "VMException: Out of memory");
}

TEST_F(HeapFixture, ABigFreshBlockIsNotTouchedUntilWritten)
{
    // Resident memory grows by what the program writes, not by what it asks.
    auto residentBytes = [] {
        std::ifstream statm("/proc/self/statm");
        uint64_t size = 0, resident = 0;
        statm >> size >> resident;
        return resident * 4096;
    };
    uint64_t before = residentBytes();
    Addr p = heap.alloc(512u << 20, 0, GC_CODE_NATIVE);
    uint64_t after = residentBytes();
    // Signed: resident memory may also shrink meanwhile (memory the process
    // returns), which must not read as a huge growth.
    EXPECT_LT(int64_t(after) - int64_t(before), int64_t(64) << 20);
    EXPECT_EQ(space.rawWord(p + (256u << 20)), 0);
    EXPECT_EQ(heap.payloadSize(p), 512u << 20);
}

TEST(VMSpaceLimit, SizesAreReadWithBinaryUnits)
{
    uint64_t v = 0;
    EXPECT_TRUE(VMSpace::parseMemorySize("4096", v));
    EXPECT_EQ(v, 4096u);
    EXPECT_TRUE(VMSpace::parseMemorySize("64K", v));
    EXPECT_EQ(v, 65536u);
    EXPECT_TRUE(VMSpace::parseMemorySize("300m", v));
    EXPECT_EQ(v, 300ull << 20);
    EXPECT_TRUE(VMSpace::parseMemorySize("2GiB", v));
    EXPECT_EQ(v, 2ull << 30);
    EXPECT_TRUE(VMSpace::parseMemorySize("16MB", v));
    EXPECT_EQ(v, 16ull << 20);
    v = 7;
    for (const char* bad : {"", "0", "M", "12X", "1.5G", "-1", "10 M", "2000G", "99999999999999999999"})
        EXPECT_FALSE(VMSpace::parseMemorySize(bad, v)) << bad;
    EXPECT_EQ(v, 7u);
}
