// The heap: allocation, splitting and merging, the free lists, marking,
// collection, the memory report, and resistance to corrupted blocks.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "Containers/CAppsString.h"
#include "Heap.h"
#include "ObjectModel.h"

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

TEST_F(HeapFixture, PreciseReferencesToFreeBlocksOrSentinelsRaiseAndNonBlocksAreIgnored)
{
    Addr a = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr b = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr box = newBox(heap, Word(a));
    heap.freeObject(a);
    EXPECT_EQ(raisedCode([&] { heap.mark(a); }), KErrVm);
    EXPECT_EQ(raisedCode([&] { heap.mark(heap.blocksOfPool(0)[0] + 24); }), KErrVm);
    EXPECT_EQ(raisedCode([&] { heap.mark(b + 4); }), 0);
    EXPECT_EQ(raisedCode([&] { heap.mark(99); }), 0);
    EXPECT_FALSE(heap.isMarked(b));
    // A failed marking leaves no stale marks behind.
    heap.addRoot(box);
    EXPECT_EQ(raisedCode([&] { heap.collect(); }), KErrVm);
    EXPECT_FALSE(heap.isMarked(box));
    heap.removeRoot(box);
    heap.collect();
    EXPECT_FALSE(heap.isLiveBlock(b));
}

TEST_F(HeapFixture, DrawableOfUnknownKindRaises)
{
    Addr d = heap.alloc(12, 0, GC_CODE_DRAWABLE);
    space.setRawWord(d, 3);
    heap.addRoot(d);
    EXPECT_EQ(raisedCode([&] { heap.collect(); }), KErrVm);
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
    // Bytecode can write any word anywhere in the heap. Whatever it writes,
    // allocation, freeing and collection stay inside the space: they succeed or
    // raise a VM error, and the host-side structure stays consistent.
    defineClass(1, {1, 2, 3}, {4}, {char(255)});
    std::mt19937 rng(1234);
    std::vector<Addr> live;
    for (int round = 0; round < 300; ++round) {
        for (int i = 0; i < 20; ++i) {
            try {
                uint32_t size = rng() % 80;
                int kind = int(rng() % 19);
                Addr p = heap.alloc(size, (rng() & 1) ? -1 : 0, kind);
                if (size >= 4 && kind == GC_CODE_INSTANCE)
                    space.setRawWord(p, 1);
                live.push_back(p);
                if (rng() % 4 == 0)
                    heap.addRoot(p);
            } catch (const ErrorHandlingException&) {
                clearPendingError();
            }
        }
        // Scribble random words over random places of the first pool, headers
        // and trailers included.
        auto blocks = heap.blocksOfPool(0);
        for (int i = 0; i < 10; ++i) {
            Addr base = blocks[rng() % blocks.size()];
            Addr at = base + 4 * (rng() % 12);
            uint32_t value;
            switch (rng() % 4) {
            case 0: value = rng(); break;
            case 1: value = live.empty() ? 0 : live[rng() % live.size()]; break;
            case 2: value = rng() % 64; break;
            default: value = uint32_t(-int(rng() % 64)); break;
            }
            if (space.contains(at, 4))
                space.setRawWord(at, Word(value));
        }
        for (int i = 0; i < 5 && !live.empty(); ++i) {
            size_t k = rng() % live.size();
            try {
                heap.freeObject(live[k]);
            } catch (const ErrorHandlingException&) {
                clearPendingError();
            }
            live.erase(live.begin() + long(k));
        }
        if (round % 10 == 0) {
            try {
                heap.collect();
            } catch (const ErrorHandlingException&) {
                clearPendingError();
            }
            try {
                heap.getMemUsage(nullptr);
            } catch (const ErrorHandlingException&) {
                clearPendingError();
            }
        }
    }
    // The structure is still whole: every pool walks from sentinel to sentinel.
    for (int i = 0; i < heap.poolCount(); ++i) {
        auto blocks = heap.blocksOfPool(i);
        EXPECT_GE(blocks.size(), 2u);
    }
}
