// Heap speed: allocation and freeing of small blocks against malloc/free of
// the same sizes, and full collections over a million small objects.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "Heap.h"

using namespace vm;

namespace {

struct Tables {
    Vec<Vec<int> > refs, arrays;
    Vec<Vec<char> > flags;
    Tables()
    {
        // Class 1: an instance whose word 1 refers to the next one.
        refs.append(Vec<int>());
        refs.append(Vec<int>{1});
        arrays.append(Vec<int>());
        arrays.append(Vec<int>());
        flags.append(Vec<char>());
        flags.append(Vec<char>());
    }
};

// Sizes 16 to 64 bytes in a fixed pseudo-random order.
std::vector<uint32_t> smallSizes()
{
    std::mt19937 rng(42);
    std::vector<uint32_t> sizes(1024);
    for (uint32_t& s : sizes)
        s = 16 + 4 * (rng() % 13);
    return sizes;
}

constexpr int kBatch = 256;  // live blocks before they are freed again

void BM_HeapAllocFree(benchmark::State& state)
{
    Tables t;
    VMSpace space;
    VMHeap heap(space, 64000, nullptr, t.refs, t.arrays, t.flags);
    std::vector<uint32_t> sizes = smallSizes();
    std::vector<Addr> live(kBatch);
    size_t k = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            live[size_t(i)] = heap.alloc(sizes[k++ & 1023], 0, GC_CODE_NATIVE);
        for (int i = 0; i < kBatch; ++i)
            heap.freeObject(live[size_t(i)]);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_HeapAllocFree);

void BM_MallocFree(benchmark::State& state)
{
    std::vector<uint32_t> sizes = smallSizes();
    std::vector<void*> live(kBatch);
    size_t k = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            live[size_t(i)] = std::malloc(sizes[k++ & 1023]);
            benchmark::DoNotOptimize(live[size_t(i)]);
        }
        for (int i = 0; i < kBatch; ++i)
            std::free(live[size_t(i)]);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MallocFree);

constexpr int kObjects = 1000000;

// A list of a million two-word instances kept alive by a root.
void BM_CollectMillionLive(benchmark::State& state)
{
    Tables t;
    VMSpace space;
    VMHeap heap(space, 64000, nullptr, t.refs, t.arrays, t.flags);
    Addr head = 0;
    for (int i = 0; i < kObjects; ++i) {
        Addr p = heap.alloc(8, 0, GC_CODE_INSTANCE);
        space.setRawWord(p, 1);
        space.setRawWord(p + 4, Word(head));
        head = p;
    }
    heap.addRoot(head);
    for (auto _ : state)
        heap.collect();
    if (heap.nOfEntries() != kObjects)
        state.SkipWithError("objects were lost");
}
BENCHMARK(BM_CollectMillionLive)->Unit(benchmark::kMillisecond);

// A million unreachable instances, made again before every collection.
void BM_CollectMillionDead(benchmark::State& state)
{
    Tables t;
    VMSpace space;
    VMHeap heap(space, 64000, nullptr, t.refs, t.arrays, t.flags);
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kObjects; ++i)
            space.setRawWord(heap.alloc(8, 0, GC_CODE_INSTANCE), 1);
        state.ResumeTiming();
        heap.collect();
    }
    if (heap.nOfEntries() != 0)
        state.SkipWithError("garbage survived");
}
BENCHMARK(BM_CollectMillionDead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
