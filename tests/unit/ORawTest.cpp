// Fixed-point library: saturating arithmetic against a 128-bit model, the
// decimal text of fixed values and its parser.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <cmath>
#include <random>
#include <string>

#include "ORaw.h"
#include "VirtualMachine.h"

using namespace vm;
namespace R = vm::ORaw;

namespace {

using Pair = std::pair<int, std::string>;

TInt64 fixedOf(double v) { return TInt64(v * 4294967296.0); }

TInt64 saturate(__int128 v)
{
    if (v > INT64_MAX)
        return R::FIXED_MAX;
    if (v < INT64_MIN)
        return R::FIXED_MIN;
    return TInt64(v);
}

// Operands biased toward the interesting places: near 0, near the limits,
// and anywhere.
TInt64 operand(std::mt19937_64& g)
{
    switch (g() % 4) {
    case 0: return TInt64(g() % 2000000) - 1000000;
    case 1: return R::FIXED_MAX - TInt64(g() % 1000);
    case 2: return R::FIXED_MIN + TInt64(g() % 1000);
    default: return TInt64(g()) >> (g() % 40);
    }
}

struct ORawTest : ::testing::Test {
    VirtualMachine vm;  // string buffers live in its space
    std::string text(TInt64 x, int decimals) { return fixedToText(x, decimals).toUtf8(); }
    TInt64 parse(const char* s) { return parseFixed(OString(s)); }
};

}  // namespace

TEST_F(ORawTest, AddSubtractMultiplyMatchA128BitModel)
{
    std::mt19937_64 g(12345);
    for (int i = 0; i < 20000; ++i) {
        TInt64 a = operand(g), b = operand(g);
        ASSERT_EQ(R::add(a, b), saturate(__int128(a) + b)) << a << " + " << b;
        ASSERT_EQ(R::subtract(a, b), saturate(__int128(a) - b)) << a << " - " << b;
        __int128 p = __int128(a) * b;
        // Magnitude truncated to 32 fraction bits, then signed.
        __int128 m = (p < 0 ? -p : p) >> 32;
        ASSERT_EQ(R::multiply(a, b), saturate(p < 0 ? -m : m)) << a << " * " << b;
    }
    EXPECT_EQ(R::add(R::FIXED_MAX, R::one), R::FIXED_MAX);
    EXPECT_EQ(R::subtract(R::FIXED_MIN, R::one), R::FIXED_MIN);
    EXPECT_EQ(R::subtract(0, R::FIXED_MIN), R::FIXED_MAX);
    // -0.5 * epsilon truncates toward zero, not to -epsilon.
    EXPECT_EQ(R::multiply(-R::one / 2, R::epsilon), 0);
    EXPECT_EQ(R::multiply(R::FIXED_MIN, R::one), R::FIXED_MIN);
    EXPECT_EQ(R::multiply(R::FIXED_MIN, -R::one), R::FIXED_MAX);
    EXPECT_EQ(R::multiply(R::FIXED_MAX, -R::FIXED_MAX), R::FIXED_MIN);
}

TEST_F(ORawTest, ToFixedDivideAndSymmetricSaturation)
{
    EXPECT_EQ(R::toFixed(1.5), fixedOf(1.5));
    EXPECT_EQ(R::toFixed(-1.75), -fixedOf(1.75));
    EXPECT_EQ(R::toFixed(2147483648.0), R::FIXED_MAX);
    EXPECT_EQ(R::toFixed(-2147483648.0), R::FIXED_MIN);
    EXPECT_EQ(R::toFixed(1e300), R::FIXED_MAX);
    EXPECT_EQ(R::toFixed(-INFINITY), R::FIXED_MIN);
    EXPECT_EQ(R::toFixed(-0x1p-33), 0);  // truncated toward zero
    EXPECT_EQ(errorOf([] { R::toFixed(NAN); }), Pair(8, "MathException"));

    EXPECT_EQ(R::divide(fixedOf(7), fixedOf(2)), fixedOf(3.5));
    EXPECT_EQ(R::divide(-fixedOf(1), fixedOf(4)), -fixedOf(0.25));
    EXPECT_EQ(R::divide(R::FIXED_MAX, R::epsilon), R::FIXED_MAX);
    EXPECT_EQ(errorOf([] { R::divide(R::one, 0); }), Pair(8, "MathException"));

    EXPECT_EQ(R::negate(R::FIXED_MAX), R::FIXED_MIN);
    EXPECT_EQ(R::negate(R::FIXED_MIN), R::FIXED_MAX);
    EXPECT_EQ(R::negate(fixedOf(2.5)), -fixedOf(2.5));
    EXPECT_EQ(R::abs(R::FIXED_MIN), R::FIXED_MAX);
    EXPECT_EQ(R::abs(-fixedOf(2.5)), fixedOf(2.5));
    EXPECT_EQ(R::fromWords(R::lowWord(-R::one / 3), R::highWord(-R::one / 3)), -R::one / 3);
}

TEST_F(ORawTest, PowDomainSignsAndUnderflow)
{
    EXPECT_EQ(R::pow(fixedOf(2), fixedOf(10)), fixedOf(1024));
    EXPECT_EQ(R::pow(fixedOf(4), fixedOf(0.5)), fixedOf(2));
    EXPECT_EQ(R::pow(fixedOf(2), -fixedOf(1)), fixedOf(0.5));
    EXPECT_EQ(R::pow(-fixedOf(2), fixedOf(3)), -fixedOf(8));
    EXPECT_EQ(R::pow(-fixedOf(2), fixedOf(2)), fixedOf(4));
    EXPECT_EQ(R::pow(-fixedOf(2), -fixedOf(1)), -fixedOf(0.5));
    EXPECT_EQ(R::pow(0, 0), R::one);
    EXPECT_EQ(R::pow(-fixedOf(5), 0), R::one);
    EXPECT_EQ(R::pow(0, fixedOf(3)), 0);
    EXPECT_EQ(R::pow(fixedOf(10), fixedOf(20)), R::FIXED_MAX);
    EXPECT_EQ(R::pow(-fixedOf(10), fixedOf(21)), R::FIXED_MIN);
    // Results below 2^-32, even a double underflow to 0, are 0.
    EXPECT_EQ(R::pow(fixedOf(0.5), fixedOf(40)), 0);
    EXPECT_EQ(R::pow(R::epsilon, fixedOf(100)), 0);
    EXPECT_EQ(R::pow(fixedOf(1000), -fixedOf(1000)), 0);
    // A power of a small base that underflows, inverted, saturates.
    EXPECT_EQ(R::pow(R::epsilon, -fixedOf(100)), R::FIXED_MAX);
    EXPECT_EQ(errorOf([] { R::pow(0, -R::one); }).first, 8);
    EXPECT_EQ(errorOf([] { R::pow(-fixedOf(2), fixedOf(0.5)); }).first, 8);
    EXPECT_EQ(errorOf([] { R::pow(-fixedOf(2), R::epsilon); }).first, 8);
}

TEST_F(ORawTest, TextOfFixedValues)
{
    EXPECT_EQ(text(R::one, -1), "1.0");
    EXPECT_EQ(text(R::one / 2, -1), "0.5");
    EXPECT_EQ(text(0, -1), "0.0");
    EXPECT_EQ(text(-fixedOf(2.25), -1), "-2.25");
    EXPECT_EQ(text(R::epsilon, -1), "0.00000000023283064365386962890625");
    EXPECT_EQ(text(R::FIXED_MIN, -1), "-2147483648.0");
    EXPECT_EQ(text(R::FIXED_MAX, -1), "2147483647.99999999976716935634613037109375");

    EXPECT_EQ(text(R::toFixed(1.999), 2), "2.00");
    EXPECT_EQ(text(R::toFixed(1.999), 0), "2");
    EXPECT_EQ(text(R::toFixed(1.25), 1), "1.3");   // next digit 5 rounds up
    EXPECT_EQ(text(-R::toFixed(1.25), 1), "-1.3");  // on the magnitude
    EXPECT_EQ(text(R::toFixed(1.24), 1), "1.2");
    EXPECT_EQ(text(fixedOf(3), 0), "3");
    EXPECT_EQ(text(fixedOf(0.5), 0), "1");
    EXPECT_EQ(text(fixedOf(9.96), 1), "10.0");
    EXPECT_EQ(text(R::one / 2, 40), "0.5000000000000000000000000000000000000000");
    // A carry into 2147483647 keeps the integer part and turns digits to 9.
    EXPECT_EQ(text(R::FIXED_MAX, 3), "2147483647.999");
    EXPECT_EQ(text(R::FIXED_MAX, 0), "2147483647");
    EXPECT_EQ(text(-R::FIXED_MAX, 2), "-2147483647.99");
    EXPECT_EQ(errorOf([&] { text(R::one, -2); }), Pair(6, "InvalidArgumentException"));
    EXPECT_EQ(errorOf([&] { text(R::one, INT32_MIN); }).first, 6);
    // A text longer than any string can be is refused, not attempted.
    EXPECT_EQ(errorOf([&] { text(R::one, INT32_MAX); }), Pair(10, "VMException: Out of memory"));
}

TEST_F(ORawTest, ParseFixedTexts)
{
    EXPECT_EQ(parse("+-3.25"), -fixedOf(3.25));
    EXPECT_EQ(parse("12"), fixedOf(12));
    EXPECT_EQ(parse("  \t 7.5xyz  "), fixedOf(7.5));
    EXPECT_EQ(parse("+++0.125"), fixedOf(0.125));
    EXPECT_EQ(parse("-0"), 0);
    EXPECT_EQ(parse("2147483647"), fixedOf(2147483647.0));
    EXPECT_EQ(parse("99999999999"), R::FIXED_MAX);
    EXPECT_EQ(parse("-99999999999.5"), R::FIXED_MIN);
    EXPECT_EQ(parse("-2147483648"), R::FIXED_MIN);
    EXPECT_EQ(parse("0.1"), 429496729);  // truncated
    EXPECT_EQ(parse("0.00000000023283064365386962890625"), R::epsilon);
    EXPECT_EQ(parse("0.00000000023283064365386962890624999"), 0);
    EXPECT_EQ(parse("0.99999999999999999999999999999999999"), 0xFFFFFFFFLL);
    Pair dataFormat(4, "DataFormatException: ");
    for (const char* bad : {"abc", "4.", "", "   ", ".5", "-", "--3", "+-", "- 3", "4.x"})
        EXPECT_EQ(errorOf([&] { parse(bad); }), dataFormat) << bad;
}

TEST_F(ORawTest, ExactTextParsesBackToTheSameValue)
{
    std::mt19937_64 g(777);
    for (int i = 0; i < 3000; ++i) {
        TInt64 x = operand(g);
        ASSERT_EQ(parseFixed(fixedToText(x, -1)), x) << text(x, -1);
    }
    EXPECT_EQ(parseFixed(fixedToText(R::FIXED_MIN, -1)), R::FIXED_MIN);
}
