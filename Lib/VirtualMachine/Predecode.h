// The pre-decoded form of the code: one dispatch byte per code byte.
//
// The interpreter keeps its pc in the original code (return addresses,
// handler positions and error positions stay code addresses) and dispatches
// on the byte at the same position of the pre-decoded stream. That byte is
// the opcode itself, kInvalidDispatch for a byte that is no instruction, or
// the code of a superinstruction (Superinstructions.def) when the sequence
// starting at that position is one. Every position is decoded on its own, so
// a branch to any byte, even inside an instruction or a sequence, runs what
// the original bytes say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vm {

enum SuperId : int {
#define SUPER(id, ...) SUPER_##id,
#define NATIVE(id, group, function) SUPER_##id,
#include "Superinstructions.def"
#undef NATIVE
#undef SUPER
    kSuperCount
};

constexpr bool isOpcodeByte(int b)
{
    switch (b) {
#define OP(code, id, mnemonic, bytes, fmt) case code:
#include "Opcodes.def"
#undef OP
        return true;
    default:
        return false;
    }
}

// The dispatch byte of every byte that is no instruction.
constexpr uint8_t kInvalidDispatch = 0xFF;

// Superinstruction k dispatches on the k-th byte that is no opcode.
constexpr uint8_t superCode(int k)
{
    for (int b = 0, seen = 0; b < kInvalidDispatch; ++b)
        if (!isOpcodeByte(b) && seen++ == k)
            return uint8_t(b);
    return kInvalidDispatch;
}

static_assert(!isOpcodeByte(kInvalidDispatch), "0xFF pads the code");
static_assert(superCode(kSuperCount - 1) != kInvalidDispatch, "too many superinstructions");

// The dispatch stream of `code` (n bytes, padding included); without
// superinstructions only opcodes and kInvalidDispatch.
std::vector<uint8_t> predecode(const uint8_t* code, size_t n, bool superinstructions);

// The superinstruction whose sequence starts at code[at], or -1. The code
// must be padded (an invalid byte ends every sequence before the buffer ends).
int superAt(const uint8_t* code, size_t n, size_t at);

}  // namespace vm
