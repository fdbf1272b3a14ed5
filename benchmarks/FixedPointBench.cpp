// Fixed-point multiply-add, acc = acc * k + c for 10 000 000 iterations: in
// bytecode through the Fixed natives, and the same loop in C++ on __int128.
// Both end with the same accumulator; a mismatch fails the run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Assembler.h"
#include "HeadlessHost.h"
#include "IO/CAppsFileReader.h"
#include "ORaw.h"
#include "VirtualMachine.h"

namespace {

constexpr int kIterations = 10000000;
constexpr int64_t kStart = int64_t(1) << 32;     // 1.0
constexpr int64_t kFactor = 0xFFBE76C9LL;        // about 0.999
constexpr int64_t kAddend = int64_t(1) << 30;    // 0.25

// Globals: words 0-1 acc, word 2 the remaining iterations.
const char* const kProgram = R"(
.module "bench-fixed"
.globals 3
.map m params 0 extra 0 locals 0
.static "main" main map m
.static "::global::init" init map m
.code
init:
    globals
    field.s 2
    push 10000000
    stind
    globals
    push2 0, 1                  ; acc = 1.0
    storen.s 2
    ret 0, 1
main:
loop:
    globals                     ; &acc
    dup
    native Fixed 1              ; &acc, acc
    push2 0xFFBE76C9, 0         ; k
    native Fixed 9              ; &acc, acc * k
    push2 0x40000000, 0         ; c
    native Fixed 7              ; &acc, acc * k + c
    storen.s 2
    globals
    field.s 2
    dec.i
    globals
    field.s 2
    ldind
    jz.s done
    jmp.s loop
done:
    ret 0, 1
)";

// The fixed multiply and add of the runtime, written out on __int128.
inline int64_t mulAdd(int64_t acc, int64_t k, int64_t c)
{
    __int128 p = __int128(acc) * k;
    __int128 m = (p < 0 ? -p : p) >> 32;
    __int128 product = p < 0 ? -m : m;
    if (product > INT64_MAX)
        product = INT64_MAX;
    else if (product < INT64_MIN)
        product = INT64_MIN;
    __int128 sum = product + c;
    if (sum > INT64_MAX)
        return INT64_MAX;
    if (sum < INT64_MIN)
        return INT64_MIN;
    return int64_t(sum);
}

int64_t nativeLoop()
{
    int64_t acc = kStart;
    for (int i = 0; i < kIterations; ++i) {
        acc = mulAdd(acc, kFactor, kAddend);
        benchmark::DoNotOptimize(acc);
    }
    return acc;
}

void BM_FixedMulAddBytecode(benchmark::State& state)
{
    std::vector<uint8_t> bytes;
    try {
        bytes = mcb::assemble(kProgram, "FixedPointBench");
    } catch (const mcb::AsmError& e) {
        state.SkipWithError(e.what());
        return;
    }
    int64_t expected = nativeLoop();
    for (auto _ : state) {
        state.PauseTiming();
        vm::HeadlessHost host;
        auto machine = std::make_unique<vm::VirtualMachine>();
        CAppsFileReader reader(bytes.data(), TUint32(bytes.size()));
        state.ResumeTiming();
        try {
            machine->start(reader, CAppsString("index.mcb"), &host);
        } catch (...) {
            state.SkipWithError("the program did not run to its end");
            return;
        }
        state.PauseTiming();
        vm::Addr g = vm::Addr(machine->globals());
        int64_t acc = vm::ORaw::fromWords(machine->space().loadWord(g), machine->space().loadWord(g + 4));
        if (acc != expected) {
            state.SkipWithError("bytecode and C++ results differ");
            return;
        }
        machine.reset();
        state.ResumeTiming();
    }
    state.counters["per_iteration"] = benchmark::Counter(double(kIterations) * double(state.iterations()),
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FixedMulAddNative(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(nativeLoop());
    state.counters["per_iteration"] = benchmark::Counter(double(kIterations) * double(state.iterations()),
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_FixedMulAddBytecode)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FixedMulAddNative)->Unit(benchmark::kMillisecond)->Iterations(10);

BENCHMARK_MAIN();
