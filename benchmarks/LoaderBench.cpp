// Loader speed on files that stress one table each: many distinct virtual
// method names (name merging), many stack maps, many strings. Each should
// grow linearly with the file: compare the per-entry times across sizes.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "IO/CAppsFileReader.h"
#include "VirtualMachine.h"

using namespace vm;

namespace {

struct File {
    std::vector<uint8_t> b;
    void u8(int v) { b.push_back(uint8_t(v)); }
    void i32(int32_t v)
    {
        for (int i = 0; i < 4; ++i)
            u8(int(uint32_t(v) >> (8 * i)) & 0xFF);
    }
    void text(const std::string& s)
    {
        i32(int32_t(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    }
    void header()
    {
        u8(20);
        for (int i = 0; i < 20; ++i)
            u8('b');
        u8(0xFF);
        u8(0xFF);
        for (int i = 0; i < 9; ++i)
            u8(1);
    }
};

// Four-byte names, all distinct.
std::string nameOf(int i)
{
    std::string s(4, ' ');
    for (int k = 0; k < 4; ++k, i /= 64)
        s[size_t(k)] = char('0' + i % 64);
    return s;
}

std::vector<uint8_t> virtualNames(int n)
{
    File f;
    f.header();
    f.i32(0);
    f.i32(n);
    for (int i = 0; i < n; ++i) {
        f.text(nameOf(i));
        f.u8(0);  // no implementations
    }
    f.i32(0);
    f.i32(0);
    f.i32(0);
    f.i32(0);
    return f.b;
}

std::vector<uint8_t> mapsAndStrings(int n)
{
    File f;
    f.header();
    f.i32(0);
    f.i32(0);
    f.i32(0);
    f.i32(0);
    f.i32(n);
    for (int i = 0; i < n; ++i) {
        f.u8(1);
        f.u8(1);
        f.i32(1);
        f.u8(2);
        f.i32(0);
        f.u8(0);
        f.u8(3);
        f.i32(1);
        f.u8(1);
        f.i32(0);
    }
    f.i32(n);
    for (int i = 0; i < n; ++i)
        f.text(nameOf(i));
    return f.b;
}

void load(benchmark::State& state, const std::vector<uint8_t>& file)
{
    for (auto _ : state) {
        VirtualMachine vm;
        CAppsFileReader reader(file.data(), TUint32(file.size()));
        int index = -1;
        if (!vm.loadModule(reader, CAppsString("index.mcb"), index))
            state.SkipWithError("the file did not load");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LoadVirtualNames(benchmark::State& state)
{
    load(state, virtualNames(int(state.range(0))));
}
BENCHMARK(BM_LoadVirtualNames)->Arg(10000)->Arg(80000)->Arg(320000)->Unit(benchmark::kMillisecond);

void BM_LoadStackMapsAndStrings(benchmark::State& state)
{
    load(state, mapsAndStrings(int(state.range(0))));
}
BENCHMARK(BM_LoadStackMapsAndStrings)->Arg(10000)->Arg(80000)->Arg(320000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
