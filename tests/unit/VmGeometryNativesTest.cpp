// Color, Size, Position, Rectangle and KeyEvent groups, driven in-process on
// the operand stack: results, stack effects, checks and messages.
#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <vector>

#include "KeyEvent.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "TestSupport.h"
#include "VirtualMachine.h"

using namespace vm;

namespace {

using Pair = std::pair<int, std::string>;
enum { COLOR = 13, SIZE = 15, POSITION = 16, RECTANGLE = 17, KEYEVENT = 35 };
constexpr Word kSentinel = 0x5EED;

struct VmGeometry : ::testing::Test {
    VirtualMachine vm;
    Addr var = 0;  // a 4-word variable
    Addr src = 0;  // another one

    void SetUp() override
    {
        vm.pc = 321;
        vm.push(kSentinel);
        var = vm.heap().alloc(16, 0, GC_CODE_NATIVE);
        src = vm.heap().alloc(16, 0, GC_CODE_NATIVE);
    }
    void TearDown() override { EXPECT_EQ(vm.stack()[0], kSentinel); }

    // Pushes the operands, calls, and returns the words above the sentinel.
    std::vector<Word> call(int group, int function, std::initializer_list<Word> operands)
    {
        vm.top = 0;
        for (Word w : operands)
            vm.push(w);
        vm.callNative(group, function);
        if (vm.top < 0) {
            ADD_FAILURE() << "the sentinel was popped";
            vm.top = 0;
            return {};
        }
        return std::vector<Word>(vm.stack() + 1, vm.stack() + vm.top + 1);
    }
    Pair error(int group, int function, std::initializer_list<Word> operands)
    {
        Pair r = errorOf([&] { call(group, function, operands); });
        vm.top = 0;
        return r;
    }
    void setVar(Addr a, std::initializer_list<Word> words)
    {
        uint32_t i = 0;
        for (Word w : words)
            vm.space().storeWord(a + 4 * i++, w);
    }
    std::vector<Word> words(Addr a, int n)
    {
        std::vector<Word> r;
        for (int i = 0; i < n; ++i)
            r.push_back(vm.space().loadWord(a + 4u * uint32_t(i)));
        return r;
    }
    Word v() const { return Word(var); }
};

using W = std::vector<Word>;
const Pair kBadArgument{6, "InvalidArgumentException"};

}  // namespace

TEST_F(VmGeometry, ColourInitialisersAndSetters)
{
    setVar(var, {0x12345678, 77});
    EXPECT_EQ(call(COLOR, 1, {v()}), W{});
    EXPECT_EQ(words(var, 2), (W{Word(0xFFFFFFFF), 77}));

    setVar(src, {Word(0x80FF0000)});
    EXPECT_EQ(call(COLOR, 2, {v(), Word(src)}), W{});
    EXPECT_EQ(words(var, 2), (W{Word(0x80FF0000), 77}));

    EXPECT_EQ(call(COLOR, 3, {v(), 255, 0, 0, 128}), W{});
    EXPECT_EQ(words(var, 1), W{Word(0x80FF0000)});
    EXPECT_EQ(call(COLOR, 3, {v(), 0x12, 0x34, 0x56, 0x78}), W{});
    EXPECT_EQ(words(var, 1), W{0x78123456});
    for (auto bad : {W{256, 0, 0, 0}, W{0, 256, 0, 0}, W{0, 0, -1, 0}, W{0, 0, 0, 256}, W{-1, 0, 0, 255}}) {
        EXPECT_EQ(error(COLOR, 3, {v(), bad[0], bad[1], bad[2], bad[3]}), kBadArgument);
        EXPECT_EQ(words(var, 1), W{0x78123456});  // unchanged
    }

    // Components: red, green, blue, alpha; each replaces its operand.
    EXPECT_EQ(call(COLOR, 4, {v()}), W{0x12});
    EXPECT_EQ(call(COLOR, 5, {v()}), W{0x34});
    EXPECT_EQ(call(COLOR, 6, {v()}), W{0x56});
    EXPECT_EQ(call(COLOR, 7, {v()}), W{0x78});

    setVar(var, {Word(0xFFFF0000)});
    EXPECT_EQ(call(COLOR, 11, {v(), 0}), W{});
    EXPECT_EQ(words(var, 1), W{0x00FF0000});
    EXPECT_EQ(call(COLOR, 8, {v(), 0x01}), W{});
    EXPECT_EQ(call(COLOR, 9, {v(), 0x02}), W{});
    EXPECT_EQ(call(COLOR, 10, {v(), 0xFF}), W{});
    EXPECT_EQ(words(var, 1), W{0x000102FF});
    EXPECT_EQ(call(COLOR, 11, {v(), 255}), W{});
    EXPECT_EQ(words(var, 1), W{Word(0xFF0102FF)});
    for (int f : {8, 9, 10, 11}) {
        EXPECT_EQ(error(COLOR, f, {v(), 256}), kBadArgument);
        EXPECT_EQ(error(COLOR, f, {v(), -1}), kBadArgument);
    }
    EXPECT_EQ(words(var, 1), W{Word(0xFF0102FF)});

    EXPECT_EQ(error(COLOR, 1, {0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(COLOR, 4, {12}).first, 10);  // not an address of the space
}

TEST_F(VmGeometry, ColourComparisonsAndPredefinedColours)
{
    EXPECT_EQ(call(COLOR, 12, {5, 5}), W{-1});
    EXPECT_EQ(call(COLOR, 12, {5, 6}), W{0});
    EXPECT_EQ(call(COLOR, 13, {5, 6}), W{-1});
    EXPECT_EQ(call(COLOR, 13, {Word(0xFF000000), Word(0xFF000000)}), W{0});

    const TUint32 expected[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF000000, 0xFFFFFFFF, 0xFF00FFFF,
                                0xFFFF00FF, 0xFFFFFF00, 0xFF808080, 0xFF964B00, 0xFFFF7F00};
    for (int f = 14; f <= 24; ++f)
        EXPECT_EQ(call(COLOR, f, {}), W{Word(expected[f - 14])}) << f;

    for (int f : {0, 25, -1, 127})
        EXPECT_EQ(error(COLOR, f, {}), Pair(10, "VMException: Color:321")) << f;
}

TEST_F(VmGeometry, SizesRejectNegativesWherePositionsDoNot)
{
    setVar(var, {7, 8, 9});
    EXPECT_EQ(call(SIZE, 1, {v()}), W{});
    EXPECT_EQ(words(var, 3), (W{0, 0, 9}));
    EXPECT_EQ(call(SIZE, 3, {v(), 640, 480}), W{});
    EXPECT_EQ(words(var, 3), (W{640, 480, 9}));
    EXPECT_EQ(error(SIZE, 3, {v(), -1, 5}), kBadArgument);
    EXPECT_EQ(error(SIZE, 3, {v(), 5, INT_MIN}), kBadArgument);
    EXPECT_EQ(words(var, 2), (W{640, 480}));
    EXPECT_EQ(call(SIZE, 4, {v()}), W{640});
    EXPECT_EQ(call(SIZE, 5, {v()}), W{480});
    EXPECT_EQ(call(SIZE, 6, {v(), 0}), W{});
    EXPECT_EQ(call(SIZE, 7, {v(), 3}), W{});
    EXPECT_EQ(words(var, 2), (W{0, 3}));
    EXPECT_EQ(error(SIZE, 6, {v(), -2}), kBadArgument);
    EXPECT_EQ(error(SIZE, 7, {v(), -2}), kBadArgument);
    setVar(src, {11, 12});
    EXPECT_EQ(call(SIZE, 2, {v(), Word(src)}), W{});
    EXPECT_EQ(words(var, 3), (W{11, 12, 9}));
    EXPECT_EQ(call(SIZE, 8, {1, 2, 1, 2}), W{-1});
    EXPECT_EQ(call(SIZE, 8, {1, 2, 2, 1}), W{0});
    EXPECT_EQ(call(SIZE, 9, {1, 2, 1, 3}), W{-1});
    EXPECT_EQ(call(SIZE, 9, {1, 2, 1, 2}), W{0});
    EXPECT_EQ(error(SIZE, 10, {}), Pair(10, "VMException: Size:321"));

    EXPECT_EQ(call(POSITION, 3, {v(), -5, INT_MIN}), W{});
    EXPECT_EQ(words(var, 2), (W{-5, INT_MIN}));
    EXPECT_EQ(call(POSITION, 4, {v()}), W{-5});
    EXPECT_EQ(call(POSITION, 5, {v()}), W{INT_MIN});
    EXPECT_EQ(call(POSITION, 6, {v(), -1}), W{});
    EXPECT_EQ(call(POSITION, 7, {v(), -2}), W{});
    EXPECT_EQ(words(var, 2), (W{-1, -2}));
    EXPECT_EQ(call(POSITION, 1, {v()}), W{});
    EXPECT_EQ(words(var, 3), (W{0, 0, 9}));
    EXPECT_EQ(call(POSITION, 2, {v(), Word(src)}), W{});
    EXPECT_EQ(words(var, 2), (W{11, 12}));
    EXPECT_EQ(call(POSITION, 8, {-1, 0, -1, 0}), W{-1});
    EXPECT_EQ(call(POSITION, 9, {-1, 0, -1, 0}), W{0});
    EXPECT_EQ(call(POSITION, 9, {0, -1, -1, 0}), W{-1});
    EXPECT_EQ(error(POSITION, 0, {}), Pair(10, "VMException: Position:321"));
    EXPECT_EQ(error(POSITION, 2, {v(), 0}), Pair(1, "NullPointerException: NULL pointer"));
}

TEST_F(VmGeometry, RectangleAccessors)
{
    setVar(var, {1, 2, 3, 4});
    EXPECT_EQ(call(RECTANGLE, 1, {v()}), W{});
    EXPECT_EQ(words(var, 4), (W{0, 0, 0, 0}));
    EXPECT_EQ(call(RECTANGLE, 3, {v(), 10, 20, -30, 40}), W{});  // no sign check
    EXPECT_EQ(words(var, 4), (W{10, 20, -30, 40}));
    setVar(src, {5, 6, 7, 8});
    EXPECT_EQ(call(RECTANGLE, 2, {v(), Word(src)}), W{});
    EXPECT_EQ(words(var, 4), (W{5, 6, 7, 8}));

    EXPECT_EQ(call(RECTANGLE, 4, {v()}), (W{5, 6}));
    EXPECT_EQ(call(RECTANGLE, 5, {v()}), (W{7, 8}));
    EXPECT_EQ(call(RECTANGLE, 6, {v()}), W{5});
    EXPECT_EQ(call(RECTANGLE, 7, {v()}), W{6});
    EXPECT_EQ(call(RECTANGLE, 8, {v()}), W{7});
    EXPECT_EQ(call(RECTANGLE, 9, {v()}), W{8});
    EXPECT_EQ(call(RECTANGLE, 10, {v()}), W{12});
    EXPECT_EQ(call(RECTANGLE, 11, {v()}), W{14});
    setVar(var, {INT_MAX, 0, 1, 0});
    EXPECT_EQ(call(RECTANGLE, 10, {v()}), W{INT_MIN});  // a word: wraps

    EXPECT_EQ(call(RECTANGLE, 12, {v(), -3, -4}), W{});
    EXPECT_EQ(call(RECTANGLE, 13, {v(), -5, -6}), W{});  // no sign check
    EXPECT_EQ(words(var, 4), (W{-3, -4, -5, -6}));
    EXPECT_EQ(call(RECTANGLE, 14, {v(), 100}), W{});
    EXPECT_EQ(call(RECTANGLE, 15, {v(), -200}), W{});
    EXPECT_EQ(call(RECTANGLE, 16, {v(), 30}), W{});
    EXPECT_EQ(call(RECTANGLE, 17, {v(), 0}), W{});
    EXPECT_EQ(words(var, 4), (W{100, -200, 30, 0}));
    EXPECT_EQ(error(RECTANGLE, 16, {v(), -1}), kBadArgument);
    EXPECT_EQ(error(RECTANGLE, 17, {v(), -1}), kBadArgument);
    EXPECT_EQ(words(var, 4), (W{100, -200, 30, 0}));
}

TEST_F(VmGeometry, RectangleEdgesAndComparisons)
{
    setVar(var, {100, -200, 30, 40});
    EXPECT_EQ(call(RECTANGLE, 18, {v(), 100}), W{});  // right == x: width 0
    EXPECT_EQ(words(var, 4), (W{100, -200, 0, 40}));
    EXPECT_EQ(call(RECTANGLE, 18, {v(), 150}), W{});
    EXPECT_EQ(call(RECTANGLE, 19, {v(), -50}), W{});
    EXPECT_EQ(words(var, 4), (W{100, -200, 50, 150}));
    EXPECT_EQ(error(RECTANGLE, 18, {v(), 99}), kBadArgument);
    EXPECT_EQ(error(RECTANGLE, 19, {v(), -201}), kBadArgument);
    // A width that no word can hold is refused, not wrapped negative.
    setVar(var, {INT_MIN, INT_MIN, 0, 0});
    EXPECT_EQ(error(RECTANGLE, 18, {v(), INT_MAX}), kBadArgument);
    EXPECT_EQ(call(RECTANGLE, 19, {v(), -1}), W{});
    EXPECT_EQ(words(var, 4), (W{INT_MIN, INT_MIN, 0, INT_MAX}));

    EXPECT_EQ(call(RECTANGLE, 20, {1, 2, 3, 4, 1, 2, 3, 4}), W{-1});
    EXPECT_EQ(call(RECTANGLE, 21, {1, 2, 3, 4, 1, 2, 3, 4}), W{0});
    for (int i = 0; i < 4; ++i) {
        std::vector<Word> b{1, 2, 3, 4};
        b[size_t(i)] = 9;
        EXPECT_EQ(call(RECTANGLE, 20, {1, 2, 3, 4, b[0], b[1], b[2], b[3]}), W{0}) << i;
        EXPECT_EQ(call(RECTANGLE, 21, {1, 2, 3, 4, b[0], b[1], b[2], b[3]}), W{-1}) << i;
    }
    EXPECT_EQ(error(RECTANGLE, 22, {}), Pair(10, "VMException: Rectangle:321"));
    EXPECT_EQ(error(RECTANGLE, 0, {}), Pair(10, "VMException: Rectangle:321"));
    EXPECT_EQ(error(RECTANGLE, 6, {0}), Pair(1, "NullPointerException: NULL pointer"));
}

TEST_F(VmGeometry, KeyEventFields)
{
    Addr event = vm.heap().construct<Kelvar::KeyEvent>(Kelvar::KeyEvent::kBlockSize, GC_CODE_NATIVE, 0x1000004,
                                                       113, 0, OString(u"\u00e9x"));
    EXPECT_EQ(call(KEYEVENT, 1, {Word(event)}), W{0x1000004});
    EXPECT_EQ(call(KEYEVENT, 2, {Word(event)}), W{0});
    EXPECT_EQ(call(KEYEVENT, 3, {Word(event)}), W{113});
    W text = call(KEYEVENT, 4, {Word(event)});
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(stringOf(vm.heap(), Addr(text[0])).toU16(), u"\u00e9x");
    // A copy: editing the new string leaves the event's text alone.
    stringOf(vm.heap(), Addr(text[0])) = OString("other");
    EXPECT_EQ(vm.heap().objectAs<Kelvar::KeyEvent>(event)->text.toU16(), u"\u00e9x");

    EXPECT_EQ(error(KEYEVENT, 1, {0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(KEYEVENT, 3, {Word(var)}), Pair(10, "VMException: Invalid object"));
    EXPECT_EQ(error(KEYEVENT, 5, {Word(event)}), Pair(10, "VMException: KeyEvent: invalid opcode 321"));
    EXPECT_EQ(error(KEYEVENT, 0, {}), Pair(10, "VMException: KeyEvent: invalid opcode 321"));
}
