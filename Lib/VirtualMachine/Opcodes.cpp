#include "Opcodes.h"

namespace vm {

namespace {
struct Table {
    OpcodeInfo info[256];
    constexpr Table() : info{}
    {
        for (auto& i : info)
            i = OpcodeInfo{nullptr, 0, OperandFormat::NONE};
#define OP(code, id, mnemonic, bytes, fmt) info[code] = OpcodeInfo{mnemonic, bytes, OperandFormat::fmt};
#include "Opcodes.def"
#undef OP
    }
};
constexpr Table kTable;
}  // namespace

const OpcodeInfo kOpcodeInfo[256] = {
#define X(i) kTable.info[i]
#define X8(i) X(i), X(i + 1), X(i + 2), X(i + 3), X(i + 4), X(i + 5), X(i + 6), X(i + 7)
#define X64(i) X8(i), X8(i + 8), X8(i + 16), X8(i + 24), X8(i + 32), X8(i + 40), X8(i + 48), X8(i + 56)
    X64(0), X64(64), X64(128), X64(192)
#undef X64
#undef X8
#undef X
};

}  // namespace vm
