// Byte, Char, Long and Range native groups and the range resolution, driven
// in-process on the operand stack.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <cstring>
#include <random>
#include <string>

#include "ObjectModel.h"
#include "RangeCheck.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

using namespace vm;

namespace {

using Pair = std::pair<int, std::string>;

constexpr Word kSentinel = 0x5EED;
enum { BYTE = 9, CHAR = 10, LONG = 12, RANGE = 14 };

struct NativeTest : ::testing::Test {
    VirtualMachine vm;
    void SetUp() override
    {
        vm.pc = 77;
        vm.push(kSentinel);  // slot 0: must survive every call
    }
    void TearDown() override { EXPECT_EQ(vm.stack()[0], kSentinel); }
    void reset() { vm.top = 0; }
    Word& at(int i) { return vm.stack()[i]; }
    void call(int group, int function) { vm.callNative(group, function); }
    Pair callError(int group, int function)
    {
        int saved = vm.top;
        Pair r = errorOf([&] { call(group, function); });
        vm.top = saved;
        return r;
    }
    std::string text(Word reference) { return stringOf(vm.heap(), Addr(reference)).toUtf8(); }

    Word newLong(TInt64 v)
    {
        Addr a = vm.heap().alloc(8, 0, GC_CODE_NATIVE);
        std::memcpy(vm.space().ptr(a, 8), &v, 8);
        return Word(a);
    }
    TInt64 longAt(Word reference)
    {
        TInt64 v;
        std::memcpy(&v, vm.space().ptr(Addr(reference), 8), 8);
        return v;
    }
    // Two-word variable (a range) in the heap.
    Word newPair(Word w0, Word w1)
    {
        Addr a = vm.heap().alloc(8, 0, GC_CODE_NATIVE);
        vm.space().storeWord(a, w0);
        vm.space().storeWord(a + 4, w1);
        return Word(a);
    }
    Word word(Word address, int index) { return vm.space().loadWord(Addr(address) + 4u * index); }

    // Long binary function producing a new long: U, T replaced by one word.
    TInt64 longBinary(int function, TInt64 a, TInt64 b)
    {
        reset();
        Word ra = newLong(a), rb = newLong(b);
        vm.push(ra);
        vm.push(rb);
        call(LONG, function);
        EXPECT_EQ(vm.top, 1);
        EXPECT_NE(at(1), ra);
        EXPECT_EQ(longAt(ra), a);
        EXPECT_EQ(longAt(rb), b);
        return longAt(at(1));
    }
    // Long assignment function: U's block changes, both words are popped.
    TInt64 longAssign(int function, TInt64 a, TInt64 b)
    {
        reset();
        Word ra = newLong(a), rb = newLong(b);
        vm.push(ra);
        vm.push(rb);
        call(LONG, function);
        EXPECT_EQ(vm.top, 0);
        EXPECT_EQ(longAt(rb), b);
        return longAt(ra);
    }
};

TInt64 wrap(__int128 v) { return TInt64(v); }

// Shift model: counts above 63 give 0, negative counts shift the other way.
TInt64 shiftModel(TInt64 a, TInt32 n, bool left)
{
    if (n < 0) {
        left = !left;
        n = n == INT32_MIN ? 64 : -n;
    }
    if (n > 63)
        return 0;
    return left ? TInt64(TUint64(a) << n) : a >> n;
}

using ByteNative = NativeTest;
using CharNative = NativeTest;
using LongNative = NativeTest;
using RangeNative = NativeTest;

}  // namespace

TEST_F(ByteNative, EveryFunctionIsUnknown)
{
    for (int f : {0, 1, 5, 255})
        EXPECT_EQ(callError(BYTE, f), Pair(10, "VMException: Byte:77")) << f;
}

TEST_F(CharNative, CaseMappingAndItsStackEffect)
{
    vm.push(1234);  // U: overwritten
    vm.push(0x30041);  // 'A' with junk above the low 16 bits
    call(CHAR, 1);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(at(1), 'a');
    vm.push('q');
    call(CHAR, 2);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(at(1), 'Q');

    reset();
    vm.push(0xC4);  // A with diaeresis
    call(CHAR, 3);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(at(1), 0xE4);
    call(CHAR, 4);
    EXPECT_EQ(at(1), 0xC4);
    at(1) = '7';
    call(CHAR, 4);
    EXPECT_EQ(at(1), '7');
    EXPECT_EQ(vm.top, 1);
}

TEST_F(CharNative, ClassesGiveOneOrZero)
{
    struct Case { int function; Word c; Word expected; };
    for (Case k : {Case{5, 'A', 1}, Case{5, 0x3B1, 1}, Case{5, '1', 0}, Case{6, '7', 1}, Case{6, 'x', 0},
                   Case{6, 0x10035, 1}, Case{7, ' ', 1}, Case{7, '\n', 1}, Case{7, 'x', 0}}) {
        reset();
        vm.push(k.c);
        call(CHAR, k.function);
        EXPECT_EQ(vm.top, 1);
        EXPECT_EQ(at(1), k.expected) << k.function << " " << k.c;
    }
}

TEST_F(CharNative, StringMaskAndUnknown)
{
    vm.push(0x10078);
    call(CHAR, 8);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(text(at(1)), "x");
    at(1) = -1;
    call(CHAR, 9);
    EXPECT_EQ(at(1), 65535);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(callError(CHAR, 0), Pair(10, "VMException: Char:77"));
    EXPECT_EQ(callError(CHAR, 10), Pair(10, "VMException: Char:77"));
}

TEST_F(LongNative, ArithmeticAndLogicMatchInt64)
{
    std::mt19937_64 g(99);
    auto operand = [&]() -> TInt64 {
        switch (g() % 3) {
        case 0: return TInt64(g() % 200) - 100;
        case 1: return g() % 2 ? INT64_MAX - TInt64(g() % 3) : INT64_MIN + TInt64(g() % 3);
        default: return TInt64(g());
        }
    };
    for (int i = 0; i < 300; ++i) {
        TInt64 a = operand(), b = operand();
        ASSERT_EQ(longBinary(5, a, b), wrap(__int128(a) + b));
        ASSERT_EQ(longBinary(6, a, b), wrap(__int128(a) - b));
        ASSERT_EQ(longBinary(7, a, b), TInt64(TUint64(a) * TUint64(b)));
        if (b != 0 && !(a == INT64_MIN && b == -1)) {
            ASSERT_EQ(longBinary(8, a, b), a / b);
            ASSERT_EQ(longBinary(9, a, b), a % b);
            ASSERT_EQ(longAssign(16, a, b), a / b);
            ASSERT_EQ(longAssign(17, a, b), a % b);
        }
        ASSERT_EQ(longBinary(24, a, b), a & b);
        ASSERT_EQ(longBinary(25, a, b), a | b);
        ASSERT_EQ(longBinary(26, a, b), a ^ b);
        ASSERT_EQ(longAssign(13, a, b), wrap(__int128(a) + b));
        ASSERT_EQ(longAssign(14, a, b), wrap(__int128(a) - b));
        ASSERT_EQ(longAssign(15, a, b), TInt64(TUint64(a) * TUint64(b)));
        ASSERT_EQ(longAssign(29, a, b), a & b);
        ASSERT_EQ(longAssign(30, a, b), a | b);
        ASSERT_EQ(longAssign(31, a, b), a ^ b);
    }
    EXPECT_EQ(longBinary(8, -7, 2), -3);
    EXPECT_EQ(longBinary(9, -7, 2), -1);  // sign of a
    EXPECT_EQ(longBinary(9, 7, -2), 1);
}

TEST_F(LongNative, DivisionByZeroAndOverflow)
{
    for (int f : {8, 9, 16, 17}) {
        reset();
        vm.push(newLong(5));
        vm.push(newLong(0));
        EXPECT_EQ(callError(LONG, f), Pair(3, "DivisionByZeroException")) << f;
    }
    EXPECT_EQ(longBinary(8, INT64_MIN, -1), INT64_MIN);
    EXPECT_EQ(longBinary(9, INT64_MIN, -1), 0);
    EXPECT_EQ(longAssign(16, INT64_MIN, -1), INT64_MIN);
    EXPECT_EQ(longAssign(17, INT64_MIN, -1), 0);
}

TEST_F(LongNative, ShiftsUseTheLowWordAndTheIntRules)
{
    EXPECT_EQ(longBinary(27, 1, 40), TInt64(1) << 40);
    EXPECT_EQ(longBinary(28, -1, 63), -1);
    EXPECT_EQ(longBinary(28, INT64_MIN, 63), -1);
    EXPECT_EQ(longBinary(27, 1, 63), INT64_MIN);
    EXPECT_EQ(longBinary(27, 1, 64), 0);
    EXPECT_EQ(longBinary(28, -8, 64), 0);  // like the int shift: not -1
    EXPECT_EQ(longBinary(27, 16, -2), 4);
    EXPECT_EQ(longBinary(28, 3, -4), 48);
    EXPECT_EQ(longBinary(27, 1, (TInt64(1) << 32) | 3), 8);  // high word of b ignored
    EXPECT_EQ(longBinary(28, 1, TInt64(INT32_MIN)), 0);
    EXPECT_EQ(longAssign(32, 5, 2), 20);
    EXPECT_EQ(longAssign(33, -20, 2), -5);
    for (TInt32 n : {-70, -64, -63, -1, 0, 1, 31, 32, 63, 64, 100}) {
        TInt64 a = TInt64(0x8123456789ABCDEFull);
        EXPECT_EQ(longBinary(27, a, n), shiftModel(a, n, true)) << n;
        EXPECT_EQ(longBinary(28, a, n), shiftModel(a, n, false)) << n;
        EXPECT_EQ(longAssign(32, a, n), shiftModel(a, n, true)) << n;
        EXPECT_EQ(longAssign(33, a, n), shiftModel(a, n, false)) << n;
    }
}

TEST_F(LongNative, ClearCopyIncrementDecrement)
{
    Word x = newLong(42), y = newLong(-9);
    vm.push(x);
    call(LONG, 1);
    EXPECT_EQ(vm.top, 0);
    EXPECT_EQ(longAt(x), 0);
    for (int f : {2, 3}) {
        at(0) = kSentinel;
        vm.push(x);
        vm.push(y);
        call(LONG, f);
        EXPECT_EQ(vm.top, 0);
        EXPECT_EQ(longAt(x), -9);
        EXPECT_EQ(longAt(y), -9);
        std::memset(vm.space().ptr(Addr(x), 8), 0, 8);
    }
    Word m = newLong(INT64_MAX);
    vm.push(m);
    call(LONG, 11);
    EXPECT_EQ(vm.top, 0);
    EXPECT_EQ(longAt(m), INT64_MIN);
    vm.push(m);
    call(LONG, 12);
    EXPECT_EQ(longAt(m), INT64_MAX);
    vm.push(y);
    call(LONG, 12);
    EXPECT_EQ(longAt(y), -10);
    EXPECT_EQ(vm.top, 0);
}

TEST_F(LongNative, ComparisonsLeaveTheResultAboveTheNewTop)
{
    struct Case { TInt64 a, b; };
    // Signed: -1 < 1, and the high words decide before the low ones.
    for (Case c : {Case{5, 5}, Case{-1, 1}, Case{1, -1}, Case{TInt64(1) << 32, 0xFFFFFFFF}, Case{INT64_MIN, INT64_MAX}}) {
        bool expected[] = {c.a == c.b, c.a < c.b, c.a <= c.b, c.a != c.b, c.a > c.b, c.a >= c.b};
        for (int f = 18; f <= 23; ++f) {
            reset();
            Word ra = newLong(c.a);
            vm.push(ra);
            vm.push(newLong(c.b));
            call(LONG, f);
            EXPECT_EQ(vm.top, 1);
            EXPECT_EQ(at(1), ra);  // the first operand stays on top
            EXPECT_EQ(at(2), expected[f - 18] ? 1 : 0) << f << " " << c.a << " " << c.b;
        }
    }
}

TEST_F(LongNative, NegateTextAndConversions)
{
    Word b = newLong(INT64_MIN);
    vm.push(b);
    call(LONG, 10);
    EXPECT_EQ(vm.top, 1);
    EXPECT_NE(at(1), b);
    EXPECT_EQ(longAt(at(1)), INT64_MIN);
    at(1) = newLong(7);
    call(LONG, 10);
    EXPECT_EQ(longAt(at(1)), -7);

    at(1) = b;
    call(LONG, 34);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(text(at(1)), "-9223372036854775808");
    at(1) = newLong(1234567890123LL);
    call(LONG, 34);
    EXPECT_EQ(text(at(1)), "1234567890123");

    at(1) = newLong(TInt64(0x12345678FFFFFFFEull));
    call(LONG, 37);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(at(1), -2);
    for (Word v : {-5, INT32_MIN, INT32_MAX}) {
        at(1) = v;
        call(LONG, 38);
        EXPECT_EQ(vm.top, 1);
        EXPECT_EQ(longAt(at(1)), TInt64(v));
    }

    // 35 and 36 leave the stack alone.
    vm.push(11);
    vm.push(22);
    for (int f : {35, 36}) {
        call(LONG, f);
        EXPECT_EQ(vm.top, 3);
        EXPECT_EQ(at(2), 11);
        EXPECT_EQ(at(3), 22);
    }
}

TEST_F(LongNative, BadReferencesAndUnknownFunctions)
{
    vm.push(newLong(1));
    vm.push(0);
    EXPECT_EQ(callError(LONG, 5), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(callError(LONG, 1), Pair(1, "NullPointerException: NULL pointer"));
    at(2) = Word(0xFFFFFFFC);  // the last word of the space: 8 bytes do not fit
    EXPECT_EQ(callError(LONG, 11).first, 10);
    EXPECT_EQ(callError(LONG, 34).first, 10);
    at(2) = 12;  // below the first valid address
    EXPECT_EQ(callError(LONG, 2).first, 10);
    for (int f : {0, 4, 39, -1})
        EXPECT_EQ(callError(LONG, f), Pair(10, "VMException: Long:77")) << f;
}

TEST_F(RangeNative, SettersAndGetters)
{
    Word r = newPair(5, 6), q = newPair(7, 8);
    vm.push(r);
    call(RANGE, 1);
    EXPECT_EQ(vm.top, 0);
    EXPECT_EQ(word(r, 0), 0);
    EXPECT_EQ(word(r, 1), 0);

    vm.push(r);
    vm.push(q);
    call(RANGE, 2);
    EXPECT_EQ(vm.top, 0);
    EXPECT_EQ(word(r, 0), 7);
    EXPECT_EQ(word(r, 1), 8);

    vm.push(r);
    vm.push(2);
    vm.push(5);
    call(RANGE, 3);
    EXPECT_EQ(vm.top, 0);
    EXPECT_EQ(word(r, 0), 2);
    EXPECT_EQ(word(r, 1), 4);

    vm.push(r);
    vm.push(3);
    vm.push(0);
    call(RANGE, 4);
    EXPECT_EQ(vm.top, 0);
    EXPECT_EQ(word(r, 0), 3);
    EXPECT_EQ(word(r, 1), 0);

    vm.push(r);
    vm.push(9);
    call(RANGE, 7);
    EXPECT_EQ(vm.top, 0);
    vm.push(r);
    vm.push(4);
    call(RANGE, 8);
    EXPECT_EQ(vm.top, 0);
    vm.push(r);
    call(RANGE, 5);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(at(1), 9);
    at(1) = r;
    call(RANGE, 6);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(at(1), 4);

    for (int f : {11, 12}) {
        reset();
        vm.push(r);
        vm.push(6 + f);
        call(RANGE, f);
        EXPECT_EQ(vm.top, 0);
        EXPECT_EQ(word(r, 0), 6 + f);
        EXPECT_EQ(word(r, 1), -1);
    }
}

TEST_F(RangeNative, InvalidComponentsRaiseCodeSix)
{
    Word r = newPair(1, 1);
    Pair invalid(6, "InvalidArgumentException");
    struct Case { int function; Word first, second; };
    for (Case c : {Case{3, 2, 1}, Case{3, -1, 3}, Case{3, 2, -1}, Case{3, 0, INT32_MAX}, Case{4, -1, 0},
                   Case{4, 0, -1}}) {
        reset();
        vm.push(r);
        vm.push(c.first);
        vm.push(c.second);
        EXPECT_EQ(callError(RANGE, c.function), invalid) << c.function << " " << c.first << " " << c.second;
    }
    for (int f : {7, 8, 11, 12}) {
        reset();
        vm.push(r);
        vm.push(-1);
        EXPECT_EQ(callError(RANGE, f), invalid) << f;
    }
    EXPECT_EQ(word(r, 0), 1);
    EXPECT_EQ(word(r, 1), 1);
    // The longest representable range still works.
    reset();
    vm.push(r);
    vm.push(1);
    vm.push(INT32_MAX);
    call(RANGE, 3);
    EXPECT_EQ(word(r, 1), INT32_MAX);

    reset();
    vm.push(0);
    EXPECT_EQ(callError(RANGE, 5), Pair(1, "NullPointerException: NULL pointer"));
    vm.push(0);
    vm.push(1);
    vm.push(2);
    EXPECT_EQ(callError(RANGE, 3), Pair(1, "NullPointerException: NULL pointer"));
    reset();
    vm.push(Word(0xFFFFFFFC));
    EXPECT_EQ(callError(RANGE, 1).first, 10);
    EXPECT_EQ(callError(RANGE, 0), Pair(10, "VMException: Range:77"));
    EXPECT_EQ(callError(RANGE, 13), Pair(10, "VMException: Range:77"));
}

TEST_F(RangeNative, CompareTwoRangesByValue)
{
    struct Case { Word a0, a1, b0, b1; bool equal; };
    for (Case c : {Case{1, 2, 1, 2, true}, Case{1, 2, 1, 3, false}, Case{0, 2, 1, 2, false}, Case{3, -1, 3, -1, true}}) {
        for (int f : {9, 10}) {
            reset();
            vm.push(c.a0);
            vm.push(c.a1);
            vm.push(c.b0);
            vm.push(c.b1);
            call(RANGE, f);
            EXPECT_EQ(vm.top, 1);
            EXPECT_EQ(at(1), (f == 9) == c.equal ? 1 : 0);
        }
    }
}

TEST(ResolveRange, ResolvesAndRewritesLength)
{
    auto same = [](ResolvedRange r, TInt32 first, TInt32 length) { return r.first == first && r.length == length; };
    EXPECT_TRUE(same(resolveRange(0, 10, 10, -1), 10, 0));
    EXPECT_TRUE(same(resolveRange(0, 10, 3, -1), 3, 7));
    EXPECT_TRUE(same(resolveRange(2, 10, 2, -1), 2, 10));
    EXPECT_TRUE(same(resolveRange(0, 10, 3, 7), 3, 7));
    EXPECT_TRUE(same(resolveRange(0, 10, 999, 0), 999, 0));  // length 0: only first >= 0
    EXPECT_TRUE(same(resolveRange(0, 0, 0, -1), 0, 0));
    EXPECT_TRUE(same(resolveRange(0, INT32_MAX, 1, -1), 1, INT32_MAX - 1));
    // An end beyond INT32_MAX is not wrapped.
    EXPECT_TRUE(same(resolveRange(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX, INT32_MAX));
}

TEST(ResolveRange, MessagesNameTheOffendingValues)
{
    auto error = [](TInt32 base, TInt32 size, TInt32 first, TInt32 length) {
        return errorOf([&] { resolveRange(base, size, first, length); });
    };
    EXPECT_EQ(error(0, 10, -1, 0), Pair(5, "RangeException: Invalid Range, first should be non-negative (first=-1)"));
    EXPECT_EQ(error(0, 10, 11, -1),
              Pair(5, "RangeException: Invalid Range, first should not be more than 10, first = 11"));
    EXPECT_EQ(error(2, 10, 1, -1),
              Pair(5, "RangeException: Invalid Range, first should not be less than 2, first = 1"));
    EXPECT_EQ(error(2, 10, 1, 3), Pair(5, "RangeException: Invalid Range, first should not be less than2, first =  1"));
    EXPECT_EQ(error(0, 10, 8, 3), Pair(5, "RangeException: Invalid Range, range out of bounds: 11 > 10"));
    EXPECT_EQ(error(-5, 3, -6, -2).first, 5);
    // Sums do not wrap: the true end is reported.
    EXPECT_EQ(error(0, 10, INT32_MAX, 1),
              Pair(5, "RangeException: Invalid Range, range out of bounds: 2147483648 > 10"));
}
