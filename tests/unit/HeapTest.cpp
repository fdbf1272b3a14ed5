#include <gtest/gtest.h>

#include "Heap.h"

using namespace vm;

namespace {
struct HeapFixture : ::testing::Test {
    Vec<Vec<int> > refs, arrays;
    Vec<Vec<char> > flags;
    VMSpace space;
    VMHeap heap{space, 64000, nullptr, refs, arrays, flags};
};
}  // namespace

TEST_F(HeapFixture, SmokeAllocFree)
{
    Addr a = heap.alloc(16, 0, GC_CODE_NATIVE);
    EXPECT_NE(a, 0u);
    EXPECT_EQ(heap.nOfEntries(), 1);
    heap.freeObject(a);
    EXPECT_EQ(heap.nOfEntries(), 0);
}
