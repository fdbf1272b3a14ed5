// The interpreter loop: one decision per instruction or superinstruction, on
// the byte of the pre-decoded stream (Predecode.h) at the pc.
//
// Invariants while bytecode runs: 0 <= top < kStackWords at every dispatch
// (checked there; instructions with a fixed arity may stray into the guard
// words around the stack before the check catches it, variable counts are
// checked before use); pc is the address of the current opcode; the code is
// surrounded by kCodePadding invalid opcodes, so operand reads never leave it
// and a short jump out of the code meets an invalid opcode, which reports the
// address. Long jumps, calls and returns check their target.
// Every access to memory through an address goes through the space's checks.
//
// A superinstruction first tests everything that would make one of its
// instructions fault at dispatch (the stack bounds, slot indexes); when any
// test fails it runs its first instruction alone, so every fault is raised by
// the plain handlers at the instruction's own pc. Past those tests it stores
// what the instructions would store, in their order (words above the new top
// included), and advances the pc to an instruction before a step that may
// raise, so the error names that instruction.
#include <bit>
#include <cstring>
#include <string>

#include "Containers/OVector.h"
#include "ORaw.h"
#include "ObjectModel.h"
#include "Opcodes.h"
#include "PairCounts.h"
#include "Predecode.h"
#include "StringObjects.h"
#include "TraceRecorder.h"
#include "VirtualMachine.h"

#if defined(__GNUC__) && !defined(MCB_SWITCH_DISPATCH)
#define MCB_COMPUTED_GOTO 1
#else
#define MCB_COMPUTED_GOTO 0
#endif

namespace vm {

namespace {

inline int32_t s32At(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline int16_t s16At(const uint8_t* p)
{
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

static_assert(std::endian::native == std::endian::little, "a fixed value's low word lies first");
inline TInt64 fixedAt(const int32_t* p)
{
    TInt64 v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void setFixed(int32_t* p, TInt64 v)
{
    std::memcpy(p, &v, 8);
}

inline int32_t shiftLeft(int32_t a, int64_t b);
inline int32_t shiftRight(int32_t a, int64_t b)
{
    if (b > 31)
        return 0;
    if (b < 0)
        return shiftLeft(a, -b);
    return a >> b;
}
inline int32_t shiftLeft(int32_t a, int64_t b)
{
    if (b > 31)
        return 0;
    if (b < 0)
        return shiftRight(a, -b);
    return int32_t(uint32_t(a) << b);
}
inline int32_t divide(int32_t a, int32_t b)
{
    if (b == 0)
        raiseVmError(KErrDivisionByZero);
    if (b == -1)
        return int32_t(0u - uint32_t(a));
    return a / b;
}
inline int32_t remainder(int32_t a, int32_t b)
{
    if (b == 0)
        raiseVmError(KErrDivisionByZero);
    if (b == -1)
        return 0;
    return a % b;
}
// A byte divisor whose low byte is 0 divides by zero too.
inline int32_t byteDivisor(int32_t t)
{
    int32_t b8 = int8_t(t);
    if (b8 == 0)
        raiseVmError(KErrDivisionByZero, "Division by zero.");
    return b8;
}
inline int32_t byteShiftLeft(int32_t x8, int32_t s)
{
    if (s > 0)
        return s >= 8 ? 0 : int32_t(uint32_t(x8) << s);
    if (s == 0)
        return x8;
    return x8 < 0 ? 0xFF : 0;
}
inline int32_t byteShiftRight(int32_t x8, int32_t s)
{
    if (s > 0)
        return s >= 7 ? (x8 < 0 ? 0xFF : 0) : x8 >> s;
    if (s == 0)
        return x8;
    return 0;
}
inline Word truth(bool b)
{
    return b ? -1 : 0;
}

}  // namespace

void VirtualMachine::run()
{
    const uint8_t* const code = codeBytes();
    const uint8_t* const xs = dispatch_.data() + kCodePadding;  // pre-decoded, same positions
    int32_t* const s = stack_;
    VMSpace& mem = space_;
    const uint8_t* ip = code + this->pc;
    const int64_t codeLength = codeEnd_;
    int64_t budget = stepBudget_;
    intptr_t top = this->top;  // 64-bit: indexes without sign extension

#define T s[top]
#define U s[top - 1]
#define PC int32_t(ip - code)
#define OPERAND8() int32_t(int8_t(ip[1]))
#define OPERAND16() int32_t(s16At(ip + 1))
#define OPERAND32() s32At(ip + 1)
#define OPERAND32_AT(k) s32At(ip + 1 + (k))
// Native calls and helpers see the interpreter's registers through members.
#define SAVE()           \
    do {                 \
        this->pc = PC;       \
        this->top = int32_t(top); \
        stepBudget_ = budget; \
    } while (0)
#define LOAD() top = this->top
#define CHECK_SLOT(i) \
    if (uint64_t(int64_t(i)) >= uint64_t(kStackWords)) [[unlikely]] badSlot(int64_t(i))
#define NEED(n) \
    if ((n) > top + 1) [[unlikely]] { SAVE(); stackFault(int32_t(std::max<int64_t>(top - (n), INT32_MIN))); }
// A 16-bit branch; backward branches count against the step limit.
#define JUMP_SHORT(offset)                                     \
    do {                                                       \
        int32_t o_ = (offset);                                 \
        ip += 2 + o_;                                          \
        if (o_ < 0 && --budget < 0) [[unlikely]] {             \
            SAVE();                                            \
            fatal("Step limit reached", PC);                   \
        }                                                      \
    } while (0)
#define JUMP_TO(target)                                        \
    do {                                                       \
        int64_t t_ = (target);                                 \
        if (uint64_t(t_) >= uint64_t(codeLength)) [[unlikely]] { \
            SAVE();                                            \
            badCodeAddress(int32_t(t_));                       \
        }                                                      \
        if (--budget < 0) [[unlikely]] {                       \
            SAVE();                                            \
            fatal("Step limit reached", PC);                   \
        }                                                      \
        ip = code + t_;                                        \
    } while (0)

#if MCB_COMPUTED_GOTO
    // Labels in the order of the opcode table, then the table by opcode byte.
    static void* const dense[] = {
        &&L_INVALID,
#define OP(code, id, mnemonic, bytes, fmt) &&L_##id,
#include "Opcodes.def"
#undef OP
#define SUPER(id, ...) &&L_SUPER_##id,
#define NATIVE(id, group, function) SUPER(id)
#include "Superinstructions.def"
#undef NATIVE
#undef SUPER
    };
    static void* const* const labels = [](void* const* d) {
        static void* table[256];
        for (int i = 0; i < 256; ++i)
            table[i] = d[0];
        int k = 1;
#define OP(code, id, mnemonic, bytes, fmt) table[code] = d[k++];
#include "Opcodes.def"
#undef OP
#define SUPER(id, ...) table[superCode(SUPER_##id)] = d[k++];
#define NATIVE(id, group, function) SUPER(id)
#include "Superinstructions.def"
#undef NATIVE
#undef SUPER
        return static_cast<void* const*>(table);
    }(dense);
    void* const* const L = labels;
// After a superinstruction that proved the new top in range.
#define DISPATCH_PROVEN()    \
    do {                     \
        COUNT_PAIR(*ip);     \
        goto* L[xs[ip - code]]; \
    } while (0)
#define DISPATCH()                                               \
    do {                                                         \
        if (uint64_t(top) >= uint64_t(kStackWords)) [[unlikely]] \
            goto stack_fault;                                    \
        DISPATCH_PROVEN();                                       \
    } while (0)
// The plain handler of the instruction at ip (a superinstruction's fallback).
#define PLAIN() goto* L[*ip]
#define CASE(id) L_##id:
#define SUPER_CASE(id) L_SUPER_##id:
#define DEFAULT L_INVALID:
#else
    uint8_t op;
#define DISPATCH() goto dispatch
#define DISPATCH_PROVEN() goto dispatch
#define PLAIN()     \
    do {            \
        op = *ip;   \
        goto plain; \
    } while (0)
#define CASE(id) case OP_##id:
#define SUPER_CASE(id) case superCode(SUPER_##id):
#define DEFAULT default:
#endif
#define NEXT(n)            \
    do {                   \
        ip += 1 + (n);     \
        DISPATCH();        \
    } while (0)

    try {
#if MCB_COMPUTED_GOTO
        DISPATCH();
#else
    dispatch:
        if (uint64_t(top) >= uint64_t(kStackWords)) [[unlikely]]
            goto stack_fault;
        COUNT_PAIR(*ip);
        op = xs[ip - code];
    plain:
        switch (op) {
#endif

        // --- Stack, slots and locals ---------------------------------
        CASE(NOP) NEXT(0);
        CASE(LDSLOT_S)
        {
            intptr_t i = top + 1 + OPERAND8();
            CHECK_SLOT(i);
            int32_t v = s[i];
            s[++top] = v;
            NEXT(1);
        }
        CASE(LDSLOT)
        {
            int64_t i = int64_t(top) + 1 + OPERAND32();
            CHECK_SLOT(i);
            int32_t v = s[i];
            s[++top] = v;
            NEXT(4);
        }
        CASE(LDADDR_S)
        {
            intptr_t i = top + 1 + OPERAND8();
            CHECK_SLOT(i);
            s[top + 1] = Word(slotAddress(i));
            ++top;
            NEXT(1);
        }
        CASE(LDADDR)
        {
            int64_t i = int64_t(top) + 1 + OPERAND32();
            CHECK_SLOT(i);
            s[top + 1] = Word(slotAddress(int(i)));
            ++top;
            NEXT(4);
        }
        CASE(ADJUST_S)
        {
            int32_t n = OPERAND8();
            if (n <= 0) {
                NEED(-n);
                top += n;
            } else {
                if (top + n >= kStackWords) {
                    SAVE();
                    stackFault(top + n);
                }
                std::memset(s + top + 1, 0, size_t(n) * 4);
                top += n;
            }
            NEXT(1);
        }
        CASE(ADJUST)
        {
            int64_t n = OPERAND32();
            if (n <= 0) {
                NEED(-n);
                top += int32_t(n);
            } else {
                if (top + n >= kStackWords) {
                    SAVE();
                    stackFault(int32_t(std::min<int64_t>(top + n, INT32_MAX)));
                }
                std::memset(s + top + 1, 0, size_t(n) * 4);
                top += int32_t(n);
            }
            NEXT(4);
        }
        CASE(DUP)
        {
            int32_t v = T;
            s[++top] = v;
            NEXT(0);
        }
        CASE(PUSH)
        {
            s[++top] = OPERAND32();
            NEXT(4);
        }
        CASE(LDTRUE)
        {
            s[++top] = -1;
            NEXT(0);
        }
        CASE(LDZERO)
        {
            s[++top] = 0;
            NEXT(0);
        }
        CASE(LDM1)
        {
            s[++top] = -1;
            NEXT(0);
        }
        CASE(PUSH2)
        {
            s[top + 1] = OPERAND32_AT(0);
            s[top + 2] = OPERAND32_AT(4);
            top += 2;
            NEXT(8);
        }
        CASE(GLOBALS)
        {
            s[++top] = globals_;
            NEXT(0);
        }

        // --- Memory access -------------------------------------------
        CASE(FIELD_S)
        {
            T = Word(nullCheck(Addr(T)) + 4u * uint32_t(OPERAND8()));
            NEXT(1);
        }
        CASE(FIELD)
        {
            T = Word(nullCheck(Addr(T)) + 4u * uint32_t(OPERAND32()));
            NEXT(4);
        }
        CASE(LDIND)
        {
            T = mem.loadWord(Addr(T));
            NEXT(0);
        }
        CASE(LDIND2)
        {
            T = mem.loadWord(Addr(mem.loadWord(Addr(T))));
            NEXT(0);
        }
        CASE(LDIND3)
        {
            T = mem.loadWord(Addr(mem.loadWord(Addr(mem.loadWord(Addr(T))))));
            NEXT(0);
        }
        CASE(LDVIA)
        CASE(LDVIA2)
        CASE(LDVIA3)
        {
            intptr_t i = top + 1 + OPERAND8();
            CHECK_SLOT(i);
            Word v = mem.loadWord(Addr(s[i]));
            for (int k = OP_LDVIA; k < *ip; ++k)
                v = mem.loadWord(Addr(v));
            s[++top] = v;
            NEXT(1);
        }
        CASE(FLDVIA)
        CASE(FLDVIA2)
        CASE(FLDVIA3)
        {
            intptr_t i = top + 1 + OPERAND8();
            CHECK_SLOT(i);
            Word p = mem.loadWord(Addr(s[i]));
            for (int k = OP_FLDVIA; k < *ip; ++k)
                p = mem.loadWord(Addr(p));
            nullCheck(Addr(p));
            s[++top] = Word(Addr(p) + 4u * uint32_t(int8_t(ip[2])));
            NEXT(2);
        }
        CASE(STIND)
        CASE(STIND_R)
        {
            mem.storeWord(Addr(U), T);
            top -= 2;
            NEXT(0);
        }
        CASE(CLRIND)
        {
            mem.storeWord(Addr(T), 0);
            top -= 1;
            NEXT(0);
        }
        CASE(CLRN_S)
        CASE(CLRN)
        {
            int64_t n = *ip == OP_CLRN_S ? OPERAND8() : OPERAND32();
            if (n < 0)
                raiseVmError(KErrVm, "Invalid count " + std::to_string(n));
            if (n > 0) {
                if (n > 0x3FFFFFFF)
                    VMSpace::badAccess(Addr(T));
                std::memset(mem.ptr(Addr(T), uint32_t(n * 4)), 0, size_t(n) * 4);
            }
            top -= 1;
            NEXT(*ip == OP_CLRN_S ? 1 : 4);
        }
        CASE(COPYN_S)
        CASE(COPYN)
        {
            int64_t n = *ip == OP_COPYN_S ? OPERAND8() : OPERAND32();
            if (n < 0)
                raiseVmError(KErrVm, "Invalid count " + std::to_string(n));
            if (n > 0) {
                if (n > 0x3FFFFFFF)
                    VMSpace::badAccess(Addr(T));
                uint8_t* from = mem.ptr(Addr(T), uint32_t(n * 4));
                uint8_t* to = mem.ptr(Addr(U), uint32_t(n * 4));
                for (int64_t k = 0; k < n * 4; k += 4)  // ascending, word by word
                    std::memcpy(to + k, from + k, 4);
            }
            top -= 1;
            NEXT(*ip == OP_COPYN_S ? 1 : 4);
        }
        CASE(LOADN_S)
        CASE(LOADN)
        {
            int64_t n = *ip == OP_LOADN_S ? OPERAND8() : OPERAND32();
            if (n < 0)
                raiseVmError(KErrVm, "Invalid count " + std::to_string(n));
            if (top + n > kStackWords) {
                SAVE();
                stackFault(int32_t(std::min<int64_t>(top + n, INT32_MAX)));
            }
            if (n > 0) {
                const uint8_t* from = mem.ptr(Addr(T), uint32_t(n * 4));
                std::memmove(s + top, from, size_t(n) * 4);
            }
            top += int32_t(n) - 1;
            NEXT(*ip == OP_LOADN_S ? 1 : 4);
        }
        // storen.s / storen n: the n words below the top go to the address
        // under them; a count of 2 (a fixed or long value) is one 8-byte move.
#define STORE_WORDS(n, operandBytes)                                           \
    do {                                                                      \
        if ((n) < 0)                                                          \
            raiseVmError(KErrVm, "Invalid count " + std::to_string(n));       \
        NEED((n) + 1);                                                        \
        if ((n) > 0)                                                          \
            std::memmove(mem.ptr(Addr(s[top - (n)]), uint32_t((n) * 4)), s + top - (n) + 1, size_t(n) * 4); \
        top -= int32_t(n) + 1;                                                \
        NEXT(operandBytes);                                                   \
    } while (0)
        CASE(STOREN_S)
        {
            int32_t n = OPERAND8();
            if (n == 2 && top >= 2) [[likely]] {
                std::memmove(mem.ptr(Addr(s[top - 2]), 8), s + top - 1, 8);
                top -= 3;
                NEXT(1);
            }
            STORE_WORDS(n, 1);
        }
        CASE(STOREN)
        {
            int64_t n = OPERAND32();
            STORE_WORDS(n, 4);
        }
#undef STORE_WORDS
        CASE(SETCLASS)
        {
            mem.storeWord(Addr(T), OPERAND32());
            top -= 1;
            NEXT(4);
        }
        CASE(CLRB)
        {
            mem.storeByte(Addr(T), 0);
            top -= 1;
            NEXT(0);
        }
        CASE(STB)
        {
            mem.storeByte(Addr(U), T);
            top -= 2;
            NEXT(0);
        }
        CASE(CLRH)
        {
            mem.storeHalf(Addr(T), 0);
            top -= 1;
            NEXT(0);
        }
        CASE(STH)
        {
            mem.storeHalf(Addr(U), T);
            top -= 2;
            NEXT(0);
        }

        // --- Integer arithmetic --------------------------------------
#define BINARY(id, expr)          \
    CASE(id)                      \
    {                             \
        int32_t a = U, b = T;     \
        (void)a;                  \
        (void)b;                  \
        U = (expr);               \
        top -= 1;                 \
        NEXT(0);                  \
    }
        BINARY(ADD, int32_t(uint32_t(a) + uint32_t(b)))
        BINARY(SUB, int32_t(uint32_t(a) - uint32_t(b)))
        BINARY(MUL, int32_t(uint32_t(a) * uint32_t(b)))
        BINARY(DIV, divide(a, b))
        BINARY(REM, remainder(a, b))
        BINARY(AND, a & b)
        BINARY(OR, a | b)
        BINARY(XOR, a ^ b)
        BINARY(SHL, shiftLeft(a, b))
        BINARY(SHR, shiftRight(a, b))
        BINARY(EQ, truth(a == b))
        BINARY(LT, truth(a < b))
        BINARY(LE, truth(a <= b))
        BINARY(NE, truth(a != b))
        BINARY(GT, truth(a > b))
        BINARY(GE, truth(a >= b))
        BINARY(LAND, truth(a != 0 && b != 0))
        BINARY(LOR, truth(a != 0 || b != 0))
        BINARY(LXOR, truth((a != 0) != (b != 0)))
        BINARY(LEQV1, (a != 0) == (b != 0) ? 1 : 0)
        BINARY(LXOR1, (a != 0) != (b != 0) ? 1 : 0)
        BINARY(DIV_B, int32_t(int8_t(a)) / byteDivisor(b))
        BINARY(REM_B, int32_t(int8_t(a)) % byteDivisor(b))
        BINARY(SHL_B, (b & 255) >= 32 ? 0 : int32_t(uint32_t(int32_t(int8_t(a))) << (b & 255)))
        BINARY(SHR_B, (b & 255) >= 32 ? (int8_t(a) < 0 ? -1 : 0) : int32_t(int8_t(a)) >> (b & 255))
        BINARY(EQ_B, truth(int8_t(a) == int8_t(b)))
        BINARY(LT_B, truth(int8_t(a) < int8_t(b)))
        BINARY(LE_B, truth(int8_t(a) <= int8_t(b)))
        BINARY(NE_B, truth(int8_t(a) != int8_t(b)))
        BINARY(GT_B, truth(int8_t(a) > int8_t(b)))
        BINARY(GE_B, truth(int8_t(a) >= int8_t(b)))
        BINARY(EQ_H, truth(int16_t(a) == int16_t(b)))
        BINARY(LT_H, truth(int16_t(a) < int16_t(b)))
        BINARY(LE_H, truth(int16_t(a) <= int16_t(b)))
        BINARY(NE_H, truth(int16_t(a) != int16_t(b)))
        BINARY(GT_H, truth(int16_t(a) > int16_t(b)))
        BINARY(GE_H, truth(int16_t(a) >= int16_t(b)))
#undef BINARY
        CASE(NEG)
        {
            T = int32_t(0u - uint32_t(T));
            NEXT(0);
        }
        CASE(NOT)
        {
            T = truth(T == 0);
            NEXT(0);
        }
        CASE(ZEXT8)
        {
            T &= 255;
            NEXT(0);
        }
        CASE(SEXT8N)
        {
            int32_t n = OPERAND8();
            NEED(n);
            for (int32_t k = 0; k < n; ++k)
                s[top - k] = int8_t(s[top - k]);
            NEXT(1);
        }

        // --- Compound assignment on an int variable ------------------
        CASE(INC_I)
        CASE(DEC_I)
        {
            uint8_t* p = mem.ptr(Addr(T), 4);
            uint32_t v;
            std::memcpy(&v, p, 4);
            v += *ip == OP_INC_I ? 1u : ~0u;
            std::memcpy(p, &v, 4);
            top -= 1;
            NEXT(0);
        }
#define ASSIGN(id, expr)                  \
    CASE(id)                              \
    {                                     \
        uint8_t* p = mem.ptr(Addr(U), 4); \
        int32_t a;                        \
        std::memcpy(&a, p, 4);            \
        int32_t b = T;                    \
        int32_t r = (expr);               \
        std::memcpy(p, &r, 4);            \
        top -= 2;                         \
        NEXT(0);                          \
    }
        ASSIGN(ADD_I, int32_t(uint32_t(a) + uint32_t(b)))
        ASSIGN(SUB_I, int32_t(uint32_t(a) - uint32_t(b)))
        ASSIGN(MUL_I, int32_t(uint32_t(a) * uint32_t(b)))
        ASSIGN(DIV_I, divide(a, b))
        ASSIGN(REM_I, remainder(a, b))
        ASSIGN(AND_I, a & b)
        ASSIGN(OR_I, a | b)
        ASSIGN(XOR_I, a ^ b)
        ASSIGN(SHL_I, shiftLeft(a, b))
        ASSIGN(SHR_I, shiftRight(a, b))
#undef ASSIGN

        // --- Byte variables ------------------------------------------
        CASE(INC_BI)
        CASE(DEC_BI)
        {
            Addr a = Addr(T);
            int32_t v = mem.loadByte(a);
            mem.storeByte(a, v + (*ip == OP_INC_BI ? 1 : -1));
            top -= 1;
            NEXT(0);
        }
#define BYTE_ASSIGN(id, expr)             \
    CASE(id)                              \
    {                                     \
        Addr p = Addr(U);                 \
        int32_t x8 = mem.loadByte(p);     \
        int32_t t = T;                    \
        (void)t;                          \
        mem.storeByte(p, (expr));         \
        top -= 2;                         \
        NEXT(0);                          \
    }
        BYTE_ASSIGN(ADD_BI, x8 + (t & 255))
        BYTE_ASSIGN(SUB_BI, x8 - (t & 255))
        BYTE_ASSIGN(MUL_BI, int32_t(uint32_t(x8) * uint32_t(t & 255)))
        BYTE_ASSIGN(DIV_BI, x8 / byteDivisor(t))
        BYTE_ASSIGN(REM_BI, x8 % byteDivisor(t))
        BYTE_ASSIGN(AND_BI, x8 & t)
        BYTE_ASSIGN(OR_BI, x8 | t)
        BYTE_ASSIGN(XOR_BI, x8 ^ t)
        BYTE_ASSIGN(SHL_BI, byteShiftLeft(x8, int8_t(t)))
        BYTE_ASSIGN(SHR_BI, byteShiftRight(x8, int8_t(t)))
#undef BYTE_ASSIGN

        // --- Control flow --------------------------------------------
        CASE(JZ_S)
        {
            int32_t c = T;
            top -= 1;
            if (c == 0) {
                JUMP_SHORT(OPERAND16());
                DISPATCH();
            }
            NEXT(2);
        }
        CASE(JZ)
        {
            int32_t c = T;
            top -= 1;
            if (c == 0) {
                JUMP_TO(int64_t(PC) + 4 + OPERAND32());
                DISPATCH();
            }
            NEXT(4);
        }
        CASE(JMP_S)
        {
            JUMP_SHORT(OPERAND16());
            DISPATCH();
        }
        CASE(JMP)
        {
            JUMP_TO(int64_t(PC) + 4 + OPERAND32());
            DISPATCH();
        }
        CASE(CALL)
        {
            int32_t address = OPERAND32_AT(0);
            int32_t map = OPERAND32_AT(4);
            top += 1;
            int32_t base = top;
            if (map >= 0) {
                if (map >= int32_t(callerSlots_.size())) [[unlikely]]
                    raiseVmError(KErrVm, "Invalid stack map " + std::to_string(map));
                base = top - callerSlots_[size_t(map)];
            }
            if (frameCount_ >= kMaxFrames) [[unlikely]] {
                SAVE();
                stackFault(top);
            }
            frameGcInfo_[frameCount_] = map;
            frameBase_[frameCount_] = base;
            ++frameCount_;
            s[top] = PC + 9;
            JUMP_TO(address);
            if (tracer_) [[unlikely]]
                tracer_->methodCall(address);
            if (gcStress_) [[unlikely]] {
                SAVE();
                collectWithStack();
            }
            DISPATCH();
        }
        CASE(VCALL)
        {
            int32_t m = OPERAND32();
            int32_t key = T;
            if (m < 0 || m >= methods.count()) [[unlikely]] {
                SAVE();
                fatal("Invalid type in virtual method call", PC);
            }
            const ExportedMethod::MethodEntry* found = nullptr;
            for (const ExportedMethod::MethodEntry& e : methods[m].entries) {
                if (e.classKey == key) {
                    found = &e;
                    break;
                }
            }
            if (!found) [[unlikely]] {
                SAVE();
                fatal("Invalid type in virtual method call", PC);
            }
            T = PC + 5;
            int32_t map = found->gcInfoIndex;
            int32_t base = top;
            if (map >= 0) {
                if (map >= int32_t(callerSlots_.size())) [[unlikely]]
                    raiseVmError(KErrVm, "Invalid stack map " + std::to_string(map));
                base = top - callerSlots_[size_t(map)];
            }
            SAVE();
            pushFrame(map, base);
            JUMP_TO(found->codeAddress);
            if (tracer_) [[unlikely]]
                tracer_->methodCall(found->codeAddress);
            if (gcStress_) [[unlikely]] {
                SAVE();
                collectWithStack();
            }
            DISPATCH();
        }
        CASE(RET)
        {
            int64_t r = OPERAND32_AT(0);
            int64_t n = OPERAND32_AT(4);
            if (frameCount_ > 0)
                --frameCount_;
            int64_t i = top - r;
            if (i < 0 || i >= kStackWords) [[unlikely]] {
                SAVE();
                stackFault(int32_t(std::max<int64_t>(std::min<int64_t>(i, INT32_MAX), INT32_MIN)));
            }
            int32_t target = s[i];
            int64_t newTop = top - n;
            if (newTop < -1 || newTop >= kStackWords) [[unlikely]] {
                SAVE();
                stackFault(int32_t(std::max<int64_t>(std::min<int64_t>(newTop, INT32_MAX), INT32_MIN)));
            }
            top = int32_t(newTop);
            if (tracer_) [[unlikely]]
                tracer_->methodReturn();
            if (target < 0) {
                SAVE();
                this->pc = target;
                return;
            }
            JUMP_TO(target);
            DISPATCH();
        }
        CASE(TRY)
        {
            if (handlerCount_ >= kHandlers - 1) [[unlikely]]
                raiseVmError(KErrVm, "Too many exception handlers");
            Handler& h = handlers_[++handlerCount_];
            h.classIndex = OPERAND32_AT(0);
            h.savedTop = top;
            h.handlerPc = int32_t(int64_t(PC) + 8 + OPERAND32_AT(4));
            h.savedFrames = frameCount_;
            NEXT(8);
        }
        CASE(HANDLERS)
        {
            int32_t n = handlerCount_ + OPERAND8();
            if (n < 0 || n >= kHandlers) [[unlikely]]
                raiseVmError(KErrVm, "Invalid exception handler count " + std::to_string(n));
            handlerCount_ = n;
            NEXT(1);
        }
        CASE(THROW)
        {
            Word v = T;
            if (v == 0)
                NEXT(0);
            if (tracer_) [[unlikely]]
                tracer_->thrown(v);
            while (handlerCount_ > 0) {
                const Handler h = handlers_[handlerCount_];
                bool match = h.classIndex <= 0;
                int32_t c = match ? 0 : mem.loadWord(Addr(v));
                // Walk the class and its ancestors; a cycle ends the walk.
                for (int32_t k = c, steps = 0; !match && k > 0 && steps <= classParents.count(); ++steps) {
                    if (k == h.classIndex)
                        match = true;
                    else
                        k = k < classParents.count() ? classParents[k] : -1;
                }
                --handlerCount_;
                if (match) {
                    if (h.savedTop < -1 || h.savedTop + 1 >= kStackWords) [[unlikely]] {
                        SAVE();
                        stackFault(h.savedTop + 1);
                    }
                    top = h.savedTop + 1;
                    s[top] = v;
                    if (frameCount_ > h.savedFrames)
                        frameCount_ = h.savedFrames;
                    this->top = top;
                    dropStaleFrames();
                    if (tracer_) [[unlikely]]
                        tracer_->caught(h.handlerPc + 1);
                    JUMP_TO(int64_t(h.handlerPc) + 1);
                    DISPATCH();
                }
            }
            // Uncaught: hand the throwable to "vmprintthrowableandexit".
            SAVE();
            int handle = entries_[EPrintThrowableAndExit];
            int gcInfo = -1;
            int address = handle < 0 ? -1 : methodAddress(handleTable[handle].methodIndex, -1, &gcInfo);
            if (address < 0)
                fatal("'vmprintthrowableandexit<throwable>' not found", PC);
            const MethodHandle& hh = handleTable[handle];
            Word w = wrap((hh.argumentLevels.count() > 0 ? hh.argumentLevels[0] : 0) - 1, v, GC_CODE_REFERENCE);
            if (top + 2 >= kStackWords)
                stackFault(top + 2);
            s[++top] = w;
            s[++top] = PC + 1;
            this->top = top;
            enterUncaughtHandler(PC);
            pushHandlerFrame(gcInfo);
            if (tracer_) [[unlikely]]
                tracer_->methodCall(address);
            ip = code + address;
            DISPATCH();
        }
        CASE(NATIVE)
        {
            SAVE();
            callNative(OPERAND8(), int8_t(ip[2]));
            LOAD();
            if (gcStress_) [[unlikely]] {
                SAVE();
                collectWithStack();
            }
            NEXT(2);
        }
        CASE(EXTCALL)
        {
            SAVE();
            if (!host_)
                raiseVmError(KErrVm, "Dll not supported");
            top = host_->callExtension(ip[1], ip[2], top, stackAddress_);
            NEXT(2);
        }

        // --- Objects and allocation ----------------------------------
        CASE(NEW)
        CASE(NEWAT)
        CASE(NEWAT_KEEP)
        {
            int32_t gc = ip[1];
            int64_t n = OPERAND32_AT(1);
            if (gc < 1 || gc > 17 || gc == GC_CODE_VECTOR) [[unlikely]] {
                SAVE();
                fatal("Invalid mem alloc gc code", PC);
            }
            if (n < 0 || n > VMHeap::kMaxBlock / 4)
                raiseVmError(KErrVm, "Out of memory");
            SAVE();
            Addr block = heap_->alloc(uint32_t(n * 4), 0, gc);
            if (*ip == OP_NEW) {
                s[++top] = Word(block);
                NEXT(5);
            }
            Word w = wrap(int8_t(ip[6]), Word(block), GC_CODE_REFERENCE);
            mem.storeWord(Addr(T), w);
            if (*ip == OP_NEWAT)
                top -= 1;
            NEXT(6);
        }
        CASE(MKBLOCK_S)
        CASE(MKBLOCK)
        {
            int64_t n = *ip == OP_MKBLOCK_S ? OPERAND8() : OPERAND32();
            if (n < 0)
                raiseVmError(KErrVm, "Invalid count " + std::to_string(n));
            NEED(n);
            SAVE();
            Addr block = heap_->alloc(uint32_t(n * 4), 0, GC_CODE_NATIVE);
            if (n > 0)
                std::memcpy(mem.raw(block), s + top - n + 1, size_t(n) * 4);
            top -= int32_t(n);
            s[++top] = Word(block);
            NEXT(*ip == OP_MKBLOCK_S ? 1 : 4);
        }
        CASE(NEWCELL)
        {
            SAVE();
            Addr block = heap_->alloc(4, 0, GC_CODE_NATIVE);
            mem.setRawWord(block, T);
            T = Word(block);
            NEXT(0);
        }
        CASE(BOX)
        {
            SAVE();
            T = Word(newBox(*heap_, T));
            NEXT(0);
        }
        CASE(LDSTR)
        {
            int32_t i = OPERAND32();
            if (i < 0 || i >= stringPool.count())
                raiseVmError(KErrVm, "Invalid string constant " + std::to_string(i));
            SAVE();
            s[top + 1] = Word(newStringObject(*heap_, stringPool[i]));
            ++top;
            NEXT(4);
        }
        CASE(ITOS)
        {
            SAVE();
            T = Word(newStringObject(*heap_, OString::number(T)));
            NEXT(0);
        }
        CASE(NEWVEC)
        {
            int32_t size = OPERAND8();
            if (size != 1 && size != 4 && size != 8 && size != 12 && size != 16) [[unlikely]] {
                SAVE();
                fatal("Internal error: invalid vector element size " + std::to_string(size), PC);
            }
            Addr holder = nullCheck(Addr(T));
            mem.check(holder, 8);
            SAVE();
            Addr vector = heap_->alloc(16, -1, GC_CODE_VECTOR);
            mem.setRawWord(holder + 4, size);
            mem.setRawWord(holder, Word(vector));
            top -= 1;
            NEXT(1);
        }
        CASE(FREE)
        {
            SAVE();
            heap_->freeObject(Addr(T));
            top -= 1;
            NEXT(0);
        }
        CASE(FREEBOX)
        {
            Addr box = Addr(T);
            if (box != 0) {
                SAVE();
                heap_->freeObject(Addr(mem.loadWord(box)));
                heap_->freeObject(box);
            }
            top -= 1;
            NEXT(0);
        }

#include "Superinstructions.inc"

        DEFAULT
        {
            SAVE();
            if (ip < code || ip >= code + codeLength)
                badCodeAddress(PC);
            fatal("Internal error: invalid opcode " + std::to_string(int(int8_t(*ip))), PC);
        }
#if !MCB_COMPUTED_GOTO
        }
#endif
    stack_fault:
        SAVE();
        stackFault(top);
    } catch (...) {
        SAVE();
        throw;
    }
#undef T
#undef U
}

}  // namespace vm
