// The pause of the collection that ends an invocation from outside: the
// globals block is scanned conservatively, then the heap marks and sweeps.
// The live set is a list of instances, each naming a string, every fourth
// also holding an int vector (instance, string object and box, vector record
// and element array), N blocks in all; before each collection a frame's
// worth of garbage of the same mix is made (1000 instances with theirs).
#include <benchmark/benchmark.h>

#include <string>

#include "Containers/OString.h"
#include "Containers/OVector.h"
#include "Heap.h"
#include "StringObjects.h"

using namespace vm;

namespace {

// Class 1: word 1 the next instance, word 2 a string, word 3 an int vector.
struct Tables {
    Vec<Vec<int> > refs, arrays;
    Vec<Vec<char> > flags;
    Tables()
    {
        refs.append(Vec<int>());
        refs.append(Vec<int>{1, 2});
        arrays.append(Vec<int>());
        arrays.append(Vec<int>{3});
        flags.append(Vec<char>());
        flags.append(Vec<char>{0});
    }
};

// A list of `count` instances in front of `next`; returns its head.
Addr makeList(VMHeap& heap, int count, Addr next)
{
    VMSpace& space = heap.space();
    for (int i = 0; i < count; ++i) {
        Addr p = heap.alloc(16, 0, GC_CODE_INSTANCE);
        space.setRawWord(p, 1);
        space.setRawWord(p + 4, Word(next));
        std::u16string text = u"item " + std::u16string(1, char16_t(u'a' + i % 26));
        space.setRawWord(p + 8, Word(newStringObject(heap, OString(std::u16string_view(text)))));
        if (i % 4 == 0)
            OVector::createRecord(heap, 4, 8).storeInto(p + 12);
        next = p;
    }
    return next;
}

void BM_GcPause(benchmark::State& state)
{
    const int live = int(state.range(0));
    Tables t;
    VMSpace space;
    VMHeap heap(space, 64000, nullptr, t.refs, t.arrays, t.flags);
    Addr globals = heap.alloc(16, 0, GC_CODE_NATIVE);
    heap.addRoot(globals);
    heap.addRootScanner([globals](VMHeap& h) {
        for (uint32_t i = 0; i < 4; ++i)
            if (uint32_t w = uint32_t(h.space().rawWord(globals + 4 * i)); w >= VMSpace::kFirst)
                h.markIfInHeap(w);
    });
    // 14 blocks for every 4 instances.
    space.setRawWord(globals, Word(makeList(heap, live / 14 * 4, 0)));
    const int expected = heap.nOfEntries();
    for (auto _ : state) {
        state.PauseTiming();
        makeList(heap, 1000, 0);
        state.ResumeTiming();
        heap.collect();
    }
    if (heap.nOfEntries() != expected)
        state.SkipWithError("the live set changed");
    state.counters["live_blocks"] = double(expected);
}
BENCHMARK(BM_GcPause)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
