// Counting build (-DMCB_COUNT_PAIRS): every dispatch records the pair
// (previous opcode, this opcode) of the plain instruction stream; the counts
// are written at exit, most frequent first, to the file that
// MCB_PAIR_COUNTS names (standard error without it). The counting build runs
// without superinstructions, so the pairs are those of the bytecode itself.
#pragma once

#include <cstdint>

namespace vm {

#ifdef MCB_COUNT_PAIRS
void countPair(uint8_t opcode);
#define COUNT_PAIR(opcode) ::vm::countPair(opcode)
constexpr bool kCountingPairs = true;
#else
#define COUNT_PAIR(opcode) ((void)0)
constexpr bool kCountingPairs = false;
#endif

}  // namespace vm
