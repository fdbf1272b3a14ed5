// The String native group, family by family: every code's operands, results
// and their stack slots, its edge cases and its errors.
#include "StringNativeFixture.h"

#include "Containers/OVector.h"

using namespace vm;

namespace {

struct VmStringNatives : StringNativeFixture {
    // Text used by the pattern and replacement tables: case, position and
    // range all change the result.
    static constexpr const char16_t* kText = u"xABab-ABab";

    // The text a new string holding start has after code edits it with the
    // operands (which follow S); the edit must leave nothing on the stack.
    std::u16string edit(int code, const char16_t* start, Words operands)
    {
        Word s = str(start);
        operands.insert(operands.begin(), s);
        EXPECT_EQ(call(code, operands), Words{}) << "code " << code;
        return text(s);
    }
};

}  // namespace

TEST_F(VmStringNatives, ConstructionIntoABox)
{
    Word s = str(u"abcdef");
    Word o = box();
    EXPECT_EQ(call(1, {o}), Words{});
    EXPECT_EQ(boxed(o), u"");

    EXPECT_EQ(call(2, {o, s}), Words{});
    EXPECT_EQ(boxed(o), u"abcdef");
    EXPECT_EQ(call(4, {o, str(u"q")}), Words{});
    EXPECT_EQ(boxed(o), u"q");
    // The copy shares the text but is a string of its own.
    call(2, {o, s});
    OString& copy = objectOf<OString>(vm.heap(), Addr(vm.space().loadWord(Addr(o))));
    EXPECT_TRUE(copy.sharesBufferWith(object(s)));
    EXPECT_NE(&copy, &object(s));

    EXPECT_EQ(call(5, {o, 'z', 3}), Words{});
    EXPECT_EQ(boxed(o), u"zzz");
    call(5, {o, 0x1234567A, 2});  // the character is the low 16 bits
    EXPECT_EQ(boxed(o), u"\x567A\x567A");
    call(5, {o, 'z', 0});
    EXPECT_EQ(boxed(o), u"");
    EXPECT_EQ(errorCodeOf(5, {o, 'z', -1}), KErrInvalidArgument);

    EXPECT_EQ(call(7, {o, s, 1, 3}), Words{});
    EXPECT_EQ(boxed(o), u"bcd");
    call(7, {o, s, 4, -1});
    EXPECT_EQ(boxed(o), u"ef");
    call(7, {o, s, 6, -1});  // from the end on: empty
    EXPECT_EQ(boxed(o), u"");
    EXPECT_EQ(errorCodeOf(7, {o, s, 3, 4}), KErrRange);

    EXPECT_EQ(call(8, {o, s, 2}), Words{});
    EXPECT_EQ(boxed(o), u"ace");
    call(8, {o, s, 1});
    EXPECT_EQ(boxed(o), u"abcdef");
    EXPECT_EQ(errorCodeOf(8, {o, s, 0}), KErrInvalidArgument);
    EXPECT_EQ(errorCodeOf(8, {o, s, -2}), KErrInvalidArgument);

    EXPECT_EQ(call(9, {o, s, 1, 4, 2}), Words{});  // b c d e, every second
    EXPECT_EQ(boxed(o), u"bd");
    call(9, {o, s, 1, -1, 3});
    EXPECT_EQ(boxed(o), u"be");
    EXPECT_EQ(errorCodeOf(9, {o, s, 1, 4, 0}), KErrInvalidArgument);

    // The source is untouched by all of it.
    EXPECT_EQ(text(s), u"abcdef");
}

TEST_F(VmStringNatives, ConstructionChecksTheBox)
{
    Word s = str(u"abc");
    EXPECT_EQ(error(2, {0, s}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(1, {16}), Pair(10, "VMException: Invalid address 16"));
    EXPECT_EQ(error(2, {box(), 0}), Pair(1, "NullPointerException: NULL pointer"));
}

TEST_F(VmStringNatives, Queries)
{
    Word s = str(u"aBc");
    Word empty = str(u"");
    EXPECT_EQ(call(10, {s}), Words{3});
    EXPECT_EQ(call(10, {empty}), Words{0});
    EXPECT_EQ(call(10, {str(u"\xD83D\xDE00")}), Words{2});  // UTF-16 units
    EXPECT_EQ(call(11, {s}), Words{0});
    EXPECT_EQ(call(11, {empty}), Words{1});
    EXPECT_EQ(call(14, {s}), Words{'a'});
    EXPECT_EQ(call(15, {s}), Words{'c'});
    EXPECT_EQ(call(15, {str(u"\xFFFF")}), Words{0xFFFF});  // unsigned
    EXPECT_EQ(errorCodeOf(14, {empty}), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCodeOf(15, {empty}), KErrIndexOutOfBounds);
    EXPECT_EQ(error(10, {0}), Pair(1, "NullPointerException: NULL pointer"));

    // 16: a range {index, length} in the first two slots, case ignored.
    EXPECT_EQ(call(16, {str(u"abc"), str(u"BC")}), (Words{1, 2}));
    EXPECT_EQ(call(16, {str(u"abcabc"), str(u"cA")}), (Words{2, 2}));
    EXPECT_EQ(call(16, {str(u"abc"), str(u"x")}), (Words{0, 0}));
    EXPECT_EQ(call(16, {str(u"abc"), str(u"")}), (Words{0, 0}));
}

TEST_F(VmStringNatives, UnitAddressChangesThatStringAndNoOther)
{
    Word s = str(u"abc");
    OString sharing(object(s));  // another string on the same buffer
    Words r = call(12, {s, 1});
    ASSERT_EQ(r.size(), 1u);
    Addr unit = Addr(r[0]);
    EXPECT_EQ(vm.space().loadHalf(unit), u'b');
    vm.space().storeHalf(unit, 'X');
    EXPECT_EQ(text(s), u"aXc");
    EXPECT_EQ(sharing.toU16(), u"abc");
    // Units are consecutive half-words.
    EXPECT_EQ(Addr(call(12, {s, 2})[0]), unit + 2);
    EXPECT_EQ(errorCodeOf(12, {s, 3}), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCodeOf(12, {s, -1}), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCodeOf(12, {str(u""), 0}), KErrIndexOutOfBounds);
}

// Each row: code, operands after S (words), the result word(s) or the text S
// is left with. Pattern "P" stands for the string operand; ranges are two words.
TEST_F(VmStringNatives, PatternFamiliesInEveryShape)
{
    const Word ab = str(u"ab"), AB = str(u"AB");
    struct Query {
        int code;
        Words operands;  // after S
        Word result;
    };
    const Query queries[] = {
        // index of the first occurrence (17-23)
        {17, {ab, 2, -1}, 3},
        {18, {ab, 1}, 3},
        {18, {ab, 0}, 1},
        {19, {ab, 4, 6, 1}, 8},
        {19, {ab, 4, 6, 0}, 6},
        {20, {'a'}, 1},
        {21, {'a', 2, -1}, 3},
        {22, {'a', 1}, 3},
        {23, {'a', 4, 6, 1}, 8},
        {23, {'a', 4, 6, 0}, 6},
        {17, {str(u""), 0, -1}, -1},
        // index of the last occurrence (24-31)
        {24, {ab}, 8},
        {25, {ab, 0, 8}, 6},
        {26, {AB, 1}, 6},
        {26, {AB, 0}, 8},
        {27, {ab, 0, 8, 1}, 3},
        {27, {ab, 0, 8, 0}, 6},
        {28, {'b'}, 9},
        {29, {'b', 0, 8}, 7},
        {30, {'B', 1}, 7},
        {31, {'b', 0, 8, 1}, 4},
        {31, {'b', 0, 8, 0}, 7},
        {24, {str(u"zz")}, -1},
        // count (36-43)
        {36, {ab}, 4},
        {37, {ab, 2, -1}, 3},
        {38, {ab, 1}, 2},
        {39, {AB, 2, 6, 1}, 1},
        {39, {AB, 2, 6, 0}, 2},
        {40, {'a'}, 4},
        {41, {'a', 4, -1}, 2},
        {42, {'A', 1}, 2},
        {43, {'A', 4, -1, 1}, 1},
        {43, {'A', 4, -1, 0}, 2},
        {36, {str(u"")}, 0},
    };
    for (const Query& q : queries) {
        Words operands{str(kText)};
        operands.insert(operands.end(), q.operands.begin(), q.operands.end());
        EXPECT_EQ(call(q.code, operands), Words{q.result}) << "code " << q.code;
    }

    struct Edit {
        int code;
        Words operands;
        const char16_t* after;
    };
    const Edit edits[] = {
        // remove the first occurrence (95-102)
        {95, {ab}, u"xab-ABab"},
        {96, {ab, 2, -1}, u"xAB-ABab"},
        {97, {ab, 1}, u"xAB-ABab"},
        {97, {ab, 0}, u"xab-ABab"},
        {98, {ab, 4, -1, 1}, u"xABab-AB"},
        {99, {'a'}, u"xBab-ABab"},
        {100, {'a', 2, -1}, u"xABb-ABab"},
        {101, {'a', 1}, u"xABb-ABab"},
        {102, {'a', 4, -1, 1}, u"xABab-ABb"},
        // remove the last occurrence (103-110)
        {103, {AB}, u"xABab-AB"},
        {104, {AB, 0, 8}, u"xABab-ab"},
        {105, {AB, 1}, u"xABab-ab"},
        {106, {ab, 0, 8, 1}, u"xAB-ABab"},
        {107, {'b'}, u"xABab-ABa"},
        {108, {'b', 0, 8}, u"xABab-Aab"},
        {109, {'B', 1}, u"xABab-Aab"},
        {110, {'b', 0, 8, 1}, u"xABa-ABab"},
        // remove every occurrence (111-118)
        {111, {ab}, u"x-"},
        {112, {ab, 2, 6}, u"xAB-ab"},
        {113, {ab, 1}, u"xAB-AB"},
        {114, {AB, 0, 8, 1}, u"xab-ab"},
        {115, {'b'}, u"xAa-Aa"},
        {116, {'b', 0, 5}, u"xAa-ABab"},
        {117, {'B', 1}, u"xAab-Aab"},
        {118, {'b', 3, -1, 1}, u"xABa-ABa"},
        // an empty pattern or range removes nothing
        {95, {str(u"")}, u"xABab-ABab"},
        {112, {ab, 0, 0}, u"xABab-ABab"},
    };
    for (const Edit& e : edits)
        EXPECT_EQ(edit(e.code, kText, e.operands), e.after) << "code " << e.code;
}

TEST_F(VmStringNatives, PatternRangesResolveAgainstTheText)
{
    Word s = str(u"abcabc");
    Word bc = str(u"bc");
    EXPECT_EQ(call(17, {s, bc, 2, -1}), Words{4});
    EXPECT_EQ(call(17, {s, bc, 0, 0}), Words{-1});  // the empty range
    EXPECT_EQ(call(37, {s, bc, 0, 0}), Words{0});
    EXPECT_EQ(call(37, {str(u""), bc, 0, -1}), Words{0});
    EXPECT_EQ(call(36, {str(u"aaaa"), str(u"aa")}), Words{2});
    EXPECT_EQ(error(17, {s, bc, -1, 2}), Pair(5, "RangeException"));
    EXPECT_EQ(error(17, {s, bc, 3, 0}), Pair(5, "RangeException"));  // empty, but not at 0
    EXPECT_EQ(error(25, {s, bc, 5, 2}), Pair(5, "RangeException"));
    EXPECT_EQ(error(41, {s, 'a', 6, -1}), Pair(5, "RangeException"));
    EXPECT_EQ(error(96, {s, bc, 0, 7}), Pair(5, "RangeException"));
    EXPECT_EQ(text(s), u"abcabc");
    EXPECT_EQ(errorCodeOf(17, {s, 0, 0, 1}), KErrNull);
}

TEST_F(VmStringNatives, ReplacementFamiliesInEveryShape)
{
    const Word ab = str(u"ab"), AB = str(u"AB"), by = str(u"[]");
    struct Edit {
        int code;
        Words operands;  // after S
        const char16_t* after;
    };
    const Edit edits[] = {
        // the first occurrence (69-76)
        {69, {ab, by}, u"x[]ab-ABab"},
        {70, {ab, by, 1}, u"xAB[]-ABab"},
        {70, {ab, by, 0}, u"x[]ab-ABab"},
        {71, {ab, '#'}, u"x#ab-ABab"},
        {72, {ab, '#', 1}, u"xAB#-ABab"},
        {73, {ab, 2, -1, by}, u"xAB[]-ABab"},
        {74, {ab, 4, -1, by, 1}, u"xABab-AB[]"},
        {74, {ab, 4, -1, by, 0}, u"xABab-[]ab"},
        {75, {ab, 4, -1, '#'}, u"xABab-#ab"},
        {76, {ab, 4, -1, '#', 1}, u"xABab-AB#"},
        // the last occurrence (77-84)
        {77, {AB, by}, u"xABab-AB[]"},
        {78, {AB, by, 1}, u"xABab-[]ab"},
        {79, {AB, '#'}, u"xABab-AB#"},
        {80, {AB, '#', 1}, u"xABab-#ab"},
        {81, {AB, 0, 8, by}, u"xABab-[]ab"},
        {82, {AB, 0, 6, by, 1}, u"x[]ab-ABab"},
        {82, {AB, 0, 6, by, 0}, u"xAB[]-ABab"},
        {83, {AB, 0, 6, '#'}, u"xAB#-ABab"},
        {84, {AB, 0, 6, '#', 1}, u"x#ab-ABab"},
        // every occurrence (85-92)
        {85, {ab, by}, u"x[][]-[][]"},
        {86, {ab, by, 1}, u"xAB[]-AB[]"},
        {87, {ab, '#'}, u"x##-##"},
        {88, {ab, '#', 1}, u"xAB#-AB#"},
        {89, {ab, 2, 6, by}, u"xAB[]-[]ab"},
        {90, {ab, 2, 6, by, 1}, u"xAB[]-ABab"},
        {91, {ab, 2, 6, '#'}, u"xAB#-#ab"},
        {92, {ab, 2, 6, '#', 1}, u"xAB#-ABab"},
        // an empty replacement removes, an empty pattern does nothing
        {69, {ab, str(u"")}, u"xab-ABab"},
        {86, {AB, str(u""), 1}, u"xab-ab"},
        {85, {str(u""), by}, u"xABab-ABab"},
        {89, {ab, 0, 0, by}, u"xABab-ABab"},
    };
    for (const Edit& e : edits)
        EXPECT_EQ(edit(e.code, kText, e.operands), e.after) << "code " << e.code;

    // Occurrences are found in the text as it was: a replacement that forms a
    // new occurrence is not replaced again.
    Word s = str(u"aab");
    call(85, {s, ab, str(u"a")});
    EXPECT_EQ(text(s), u"aa");
    Word t = str(u"abab");
    call(85, {t, ab, str(u"abab")});
    EXPECT_EQ(text(t), u"abababab");
    EXPECT_EQ(errorCodeOf(89, {t, ab, 9, 1, by}), KErrRange);
}

TEST_F(VmStringNatives, MostFrequentCharacter)
{
    Word s = str(u"aBbAbc");
    EXPECT_EQ(call(32, {s}), Words{'b'});              // b, B, b: three
    EXPECT_EQ(call(32, {str(u"AaBb")}), Words{'a'});  // tie: the earliest, lower-cased
    EXPECT_EQ(call(33, {s, 0, 4}), Words{'a'});       // a B b A: tie of a and b
    EXPECT_EQ(call(34, {s, 1}), Words{'b'});          // exact: b twice
    EXPECT_EQ(call(34, {str(u"AaBbA"), 1}), Words{'A'});
    EXPECT_EQ(call(34, {str(u"AaBbA"), 0}), Words{'a'});
    EXPECT_EQ(call(35, {s, 1, 3, 1}), Words{'B'});    // B b A: all once, the first
    EXPECT_EQ(call(35, {s, 3, -1, 0}), Words{'a'});  // A b c: the first, lower-cased
    EXPECT_EQ(error(32, {str(u"")}), Pair(4, "DataFormatException: "));
    EXPECT_EQ(errorCodeOf(33, {s, 2, 9}), KErrRange);
}

TEST_F(VmStringNatives, PrefixesAndSuffixes)
{
    Word s = str(u"Hello");
    EXPECT_EQ(call(44, {s, str(u"hE")}), Words{1});
    EXPECT_EQ(call(44, {s, str(u"ell")}), Words{0});
    EXPECT_EQ(call(45, {s, str(u"hE"), 1}), Words{0});
    EXPECT_EQ(call(45, {s, str(u"He"), 1}), Words{1});
    EXPECT_EQ(call(46, {s, str(u"LO")}), Words{1});
    EXPECT_EQ(call(46, {s, str(u"Hell")}), Words{0});
    EXPECT_EQ(call(47, {s, str(u"LO"), 1}), Words{0});
    EXPECT_EQ(call(47, {s, str(u"llo"), 1}), Words{1});
    // Empty texts and a longer T give 0.
    EXPECT_EQ(call(44, {s, str(u"")}), Words{0});
    EXPECT_EQ(call(46, {str(u""), str(u"")}), Words{0});
    EXPECT_EQ(call(44, {s, str(u"Hello!")}), Words{0});
    EXPECT_EQ(call(46, {str(u"lo"), s}), Words{0});
}

TEST_F(VmStringNatives, NewStrings)
{
    Word s = str(u"ab");
    EXPECT_EQ(newText(48, {s, str(u"cd")}), u"abcd");
    EXPECT_EQ(newText(48, {str(u""), s}), u"ab");
    EXPECT_EQ(newText(49, {s, 3}), u"ababab");
    EXPECT_EQ(newText(49, {s, 0}), u"");
    EXPECT_EQ(newText(49, {str(u""), 5}), u"");
    EXPECT_EQ(errorCodeOf(49, {s, -1}), KErrInvalidArgument);
    EXPECT_EQ(text(s), u"ab");

    EXPECT_EQ(newText(134, {-2147483647 - 1}), u"-2147483648");
    EXPECT_EQ(newText(134, {0}), u"0");
    EXPECT_EQ(newText(134, {907}), u"907");
    EXPECT_EQ(newText(135, {-1, 16}), u"ffffffff");
    EXPECT_EQ(newText(135, {255, 2}), u"11111111");
    EXPECT_EQ(newText(135, {35, 36}), u"z");
    EXPECT_EQ(newText(135, {0, 7}), u"0");
    EXPECT_EQ(newText(135, {10, 1}), u"");
    EXPECT_EQ(newText(135, {10, 37}), u"");

    Word t = str(u"abcdef");
    EXPECT_EQ(newText(150, {t, 2, 3}), u"cde");
    EXPECT_EQ(newText(150, {t, 2, -1}), u"cdef");
    EXPECT_EQ(newText(150, {t, 0, 0}), u"");
    EXPECT_EQ(newText(150, {t, 9, -1}), u"");  // past the end with a negative length
    EXPECT_EQ(errorCodeOf(150, {t, 9, 1}), KErrRange);
    EXPECT_EQ(errorCodeOf(150, {t, -1, -1}), KErrRange);

    // 153: the same, one box further away.
    Words r = call(153, {t, 1, 2});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(vm.heap().gcCodeOf(Addr(r[0])), GC_CODE_REFERENCE);
    EXPECT_EQ(text(vm.space().loadWord(Addr(r[0]))), u"bc");
    EXPECT_EQ(errorCodeOf(153, {t, 4, 3}), KErrRange);
    r = call(153, {t, 6, -1});
    EXPECT_EQ(text(vm.space().loadWord(Addr(r[0]))), u"");
}

TEST_F(VmStringNatives, Split)
{
    // The pieces of the vector that replaced S, as [piece]...
    auto pieces = [&](int code, Words operands) {
        Words r = call(code, operands);
        EXPECT_EQ(r.size(), 1u) << "code " << code;
        if (r.size() != 1)
            return std::u16string(u"<none>");
        EXPECT_EQ(vm.heap().gcCodeOf(Addr(r[0])), GC_CODE_OBJECT_ARRAY);
        std::u16string out;
        for (const OString& piece : stringVectorStrings(vm.heap(), Addr(r[0])))
            out += u"[" + piece.toU16() + u"]";
        return out;
    };
    Word s = str(u"a,,b,");
    EXPECT_EQ(pieces(50, {s, str(u",")}), u"[a][b]");
    EXPECT_EQ(pieces(50, {str(u"abc"), str(u",")}), u"");  // no separator: no pieces
    EXPECT_EQ(pieces(50, {str(u",x"), str(u",")}), u"[x]");
    EXPECT_EQ(pieces(50, {str(u"aXbxc"), str(u"x")}), u"[a][b][c]");
    EXPECT_EQ(pieces(51, {str(u"aXbxc"), str(u"x"), 1}), u"[aXb][c]");
    EXPECT_EQ(pieces(51, {str(u"aXbxc"), str(u"x"), 0}), u"[a][b][c]");
    EXPECT_EQ(pieces(50, {str(u"1<>2<>3"), str(u"<>")}), u"[1][2][3]");
    EXPECT_EQ(pieces(52, {str(u"a b  c "), ' '}), u"[a][b][c]");
    EXPECT_EQ(pieces(52, {str(u"aBbc"), 'b'}), u"[a][c]");
    EXPECT_EQ(pieces(53, {str(u"aBbc"), 'b', 1}), u"[aB][c]");
    EXPECT_EQ(pieces(53, {str(u"aBbc"), 'b', 0}), u"[a][c]");
    EXPECT_EQ(pieces(50, {str(u""), str(u"")}), u"");
    EXPECT_EQ(errorCodeOf(50, {str(u"a"), str(u"")}), KErrInvalidArgument);
    EXPECT_EQ(text(s), u"a,,b,");

    // Every piece is a new string of its own.
    Words r = call(52, {s, ','});
    vm.heap().addRoot(Addr(r[0]));
    OVector v = OVector::ofHolder(vm.heap(), Addr(r[0]), 4);
    ASSERT_EQ(v.count(), 2);
    Word first = vm.space().loadWord(v.elementAddress(0));
    EXPECT_NE(first, s);
    call(63, {first, '!'});
    EXPECT_EQ(text(first), u"a!");
    EXPECT_EQ(text(s), u"a,,b,");
}

TEST_F(VmStringNatives, Insertion)
{
    Word xy = str(u"XY");
    EXPECT_EQ(edit(57, u"abc", {xy, 1}), u"aXYbc");
    EXPECT_EQ(edit(57, u"abc", {xy, 3}), u"abcXY");
    EXPECT_EQ(edit(57, u"", {xy, 0}), u"XY");
    EXPECT_EQ(edit(58, u"abc", {'!', 2}), u"ab!c");
    EXPECT_EQ(edit(59, u"abc", {str(u"VWXYZ"), 1, 2, 3}), u"abcWX");
    EXPECT_EQ(edit(59, u"abc", {str(u"VWXYZ"), 3, -1, 0}), u"YZabc");
    EXPECT_EQ(edit(59, u"abc", {str(u"VWXYZ"), 0, 0, 9}), u"abc");  // the empty range
    EXPECT_EQ(edit(60, u"abc", {xy}), u"XYabc");
    EXPECT_EQ(edit(61, u"abc", {'!'}), u"!abc");
    EXPECT_EQ(edit(62, u"abc", {xy}), u"abcXY");
    EXPECT_EQ(edit(63, u"abc", {'!'}), u"abc!");
    EXPECT_EQ(edit(64, u"abc", {xy}), u"abcXY");
    EXPECT_EQ(edit(65, u"abc", {'!'}), u"abc!");

    // An empty T is inserted nowhere, whatever the position.
    EXPECT_EQ(edit(57, u"abc", {str(u""), 99}), u"abc");
    EXPECT_EQ(edit(57, u"abc", {str(u""), -5}), u"abc");
    Word s = str(u"abc");
    EXPECT_EQ(errorCodeOf(57, {s, xy, 4}), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCodeOf(57, {s, xy, -1}), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCodeOf(58, {s, '!', 4}), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCodeOf(59, {s, xy, 1, 2, 0}), KErrRange);
    EXPECT_EQ(text(s), u"abc");

    // A string appended to itself.
    call(62, {s, s});
    EXPECT_EQ(text(s), u"abcabc");
    call(57, {s, s, 3});
    EXPECT_EQ(text(s), u"abcabcabcabc");
}

TEST_F(VmStringNatives, Edits)
{
    Word xy = str(u"XY");
    EXPECT_EQ(edit(66, u"ab", {3}), u"ababab");
    EXPECT_EQ(edit(66, u"ab", {0}), u"");
    EXPECT_EQ(edit(67, u"abcdef", {1, 2, xy}), u"aXYdef");
    EXPECT_EQ(edit(67, u"abcdef", {4, -1, xy}), u"abcdXY");
    EXPECT_EQ(edit(67, u"abcdef", {1, 2, str(u"")}), u"adef");
    EXPECT_EQ(edit(67, u"abcdef", {0, 0, xy}), u"abcdef");
    EXPECT_EQ(edit(68, u"abcdef", {1, 2, '!'}), u"a!def");
    EXPECT_EQ(edit(93, u"abc", {1}), u"ac");
    EXPECT_EQ(edit(94, u"abcdef", {1, 3}), u"aef");
    EXPECT_EQ(edit(94, u"abcdef", {2, -1}), u"ab");
    EXPECT_EQ(edit(119, u"abc", {}), u"bc");
    EXPECT_EQ(edit(120, u"abcdef", {2}), u"cdef");
    EXPECT_EQ(edit(120, u"abc", {3}), u"");
    EXPECT_EQ(edit(121, u"abc", {}), u"ab");
    EXPECT_EQ(edit(122, u"abcdef", {2}), u"abcd");
    EXPECT_EQ(edit(123, u"abc", {}), u"");
    EXPECT_EQ(edit(124, u" \t a b ", {}), u"a b ");
    EXPECT_EQ(edit(125, u" a b \n ", {}), u" a b");
    EXPECT_EQ(edit(126, u"  a  b  ", {}), u"a b");
    EXPECT_EQ(edit(126, u"a \t\nb", {}), u"a b");  // a run keeps its first unit
    EXPECT_EQ(edit(126, u"a\t b", {}), u"a\tb");
    EXPECT_EQ(edit(126, u" \t ", {}), u"");
    EXPECT_EQ(edit(127, u"AbC\u00C9", {}), u"abc\u00E9");
    EXPECT_EQ(edit(128, u"aBc\u00E9", {}), u"ABC\u00C9");

    // 152: insert at the start of a range of length 0, else replace.
    EXPECT_EQ(edit(152, u"abcdef", {2, 0, xy}), u"abXYcdef");
    EXPECT_EQ(edit(152, u"abcdef", {6, 0, xy}), u"abcdefXY");
    EXPECT_EQ(edit(152, u"abcdef", {2, 2, xy}), u"abXYef");
    EXPECT_EQ(edit(152, u"abcdef", {2, -1, str(u"")}), u"ab");
    // 154: the units a..b of T (last index, not a length) or the whole of T.
    Word t = str(u"VWXYZ");
    EXPECT_EQ(edit(154, u"abc", {1, 3, t, 1, 0}), u"aWXYbc");
    EXPECT_EQ(edit(154, u"abc", {0, -1, t, 1, 0}), u"abc");
    EXPECT_EQ(edit(154, u"abc", {1, 3, t, 1, 1}), u"aVWXYZc");
    EXPECT_EQ(edit(154, u"abc", {3, 3, t, 3, 0}), u"abcY");
    // 159/160: every occurrence within the range.
    EXPECT_EQ(edit(159, u"aAbaA", {1, 3, str(u"a"), xy}), u"aXYbXYA");
    EXPECT_EQ(edit(160, u"aAbaA", {1, -1, str(u"a"), xy, 1}), u"aAbXYA");
    EXPECT_EQ(edit(160, u"aAbaA", {1, -1, str(u"a"), xy, 0}), u"aXYbXYXY");

    Word s = str(u"abc");
    EXPECT_EQ(errorCodeOf(66, {s, -1}), KErrInvalidArgument);
    EXPECT_EQ(errorCodeOf(67, {s, 0, 0, str(u"")}), KErrRange);  // removal of the empty range
    EXPECT_EQ(errorCodeOf(67, {s, 2, 2, xy}), KErrRange);
    EXPECT_EQ(errorCodeOf(93, {s, 3}), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCodeOf(94, {s, 0, 0}), KErrRange);
    EXPECT_EQ(errorCodeOf(94, {str(u""), 0, -1}), KErrRange);
    EXPECT_EQ(errorCodeOf(119, {str(u"")}), KErrInvalidArgument);
    EXPECT_EQ(errorCodeOf(121, {str(u"")}), KErrInvalidArgument);
    EXPECT_EQ(errorCodeOf(120, {s, 4}), KErrInvalidArgument);
    EXPECT_EQ(errorCodeOf(122, {s, -1}), KErrInvalidArgument);
    EXPECT_EQ(errorCodeOf(152, {s, -1, 0, xy}), KErrRange);
    EXPECT_EQ(errorCodeOf(152, {s, 4, 0, xy}), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCodeOf(152, {str(u""), 0, -1, str(u"")}), KErrRange);  // removal of the empty range
    EXPECT_EQ(errorCodeOf(154, {s, 2, 1, t, 1, 0}), KErrRange);  // b < a
    EXPECT_EQ(errorCodeOf(154, {s, 0, 5, t, 1, 0}), KErrRange);  // b beyond T
    EXPECT_EQ(errorCodeOf(154, {s, 0, 1, t, 0, 0}), 0);
    EXPECT_EQ(text(s), u"VWabc");
    EXPECT_EQ(errorCodeOf(154, {s, 0, 1, str(u""), 9, 9}), KErrRange);
    EXPECT_EQ(errorCodeOf(159, {s, 0, 9, xy, xy}), KErrRange);
}

TEST_F(VmStringNatives, CharactersAndNumbers)
{
    EXPECT_EQ(call(129, {'A'}), Words{'a'});
    EXPECT_EQ(call(129, {0x10000 + 'A'}), Words{'a'});  // the low 16 bits
    EXPECT_EQ(call(130, {0xE9}), Words{0xC9});
    EXPECT_EQ(call(131, {'x'}), Words{1});
    EXPECT_EQ(call(131, {'1'}), Words{0});
    EXPECT_EQ(call(132, {'7'}), Words{1});
    EXPECT_EQ(call(132, {'x'}), Words{0});
    EXPECT_EQ(call(133, {' '}), Words{1});
    EXPECT_EQ(call(133, {'\n'}), Words{1});
    EXPECT_EQ(call(133, {'_'}), Words{0});

    EXPECT_EQ(call(136, {str(u" 12x")}), Words{12});
    EXPECT_EQ(call(136, {str(u"-45")}), Words{-45});
    EXPECT_EQ(call(136, {str(u"+45")}), Words{45});
    EXPECT_EQ(call(136, {str(u"+-0")}), Words{0});
    EXPECT_EQ(call(136, {str(u"\t+-07")}), Words{0});
    EXPECT_EQ(call(136, {str(u"4294967297")}), Words{1});  // 32-bit wrap
    EXPECT_EQ(call(136, {str(u"-2147483648")}), Words{-2147483647 - 1});
    for (const char16_t* bad : {u"x", u"", u"   ", u"-", u"+-5", u"- 5"})
        EXPECT_EQ(error(136, {str(bad)}), Pair(4, "DataFormatException: ")) << OString(bad).toUtf8();

    EXPECT_EQ(call(137, {str(u"ff"), 16}), Words{255});
    EXPECT_EQ(call(137, {str(u"  FfZ"), 16}), Words{255});
    EXPECT_EQ(call(137, {str(u"zz"), 36}), Words{1295});
    EXPECT_EQ(call(137, {str(u"1012"), 2}), Words{5});
    EXPECT_EQ(call(137, {str(u"-12"), 10}), Words{-12});  // radix 10 is decimal
    EXPECT_EQ(call(137, {str(u"ffffffff1"), 16}), Words{-15});
    EXPECT_EQ(errorCodeOf(137, {str(u"-12"), 16}), KErrDataFormat);  // no sign
    EXPECT_EQ(errorCodeOf(137, {str(u"2"), 2}), KErrDataFormat);
    EXPECT_EQ(errorCodeOf(137, {str(u"1"), 1}), KErrInvalidArgument);
    EXPECT_EQ(errorCodeOf(137, {str(u"1"), 37}), KErrInvalidArgument);
}

TEST_F(VmStringNatives, Comparison)
{
    Word a = str(u"a"), A = str(u"A"), ab = str(u"ab"), b = str(u"b");
    EXPECT_EQ(call(138, {a, b, 1}), Words{-1});
    EXPECT_EQ(call(138, {b, a, 1}), Words{1});
    EXPECT_EQ(call(138, {a, A, 1}), Words{1});
    EXPECT_EQ(call(138, {a, A, 0}), Words{0});
    EXPECT_EQ(call(138, {ab, a, 1}), Words{1});   // the longer of equal prefixes
    EXPECT_EQ(call(138, {A, ab, 0}), Words{-1});
    EXPECT_EQ(call(138, {str(u""), str(u""), 1}), Words{0});

    // 140-145, always exact: a (0x61) > A (0x41).
    const Word pairs[][2] = {{a, A}, {A, a}, {a, a}, {a, ab}};
    const int expected[][6] = {
        // ==, !=, <, <=, >, >=
        {0, 1, 0, 0, 1, 1},
        {0, 1, 1, 1, 0, 0},
        {1, 0, 0, 1, 0, 1},
        {0, 1, 1, 1, 0, 0},
    };
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 6; ++k)
            EXPECT_EQ(call(140 + k, {pairs[i][0], pairs[i][1]}), Words{expected[i][k]})
                << "pair " << i << " code " << 140 + k;
    EXPECT_EQ(call(140, {str(u"x"), str(u"x")}), Words{1});  // different buffers
    EXPECT_EQ(call(146, {a, A}), Words{1});
    EXPECT_EQ(call(146, {a, ab}), Words{0});
    EXPECT_EQ(call(147, {a, A, 1}), Words{0});
    EXPECT_EQ(call(147, {a, A, 0}), Words{1});

    // Region comparison: the part of S over R against T.
    Word s = str(u"abCDef");
    EXPECT_EQ(call(139, {s, str(u"cd"), 2, 2, 0}), Words{0});
    EXPECT_EQ(call(139, {s, str(u"cd"), 2, 2, 1}), Words{-1});
    EXPECT_EQ(call(139, {s, str(u"CDE"), 2, 2, 1}), Words{-1});
    EXPECT_EQ(call(139, {s, str(u"C"), 2, 2, 1}), Words{1});
    EXPECT_EQ(call(139, {s, str(u""), 2, 2, 1}), Words{1});
    EXPECT_EQ(call(139, {s, str(u""), 0, 0, 1}), Words{0});
    EXPECT_EQ(call(139, {s, str(u"abCDef"), 0, -1, 1}), Words{0});
    EXPECT_EQ(call(139, {s, str(u"abCDefg"), 0, -1, 1}), Words{-1});
    EXPECT_EQ(errorCodeOf(139, {s, str(u"x"), 5, 3, 1}), KErrRange);
    EXPECT_EQ(errorCodeOf(139, {s, str(u"x"), 6, -1, 1}), KErrRange);

    EXPECT_EQ(call(148, {s, str(u"CDE"), 2, 3}), Words{1});
    EXPECT_EQ(call(148, {s, str(u"CD"), 2, 3}), Words{0});
    EXPECT_EQ(call(149, {s, str(u"cde"), 2, 3, 1}), Words{0});
    EXPECT_EQ(call(149, {s, str(u"CDe"), 2, 3, 1}), Words{1});
    EXPECT_EQ(call(148, {s, str(u"ABCDEF"), 0, -1}), Words{1});
    EXPECT_EQ(call(149, {str(u""), str(u""), 0, -1, 1}), Words{1});
    EXPECT_EQ(errorCodeOf(148, {s, str(u""), 1, 2}), KErrInvalidArgument);
    EXPECT_EQ(errorCodeOf(149, {s, str(u"x"), 7, 1, 1}), KErrRange);
}

TEST_F(VmStringNatives, SearchesWithinARange)
{
    Word s = str(u"aAbabAb");
    Word t = str(u"ab");
    EXPECT_EQ(call(155, {s, 1, -1, t}), Words{1});
    EXPECT_EQ(call(156, {s, 1, -1, t, 1}), Words{3});
    EXPECT_EQ(call(156, {s, 1, -1, t, 0}), Words{1});
    EXPECT_EQ(call(157, {s, 0, 5, t}), Words{3});
    EXPECT_EQ(call(157, {s, 0, -1, t}), Words{5});
    EXPECT_EQ(call(158, {s, 0, -1, str(u"Ab"), 1}), Words{5});
    EXPECT_EQ(call(158, {s, 0, 4, str(u"Ab"), 1}), Words{1});
    EXPECT_EQ(call(155, {s, 0, 0, t}), Words{-1});
    EXPECT_EQ(errorCodeOf(155, {s, 2, 6, t}), KErrRange);
}

TEST_F(VmStringNatives, UnknownAndReservedCodes)
{
    Word s = str(u"abc");
    for (int code : {0, 3, 6, 13, 54, 55, 56, 161, 200, 255}) {
        EXPECT_EQ(error(code, {s, s, s}), Pair(10, "VMException: String:77")) << code;
    }
    // 151 does nothing at all.
    EXPECT_EQ(call(151, {s, 5}), (Words{s, 5}));
}

// Results larger than the address space can hold are refused before anything
// is allocated.
TEST_F(VmStringNatives, OversizedResultsRaiseOutOfMemory)
{
    const Pair oom{10, "VMException: Out of memory"};
    Word s = str(u"abcd");
    Word o = box();
    // A box that received a string is a string value itself.
    call(5, {o, 'y', 1 << 20});
    Word pattern = str(u"y"), by = str(std::u16string(1 << 11, u'z'));
    const uint64_t committed = vm.space().committedBytes();
    const int entries = vm.heap().nOfEntries();
    EXPECT_EQ(error(49, {s, 1 << 29}), oom);
    EXPECT_EQ(error(66, {s, 1 << 29}), oom);
    EXPECT_EQ(error(49, {str(u"a"), 2147483647}), oom);
    EXPECT_EQ(error(5, {box(), 'x', 2147483647}), oom);
    EXPECT_EQ(error(49, {o, 1 << 11}), oom);
    EXPECT_EQ(error(66, {o, 1 << 11}), oom);
    EXPECT_EQ(error(85, {o, pattern, by}), oom);
    EXPECT_EQ(error(159, {o, 0, -1, pattern, by}), oom);
    EXPECT_EQ(vm.heap().nOfEntries(), entries + 3);  // the operands made above
    EXPECT_EQ(vm.space().committedBytes(), committed);
    EXPECT_EQ(text(s), u"abcd");
    EXPECT_EQ(object(o).length(), 1 << 20);
}

// Bytecode can overwrite a string's box or block with any words: the group
// then raises a VM error and touches nothing.
TEST_F(VmStringNatives, CorruptedRecordsRaiseVmErrors)
{
    const Pair invalid{10, "VMException: Invalid object"};
    Word s = str(u"abc");
    Word t = str(u"xyz");
    Addr tBlock = Addr(vm.space().loadWord(Addr(t)));

    Word bad = str(u"bad");
    const Addr badBox = Addr(bad);
    vm.space().storeWord(badBox, 0);
    EXPECT_EQ(error(62, {s, bad}), Pair(1, "NullPointerException: NULL pointer"));
    vm.space().storeWord(badBox, 12345);
    EXPECT_EQ(error(62, {s, bad}), Pair(10, "VMException: Invalid address 12345"));
    vm.space().storeWord(badBox, Word(0xFFFFFFF0u));
    EXPECT_EQ(error(62, {s, bad}).first, KErrVm);
    vm.space().storeWord(badBox, t);  // the box of another string
    EXPECT_EQ(error(62, {s, bad}), invalid);
    vm.space().storeWord(badBox, Word(tBlock + 4));  // inside a block, not its start
    EXPECT_EQ(error(62, {s, bad}), invalid);
    // A block whose handle was overwritten by another string's handle.
    Word forged = str(u"forged");
    Addr forgedBlock = Addr(vm.space().loadWord(Addr(forged)));
    vm.space().storeWord(forgedBlock, vm.space().loadWord(tBlock));
    EXPECT_EQ(error(62, {s, forged}), invalid);
    EXPECT_EQ(error(63, {forged, 'x'}), invalid);
    EXPECT_EQ(error(2, {box(), forged}), invalid);
    EXPECT_EQ(text(s), u"abc");
    EXPECT_EQ(text(t), u"xyz");

    // A string whose block the collector freed.
    Word gone = str(u"gone", false);
    Addr goneBlock = Addr(vm.space().loadWord(Addr(gone)));
    vm.top = 0;
    vm.collectWithStack();
    Word dangling = box();
    vm.space().storeWord(Addr(dangling), Word(goneBlock));
    EXPECT_EQ(error(10, {dangling}), invalid);
}
