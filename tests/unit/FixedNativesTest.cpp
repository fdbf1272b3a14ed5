// Fixed, Math, Number and Float native groups and the random generator,
// driven in-process on the operand stack.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <bit>
#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include "ORaw.h"
#include "ObjectModel.h"
#include "Random.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

using namespace vm;
namespace R = vm::ORaw;

namespace {

using Pair = std::pair<int, std::string>;

constexpr Word kSentinel = 0x5EED;
enum { FIXED = 11, MATH = 26, NUMBER = 27, FLOAT = 36 };

TInt64 fx(double v) { return TInt64(v * 4294967296.0); }
Word fw(float f) { return std::bit_cast<Word>(f); }
float wf(Word w) { return std::bit_cast<float>(w); }

struct NativeTest : ::testing::Test {
    VirtualMachine vm;
    void SetUp() override
    {
        vm.pc = 31;
        vm.push(kSentinel);
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
    Word newString(const char* s) { return Word(newStringObject(vm.heap(), OString(s))); }

    void pushFixed(TInt64 x)
    {
        vm.push(R::lowWord(x));
        vm.push(R::highWord(x));
    }
    // The fixed value whose low word is in slot i.
    TInt64 fixedAt(int i) { return R::fromWords(at(i), at(i + 1)); }
    Word newFixed(TInt64 x)
    {
        Addr a = vm.heap().alloc(8, 0, GC_CODE_NATIVE);
        vm.space().storeWord(a, R::lowWord(x));
        vm.space().storeWord(a + 4, R::highWord(x));
        return Word(a);
    }
    TInt64 fixedIn(Word address)
    {
        return R::fromWords(vm.space().loadWord(Addr(address)), vm.space().loadWord(Addr(address) + 4));
    }
    // Unary fixed function on the pair on top: result in slots 1, 2.
    TInt64 unary(int group, int function, TInt64 x)
    {
        reset();
        pushFixed(x);
        call(group, function);
        EXPECT_EQ(vm.top, 2);
        return fixedAt(1);
    }
    // Binary function on a and b: result a in slots 1, 2.
    TInt64 binary(int group, int function, TInt64 a, TInt64 b)
    {
        reset();
        pushFixed(a);
        pushFixed(b);
        call(group, function);
        EXPECT_EQ(vm.top, 2);
        return fixedAt(1);
    }
    // Function of a fixed value on top that leaves one word in slot 1.
    Word toWord(int group, int function, TInt64 x)
    {
        reset();
        pushFixed(x);
        call(group, function);
        EXPECT_EQ(vm.top, 1);
        return at(1);
    }
    Pair unaryError(int group, int function, TInt64 x)
    {
        reset();
        pushFixed(x);
        return callError(group, function);
    }
    Pair binaryError(int group, int function, TInt64 a, TInt64 b)
    {
        reset();
        pushFixed(a);
        pushFixed(b);
        return callError(group, function);
    }
};

const Pair kMath(8, "MathException");

// The standard engine loaded with the state seedRandom makes (624 words, word
// i = word i-1 * 69069); it regenerates before its first output.
std::mt19937 referenceEngine(TUint32 seed)
{
    std::stringstream state;
    TUint32 w = seed;
    for (int i = 0; i < 624; ++i, w *= 69069u)
        state << w << ' ';
    std::mt19937 engine;
    state >> engine;
    return engine;
}

using FixedNative = NativeTest;
using MathNative = NativeTest;
using NumberNative = NativeTest;
using FloatNative = NativeTest;
using RandomGenerator = NativeTest;

}  // namespace

TEST_F(FixedNative, LoadAndConvertPushOneWordMore)
{
    Word v = newFixed(-fx(2.75));
    vm.push(v);
    call(FIXED, 1);
    EXPECT_EQ(vm.top, 2);
    EXPECT_EQ(fixedAt(1), -fx(2.75));

    reset();
    vm.push(0x1FF);  // low byte -1
    call(FIXED, 2);
    EXPECT_EQ(vm.top, 2);
    EXPECT_EQ(fixedAt(1), -R::one);
    reset();
    vm.push(-123456);
    call(FIXED, 3);
    EXPECT_EQ(vm.top, 2);
    EXPECT_EQ(fixedAt(1), R::fromInt(-123456));

    reset();
    vm.push(newString(" +-3.25 "));
    call(FIXED, 4);
    EXPECT_EQ(vm.top, 2);
    EXPECT_EQ(fixedAt(1), -fx(3.25));
    reset();
    vm.push(newString("4."));
    EXPECT_EQ(callError(FIXED, 4), Pair(4, "DataFormatException: "));
    reset();
    vm.push(0);
    EXPECT_EQ(callError(FIXED, 1), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(callError(FIXED, 4).first, 1);
}

TEST_F(FixedNative, SignArithmeticAndSaturation)
{
    EXPECT_EQ(unary(FIXED, 5, -fx(1.5)), fx(1.5));
    EXPECT_EQ(unary(FIXED, 5, R::FIXED_MIN), R::FIXED_MAX);
    EXPECT_EQ(unary(FIXED, 6, fx(1.5)), -fx(1.5));
    EXPECT_EQ(unary(FIXED, 6, R::FIXED_MAX), R::FIXED_MIN);
    EXPECT_EQ(unary(FIXED, 6, R::FIXED_MIN), R::FIXED_MAX);

    // Operand order matters for -, / and pow: a is below b.
    EXPECT_EQ(binary(FIXED, 7, fx(1.25), fx(2)), fx(3.25));
    EXPECT_EQ(binary(FIXED, 7, R::FIXED_MAX, R::one), R::FIXED_MAX);
    EXPECT_EQ(binary(FIXED, 8, fx(1.25), fx(2)), -fx(0.75));
    EXPECT_EQ(binary(FIXED, 8, R::FIXED_MIN, R::one), R::FIXED_MIN);
    EXPECT_EQ(binary(FIXED, 9, -fx(1.5), fx(2.5)), -fx(3.75));
    EXPECT_EQ(binary(FIXED, 10, fx(3), fx(2)), fx(1.5));
    EXPECT_EQ(binary(FIXED, 11, fx(3), fx(2)), fx(9));
    EXPECT_EQ(binaryError(FIXED, 10, fx(3), 0), kMath);
    EXPECT_EQ(binaryError(FIXED, 11, 0, -R::one), kMath);
}

TEST_F(FixedNative, CompoundAssignmentThroughAnAddress)
{
    struct Case { int function; TInt64 a, b, expected; };
    for (Case c : {Case{12, fx(1.5), fx(2), fx(3.5)}, Case{13, fx(1.5), fx(2), -fx(0.5)},
                   Case{14, fx(1.5), -fx(2), -fx(3)}, Case{15, fx(1.5), fx(2), fx(0.75)},
                   Case{12, R::FIXED_MAX, R::one, R::FIXED_MAX}}) {
        reset();
        Word p = newFixed(c.a);
        vm.push(p);
        pushFixed(c.b);
        call(FIXED, c.function);
        EXPECT_EQ(vm.top, 0);
        EXPECT_EQ(fixedIn(p), c.expected) << c.function;
    }
    Word p = newFixed(fx(2));
    vm.push(p);
    pushFixed(0);
    EXPECT_EQ(callError(FIXED, 15), kMath);
    reset();
    vm.push(p);
    call(FIXED, 16);
    EXPECT_EQ(vm.top, 0);
    EXPECT_EQ(fixedIn(p), fx(3));
    vm.push(p);
    call(FIXED, 17);
    vm.push(p);
    call(FIXED, 17);
    EXPECT_EQ(vm.top, 0);
    EXPECT_EQ(fixedIn(p), fx(1));
    Word m = newFixed(R::FIXED_MAX);
    vm.push(m);
    call(FIXED, 16);
    EXPECT_EQ(fixedIn(m), R::FIXED_MAX);
}

TEST_F(FixedNative, ComparisonsGiveOneOrZeroInTheFirstSlot)
{
    struct Case { TInt64 a, b; };
    // Signed over the whole 64 bits: the low words alone would order these
    // the other way.
    for (Case c : {Case{fx(1), fx(1)}, Case{-fx(0.5), fx(0.25)}, Case{fx(1.25), fx(0.75)}, Case{R::FIXED_MIN, R::FIXED_MAX}}) {
        bool expected[] = {c.a == c.b, c.a != c.b, c.a < c.b, c.a <= c.b, c.a > c.b, c.a >= c.b};
        for (int f = 18; f <= 23; ++f) {
            reset();
            pushFixed(c.a);
            pushFixed(c.b);
            call(FIXED, f);
            EXPECT_EQ(vm.top, 1);
            EXPECT_EQ(at(1), expected[f - 18] ? 1 : 0) << f;
        }
    }
}

TEST_F(FixedNative, Texts)
{
    Word p = newFixed(R::toFixed(1.999));
    vm.push(p);
    vm.push(2);
    call(FIXED, 24);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(text(at(1)), "2.00");
    reset();
    vm.push(p);
    vm.push(-2);
    EXPECT_EQ(callError(FIXED, 24), Pair(6, "InvalidArgumentException"));

    reset();
    vm.push(newFixed(R::one));
    call(FIXED, 25);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(text(at(1)), "1.0");
    at(1) = newFixed(R::one / 2);
    call(FIXED, 25);
    EXPECT_EQ(text(at(1)), "0.5");
    at(1) = newFixed(-fx(0.125));
    call(FIXED, 25);
    EXPECT_EQ(text(at(1)), "-0.125");
}

TEST_F(FixedNative, RoundCeilingFloor)
{
    struct Case { double v; Word round, ceiling, floor; };
    for (Case c : {Case{2.5, 3, 3, 2}, Case{-2.5, -3, -2, -3}, Case{-2.25, -2, -2, -3}, Case{-2.75, -3, -2, -3},
                   Case{2.4, 2, 3, 2}, Case{-3, -3, -3, -3}, Case{0, 0, 0, 0}}) {
        EXPECT_EQ(toWord(FIXED, 26, fx(c.v)), c.round) << c.v;
        EXPECT_EQ(toWord(FIXED, 27, fx(c.v)), c.ceiling) << c.v;
        EXPECT_EQ(toWord(FIXED, 28, fx(c.v)), c.floor) << c.v;
    }
    EXPECT_EQ(toWord(FIXED, 26, R::FIXED_MAX), INT32_MAX);
    EXPECT_EQ(toWord(FIXED, 27, R::FIXED_MAX), INT32_MAX);
    EXPECT_EQ(toWord(FIXED, 26, R::FIXED_MIN), INT32_MIN);
    EXPECT_EQ(toWord(FIXED, 27, R::FIXED_MIN + 1), INT32_MIN + 1);
    EXPECT_EQ(toWord(FIXED, 28, R::FIXED_MIN + 1), INT32_MIN);
}

TEST_F(FixedNative, ConstantsAndUnknown)
{
    call(FIXED, 29);
    EXPECT_EQ(vm.top, 2);
    EXPECT_EQ(fixedAt(1), R::FIXED_MIN);
    call(FIXED, 30);
    EXPECT_EQ(vm.top, 4);
    EXPECT_EQ(fixedAt(3), R::FIXED_MAX);
    EXPECT_EQ(callError(FIXED, 0), Pair(10, "VMException: Fixed:31"));
    EXPECT_EQ(callError(FIXED, 31), Pair(10, "VMException: Fixed:31"));
}

TEST_F(MathNative, Trigonometry)
{
    auto near = [](TInt64 got, double want) { return std::fabs(R::toReal(got) - want) < 1e-8; };
    EXPECT_TRUE(near(unary(MATH, 1, R::pi / 6), 0.5));
    EXPECT_TRUE(near(unary(MATH, 2, R::pi / 3), 0.5));
    EXPECT_TRUE(near(unary(MATH, 3, R::pi / 4), 1.0));
    EXPECT_TRUE(near(unary(MATH, 4, R::one), M_PI / 2));
    EXPECT_TRUE(near(unary(MATH, 5, -R::one), M_PI));
    EXPECT_TRUE(near(unary(MATH, 6, R::one), M_PI / 4));
    EXPECT_EQ(unary(MATH, 1, 0), 0);
    EXPECT_EQ(unaryError(MATH, 4, R::one + 1), kMath);
    EXPECT_EQ(unaryError(MATH, 5, -R::one - 1), kMath);
    // tan(pi/2 - 2^-40) is about 1.1e12: saturated, hence an error.
    EXPECT_EQ(unaryError(MATH, 3, fx(M_PI / 2 - 0x1p-40)), kMath);
}

TEST_F(MathNative, AngleConversions)
{
    // Products of the 32.32 constants, truncated toward zero: pi gives
    // 180 + 25 * 2^-32, 2pi gives 360 - 6 * 2^-32, 360 gives 2pi - 0xD1 * 2^-32.
    EXPECT_EQ(unary(MATH, 7, 0x00000003243F6A89LL), 0x000000B400000019LL);
    EXPECT_EQ(unary(MATH, 7, 0x00000006487ED512LL), 0x00000167FFFFFFFALL);  // 2pi + 2^-32 clamps
    EXPECT_EQ(unary(MATH, 7, -0x00000006487EFFFFLL), -0x00000167FFFFFFFALL);
    EXPECT_EQ(unary(MATH, 7, -fx(1)), -0x000000394BB834C7LL);
    EXPECT_EQ(unaryError(MATH, 7, 0x00000006487F0000LL), kMath);
    EXPECT_EQ(unaryError(MATH, 7, R::FIXED_MIN), kMath);
    EXPECT_EQ(unary(MATH, 8, fx(360)), 0x00000006487ED440LL);
    EXPECT_EQ(unary(MATH, 8, -fx(360)), -0x00000006487ED440LL);
    EXPECT_EQ(unary(MATH, 8, fx(1)), 0x000000000477D1A8LL);
    EXPECT_EQ(unaryError(MATH, 8, fx(361)), kMath);
    EXPECT_EQ(unaryError(MATH, 8, fx(360) + 1), kMath);
    EXPECT_EQ(unaryError(MATH, 8, R::FIXED_MIN), kMath);
}

TEST_F(MathNative, RootsAndLogarithms)
{
    EXPECT_EQ(unary(MATH, 9, fx(2.25)), fx(1.5));
    EXPECT_EQ(unary(MATH, 9, 0), 0);
    EXPECT_EQ(unaryError(MATH, 9, -R::epsilon), kMath);
    EXPECT_NEAR(R::toReal(unary(MATH, 11, R::e)), 1.0, 1e-8);
    EXPECT_EQ(unaryError(MATH, 11, 0), kMath);
    EXPECT_EQ(unaryError(MATH, 11, -R::one), kMath);

    // log of a to base b; a is below b.
    EXPECT_NEAR(R::toReal(binary(MATH, 10, fx(8), fx(2))), 3.0, 1e-8);
    EXPECT_NEAR(R::toReal(binary(MATH, 10, fx(2), fx(8))), 1.0 / 3, 1e-8);
    EXPECT_EQ(binary(MATH, 10, fx(5), fx(5)), R::one);
    EXPECT_EQ(binary(MATH, 10, -fx(3), -fx(3)), R::one);
    for (TInt64 b : {TInt64(0), R::one, -R::one})
        EXPECT_EQ(binaryError(MATH, 10, fx(8), b), kMath) << b;
    EXPECT_EQ(binaryError(MATH, 10, 0, fx(2)), kMath);
    EXPECT_EQ(binaryError(MATH, 10, -fx(8), fx(2)), kMath);
    EXPECT_EQ(binaryError(MATH, 10, fx(8), -fx(2)), kMath);
    // ln(1 + 2^-32) is below 2^-32: a fixed zero divisor.
    EXPECT_EQ(binaryError(MATH, 10, fx(8), R::one + 1), kMath);
}

TEST_F(MathNative, MinimumMaximumAndConstants)
{
    struct Case { int function; Word u, t, expected; };
    for (Case c : {Case{14, 0x105, 0x1FF, -1}, Case{14, 3, 0x180, -128}, Case{15, -7, 3, -7}, Case{15, 9, 3, 3},
                   Case{17, 0x105, 0x1FF, 5}, Case{17, 0x17F, 0, 127}, Case{18, -7, 3, 3}, Case{18, 9, -3, 9}}) {
        reset();
        vm.push(c.u);
        vm.push(c.t);
        call(MATH, c.function);
        EXPECT_EQ(vm.top, 1);
        EXPECT_EQ(at(1), c.expected) << c.function;
    }
    // Over 64 bits: the low words alone would pick the other one.
    EXPECT_EQ(binary(MATH, 16, fx(1.75), fx(2.25)), fx(1.75));
    EXPECT_EQ(binary(MATH, 16, fx(2.25), -fx(1.75)), -fx(1.75));
    EXPECT_EQ(binary(MATH, 19, fx(1.75), fx(2.25)), fx(2.25));
    EXPECT_EQ(binary(MATH, 19, -fx(2.25), -fx(1.75)), -fx(1.75));

    reset();
    call(MATH, 20);
    call(MATH, 21);
    call(MATH, 22);
    EXPECT_EQ(vm.top, 6);
    EXPECT_EQ(fixedAt(1), R::e);
    EXPECT_EQ(fixedAt(3), R::pi);
    EXPECT_EQ(fixedAt(5), R::epsilon);
    EXPECT_EQ(callError(MATH, 0), Pair(10, "VMException: Math:31"));
    EXPECT_EQ(callError(MATH, 23), Pair(10, "VMException: Math:31"));
}

TEST_F(RandomGenerator, DrawsAreMt19937OfTheSeededState)
{
    const TUint32 seed = 4357;
    std::mt19937 reference = referenceEngine(seed);
    vm.seedRandom(seed);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(drawRandom(vm), reference()) << i;

    // Math 12: lo + draw mod span, either order, span up to 2^32.
    vm.seedRandom(seed);
    reference = referenceEngine(seed);
    struct Case { Word u, t; };
    for (Case c : {Case{10, 20}, Case{20, 10}, Case{-5, -5}, Case{INT32_MIN, INT32_MAX}, Case{INT32_MAX, -3}}) {
        for (int i = 0; i < 50; ++i) {
            reset();
            vm.push(c.u);
            vm.push(c.t);
            call(MATH, 12);
            EXPECT_EQ(vm.top, 1);
            TInt64 lo = std::min(c.u, c.t), hi = std::max(c.u, c.t);
            ASSERT_EQ(at(1), TInt64(lo + TInt64(reference() % TUint64(hi - lo + 1))));
        }
    }
}

TEST_F(RandomGenerator, RandomFixedStaysInItsBounds)
{
    // The model: lo + draw * span / 2^32, rounded down, in exact integers.
    auto scaled = [](TInt64 lo, TUint32 draw, TUint64 span) {
        return lo + TInt64((unsigned __int128)draw * span >> 32);
    };
    vm.seedRandom(1);
    std::mt19937 reference = referenceEngine(1);
    for (int i = 0; i < 200; ++i) {
        TInt64 r = binary(MATH, 13, fx(5), -fx(3));  // either order
        ASSERT_EQ(r, scaled(-(TInt64(3) << 32), TUint32(reference()), TUint64(8) << 32));
        ASSERT_TRUE(r >= -fx(3) && r <= fx(5));
    }
    EXPECT_EQ(binary(MATH, 13, fx(2), fx(2)), fx(2));
    reference();  // an empty span still takes its draw
    // Spans that overflow: one draw for each half, one to pick. The lower
    // half of [FIXED_MIN, 0] is taken as FIXED_MAX wide.
    for (int i = 0; i < 200; ++i) {
        TInt64 lo = i % 2 ? INT64_MIN : -(TInt64(2000000000) << 32);
        TInt64 r = binary(MATH, 13, lo, INT64_MAX);
        TInt64 v1 = scaled(lo, TUint32(reference()), lo == INT64_MIN ? TUint64(INT64_MAX) : TUint64(-lo));
        TInt64 v2 = scaled(0, TUint32(reference()), TUint64(INT64_MAX));
        ASSERT_EQ(r, (reference() & 1) ? v1 : v2);
    }
}

TEST_F(RandomGenerator, FirstUseSeedsFromTheClock)
{
    ASSERT_FALSE(vm.random);
    vm.push(1);
    vm.push(6);
    call(MATH, 12);
    EXPECT_TRUE(vm.random);
    EXPECT_GE(at(1), 1);
    EXPECT_LE(at(1), 6);
    // An index outside the state counts as 0 (regenerate), not as a position.
    vm.random->index = 100000;
    EXPECT_NO_THROW(drawRandom(vm));
    EXPECT_EQ(vm.random->index, 1);
}

TEST_F(NumberNative, AbsoluteValuesAndRadixText)
{
    struct Case { int function; Word in, out; };
    for (Case c : {Case{1, 0x180, 128}, Case{1, -5, 5}, Case{1, 0x1FB, 5}, Case{1, 0x105, 0x105}, Case{1, 0, 0},
                   Case{2, INT32_MIN, INT32_MAX}, Case{2, -9, 9}, Case{2, 9, 9}}) {
        reset();
        vm.push(c.in);
        call(NUMBER, c.function);
        EXPECT_EQ(vm.top, 1);
        EXPECT_EQ(at(1), c.out) << c.function << " " << c.in;
    }
    struct Text { Word value, radix; const char* out; };
    for (Text t : {Text{-1, 16, "ffffffff"}, Text{-1, 1, ""}, Text{255, 2, "11111111"}, Text{35, 36, "z"},
                   Text{0, 10, "0"}, Text{5, 37, ""}, Text{-2, 10, "4294967294"}}) {
        reset();
        vm.push(t.value);
        vm.push(t.radix);
        call(NUMBER, 3);
        EXPECT_EQ(vm.top, 1);
        EXPECT_EQ(text(at(1)), t.out) << t.value << " " << t.radix;
    }
    EXPECT_EQ(callError(NUMBER, 0), Pair(10, "VMException: Number:31"));
    EXPECT_EQ(callError(NUMBER, 4), Pair(10, "VMException: Number:31"));
}

TEST_F(FloatNative, ConversionAndArithmetic)
{
    EXPECT_EQ(wf(toWord(FLOAT, 0, -fx(2.5))), -2.5f);
    EXPECT_EQ(wf(toWord(FLOAT, 0, R::FIXED_MAX)), 2147483648.0f);
    // Nearest float, rounded once: 1 + 2^-24 + 2^-32 lies above the halfway
    // point between 1 and the next float.
    EXPECT_EQ(wf(toWord(FLOAT, 0, R::one + (R::one >> 24) + 1)), std::nextafter(1.0f, 2.0f));
    // Through a double this one would round twice and land on 2^30.
    EXPECT_EQ(wf(toWord(FLOAT, 0, (TInt64(1) << 62) + (TInt64(1) << 38) + 1)), 1073741952.0f);

    struct Case { int function; float u, t, expected; };
    for (Case c : {Case{1, 1.5f, 2.25f, 3.75f}, Case{2, 1.5f, 2.25f, -0.75f}, Case{3, 1.5f, -2.0f, -3.0f},
                   Case{4, 3.0f, 2.0f, 1.5f}, Case{4, 1.0f, 0.0f, INFINITY}}) {
        reset();
        vm.push(fw(c.u));
        vm.push(fw(c.t));
        call(FLOAT, c.function);
        EXPECT_EQ(vm.top, 1);
        EXPECT_EQ(wf(at(1)), c.expected) << c.function;
    }
    reset();
    vm.push(fw(0.0f));
    call(FLOAT, 5);
    EXPECT_EQ(vm.top, 1);
    EXPECT_EQ(TUint32(at(1)), 0x80000000u);
    call(FLOAT, 5);
    EXPECT_EQ(at(1), 0);
}

TEST_F(FloatNative, AssignmentTextAndUnknown)
{
    Addr v = vm.heap().alloc(4, 0, GC_CODE_NATIVE);
    struct Case { int function; float operand, expected; };
    vm.space().storeWord(v, fw(6.0f));
    for (Case c : {Case{6, 2.0f, 8.0f}, Case{7, 3.0f, 5.0f}, Case{8, 2.0f, 10.0f}, Case{9, 4.0f, 2.5f}}) {
        reset();
        vm.push(Word(v));
        vm.push(fw(c.operand));
        call(FLOAT, c.function);
        EXPECT_EQ(vm.top, 0);
        EXPECT_EQ(wf(vm.space().loadWord(v)), c.expected) << c.function;
    }
    vm.push(0);
    vm.push(fw(1.0f));
    EXPECT_EQ(callError(FLOAT, 6), Pair(1, "NullPointerException: NULL pointer"));

    struct Text { float value; const char* out; };
    for (Text t : {Text{1.5f, "1.5"}, Text{1234567.0f, "1.23457e+06"}, Text{0.0001f, "0.0001"}, Text{-3.0f, "-3"},
                   Text{INFINITY, "inf"}}) {
        reset();
        vm.push(fw(t.value));
        call(FLOAT, 10);
        EXPECT_EQ(vm.top, 1);
        EXPECT_EQ(text(at(1)), t.out);
    }
    EXPECT_EQ(callError(FLOAT, 11), Pair(10, "VMException: Float: invalid opcode: 11"));
    EXPECT_EQ(callError(FLOAT, -1), Pair(10, "VMException: Float: invalid opcode: -1"));
}
