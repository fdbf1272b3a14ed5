#include "Random.h"

#include <ctime>

namespace vm {

namespace {

constexpr int kN = 624;
constexpr int kM = 397;
constexpr TUint32 kMatrix = 0x9908B0DFu;

void regenerate(TUint32* mt)
{
    for (int i = 0; i < kN; ++i) {
        TUint32 y = (mt[i] & 0x80000000u) | (mt[(i + 1) % kN] & 0x7FFFFFFFu);
        mt[i] = mt[(i + kM) % kN] ^ (y >> 1) ^ ((y & 1) ? kMatrix : 0u);
    }
}

}  // namespace

TUint32 drawRandom(VirtualMachine& aVm)
{
    if (!aVm.random)
        aVm.seedRandom(TUint32(std::clock()));
    VirtualMachine::RandomState& state = *aVm.random;
    if (state.index <= 0 || state.index >= kN) {
        regenerate(state.mt);
        state.index = 0;
    }
    TUint32 y = state.mt[state.index];
    state.index = (state.index + 1) % kN;
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}

}  // namespace vm
