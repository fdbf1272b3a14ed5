#include "Predecode.h"

#include <initializer_list>

#include "Opcodes.h"

namespace vm {

namespace {

// An element of a sequence: an opcode, or CALL_OF(group, function) for a
// native call of that group and function.
constexpr int kNativeElement = 0x10000;
#define CALL_OF(group, function) (kNativeElement | (group) << 8 | (function))

struct Sequence {
    int id;
    std::initializer_list<int> elements;
};

const Sequence kSequences[] = {
#define SUPER(id, ...) {SUPER_##id, {__VA_ARGS__}},
#define NATIVE(id, group, function)
#include "Superinstructions.def"
#undef NATIVE
#undef SUPER
};

struct NativeCall {
    int id;
    uint8_t group, function;
};

const NativeCall kNatives[] = {
#define SUPER(id, ...)
#define NATIVE(id, group, function) {SUPER_##id, group, function},
#include "Superinstructions.def"
#undef NATIVE
#undef SUPER
};

}  // namespace

int superAt(const uint8_t* code, size_t n, size_t at)
{
    if (code[at] == OP_NATIVE && at + 2 < n) {
        for (const NativeCall& c : kNatives)
            if (code[at + 1] == c.group && code[at + 2] == c.function)
                return c.id;
        return -1;
    }
    for (const Sequence& q : kSequences) {
        size_t p = at;
        bool match = true;
        for (int e : q.elements) {
            uint8_t op = e & kNativeElement ? uint8_t(OP_NATIVE) : uint8_t(e);
            if (p + 2 >= n || code[p] != op ||
                (e & kNativeElement && (code[p + 1] != (e >> 8 & 0xFF) || code[p + 2] != (e & 0xFF)))) {
                match = false;
                break;
            }
            p += 1 + size_t(operandLength(op));
        }
        if (match)
            return q.id;
    }
    return -1;
}

std::vector<uint8_t> predecode(const uint8_t* code, size_t n, bool superinstructions)
{
    std::vector<uint8_t> out(n, kInvalidDispatch);
    for (size_t p = 0; p < n; ++p) {
        if (!isInstruction(code[p]))
            continue;
        int k = superinstructions ? superAt(code, n, p) : -1;
        out[p] = k >= 0 ? superCode(k) : code[p];
    }
    return out;
}

}  // namespace vm
