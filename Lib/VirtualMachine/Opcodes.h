// Opcode enum and per-opcode tables, generated from Opcodes.def.
#pragma once

#include <cstdint>

namespace vm {

enum class OperandFormat : uint8_t {
    NONE, S8, S32, BR16, BR32, CALL, VCALL, RET, NEW, NEWW, STR, CLASS, TRY, NATIVE, EXT, IMM64, S8S8
};

enum Opcode : uint8_t {
#define OP(code, id, mnemonic, bytes, fmt) OP_##id = code,
#include "Opcodes.def"
#undef OP
};

struct OpcodeInfo {
    const char* mnemonic;   // null for bytes that are no instruction
    uint8_t operandBytes;   // 0 for bytes that are no instruction
    OperandFormat format;
};

// Indexed by the opcode byte (0-255).
extern const OpcodeInfo kOpcodeInfo[256];

inline int operandLength(uint8_t opcode) { return kOpcodeInfo[opcode].operandBytes; }
inline bool isInstruction(uint8_t opcode) { return kOpcodeInfo[opcode].mnemonic != nullptr; }

}  // namespace vm
