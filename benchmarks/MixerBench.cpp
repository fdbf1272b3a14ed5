// The audio mixer's write callback: mixing with 8 and with 32 channels
// playing, per output sample, against a plain sum of the same channels into
// the same buffer (no lock, no states, no tail, no clamp). "core_share" is
// the share of one core the mixer needs at 16 kHz (CPU time per second of
// sound).
#include <benchmark/benchmark.h>

#include <vector>

#include "VirtualMachineExtensions/AudioMixer/AudioMixer.h"

using namespace ext;

namespace {

constexpr size_t kChunk = 800;  // samples per write request (50 ms)

std::vector<int16_t> sound(int aSeed)
{
    std::vector<int16_t> s(1 << 20);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t((i * 2654435761u + unsigned(aSeed) * 40503u) >> 20);
    return s;
}

void report(benchmark::State& aState)
{
    double samples = double(aState.iterations()) * kChunk;
    aState.counters["per_sample"] = benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    aState.counters["core_share"] =
        benchmark::Counter(samples / 16000, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Mixer(benchmark::State& aState)
{
    AudioMixer mixer(nullptr);
    int channels = int(aState.range(0));
    for (int c = 0; c < channels; ++c) {
        mixer.addChannel(sound(c));
        mixer.setVolume(c, 200 + c);
        mixer.play(c);
    }
    std::vector<int16_t> out(kChunk);
    size_t played = 0;
    for (auto _ : aState) {
        mixer.mix(out.data(), kChunk);
        benchmark::DoNotOptimize(out.data());
        if ((played += kChunk) + kChunk >= (1 << 20)) {  // keep every channel playing
            for (int c = 0; c < channels; ++c)
                mixer.play(c);
            played = 0;
        }
    }
    report(aState);
}

void PlainSum(benchmark::State& aState)
{
    int channels = int(aState.range(0));
    std::vector<std::vector<int16_t> > sounds;
    for (int c = 0; c < channels; ++c)
        sounds.push_back(sound(c));
    std::vector<int16_t> out(kChunk);
    size_t index = 0;
    for (auto _ : aState) {
        for (size_t i = 0; i < kChunk; ++i) {
            int32_t acc = 0;
            for (int c = 0; c < channels; ++c)
                acc += sounds[size_t(c)][index + i] * (200 + c);
            out[i] = int16_t(acc >> 8);
        }
        benchmark::DoNotOptimize(out.data());
        if ((index += kChunk) + kChunk >= (1 << 20))
            index = 0;
    }
    report(aState);
}

}  // namespace

BENCHMARK(Mixer)->Arg(8)->Arg(32);
BENCHMARK(PlainSum)->Arg(8)->Arg(32);
BENCHMARK_MAIN();
