#include <gtest/gtest.h>

#include "TestSupport.h"

#include <climits>

#include "Containers/CAppsString.h"
#include "VMError.h"

using namespace vm;

namespace {
CAppsString c(const char16_t* text)
{
    return CAppsString(std::u16string_view(text));
}
}  // namespace

TEST(CAppsStringTest, ConstructionAndNumbers)
{
    EXPECT_EQ(CAppsString("a\xff").toU16(), u"a\u00ff");
    EXPECT_EQ(CAppsString("abc", 2).toU16(), u"ab");
    EXPECT_EQ(errorCode([] { CAppsString((const char*)nullptr); }), KErrNull);
    EXPECT_EQ(errorCode([] { CAppsString((const unsigned short*)nullptr); }), KErrNull);
    EXPECT_EQ(errorCode([] { CAppsString((const char*)nullptr, 0); }), KErrNull);
    const unsigned short zt[] = {'h', 'i', 0};
    EXPECT_EQ(CAppsString(zt).toU16(), u"hi");

    CAppsString base = c(u"abcdef");
    EXPECT_EQ(CAppsString(base, 2, 3).toU16(), u"cde");
    EXPECT_EQ(CAppsString(base, 6, 0).length(), 0);
    EXPECT_EQ(errorCode([&] { CAppsString(base, 4, 3); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { CAppsString(base, -1, 1); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { CAppsString(base, 1, INT_MAX); }), KErrInvalidArgument);

    EXPECT_EQ(CAppsString::number(0).toU16(), u"0");
    EXPECT_EQ(CAppsString::number(INT_MIN).toU16(), u"-2147483648");
    EXPECT_EQ(CAppsString::number(TInt64(LLONG_MIN)).toU16(), u"-9223372036854775808");
    EXPECT_EQ(CAppsString::number(123456789012LL).toU16(), u"123456789012");

    CAppsString s = c(u"x");
    s += c(u"y");
    s += "z";
    s += (unsigned short)u'!';
    EXPECT_EQ((s + c(u"?")).toU16(), u"xyz!?");
    EXPECT_EQ(c(u"ab").repeated(3).toU16(), u"ababab");
    EXPECT_EQ(c(u"ab").repeated(0).length(), 0);
    EXPECT_EQ(errorCode([] { c(u"ab").repeated(-1); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([] { c(u"ab").repeated(INT_MAX); }), KErrVm);

    CAppsString ins = c(u"ac");
    ins.insert(1, c(u"b"));
    ins.insert(3, c(u"d"));
    ins.insert(0, ins);
    EXPECT_EQ(ins.toU16(), u"abcdabcd");
    EXPECT_EQ(errorCode([&] { ins.insert(9, c(u"x")); }), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCode([&] { ins.insert(-1, c(u"x")); }), KErrIndexOutOfBounds);

    Vec<CAppsString> parts{c(u"a"), c(u"b"), c(u"c")};
    EXPECT_EQ(CAppsString::join(parts, c(u", ")).toU16(), u"a, b, c");
    EXPECT_EQ(CAppsString::join(Vec<CAppsString>(), c(u",")).length(), 0);
    EXPECT_EQ(c(u"\u0141x").toLatin1(), std::string("\x41x"));
}

TEST(CAppsStringTest, SearchAndCompare)
{
    CAppsString t = c(u"abcABC");
    EXPECT_EQ(t.indexOf(c(u"bc")), 1);
    EXPECT_EQ(t.indexOf(c(u"bc"), 2), -1);
    EXPECT_EQ(t.indexOf(c(u"bc"), 2, false), 4);
    EXPECT_EQ(t.indexOf(c(u""), 3), 3);
    EXPECT_EQ(t.indexOf(c(u"C"), 6), -1);
    EXPECT_EQ(errorCode([&] { t.indexOf(c(u"a"), 7); }), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCode([&] { t.indexOf(c(u"a"), -1); }), KErrIndexOutOfBounds);
    EXPECT_EQ(t.lastIndexOf(c(u"A")), 3);
    EXPECT_EQ(t.lastIndexOf(c(u"a")), 0);
    EXPECT_EQ(t.lastIndexOf(c(u"a"), -1, false), 3);
    EXPECT_EQ(t.lastIndexOf(c(u"a"), 2, false), 0);
    EXPECT_EQ(t.lastIndexOf(c(u"abcABCx")), -1);
    EXPECT_EQ(errorCode([&] { t.lastIndexOf(c(u"a"), -2); }), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCode([&] { t.lastIndexOf(c(u"a"), 7); }), KErrIndexOutOfBounds);

    EXPECT_TRUE(t.startsWith(c(u"abc")));
    EXPECT_FALSE(t.startsWith(c(u"ABC")));
    EXPECT_TRUE(t.startsWith(c(u"ABC"), false));
    EXPECT_TRUE(t.endsWith(c(u"bc"), false));
    EXPECT_FALSE(t.endsWith(c(u"bc")));
    EXPECT_TRUE(t.startsWith(CAppsString()));
    EXPECT_FALSE(c(u"a").endsWith(c(u"ba")));
    EXPECT_TRUE(t.equals(c(u"ABCabc"), false));
    EXPECT_FALSE(t.equals(c(u"ABCabc")));
    EXPECT_EQ(c(u"a").compare(c(u"b")), -1);
    EXPECT_EQ(c(u"B").compare(c(u"a")), -1);
    EXPECT_EQ(c(u"B").compare(c(u"a"), false), 1);
    EXPECT_EQ(c(u"ab").compare(c(u"a")), 1);
    EXPECT_EQ(c(u"Ab").compare(c(u"aB"), false), 0);
}

TEST(CAppsStringTest, EditingSplitAndParsing)
{
    CAppsString t = c(u" \t mixed Case \n");
    t.trim();
    EXPECT_EQ(t.toU16(), u"mixed Case");
    t.toUpperCase();
    EXPECT_EQ(t.toU16(), u"MIXED CASE");
    t.toLowerCase();
    EXPECT_EQ(t.toU16(), u"mixed case");
    CAppsString lead = c(u"  x  ");
    EXPECT_EQ(lead.trimLeading().toU16(), u"x  ");
    EXPECT_EQ(lead.trimTrailing().toU16(), u"x");
    CAppsString blank = c(u"   ");
    EXPECT_EQ(blank.trim().length(), 0);

    auto pieces = [](const Vec<CAppsString>& v) {
        std::u16string out;
        for (const CAppsString& p : v)
            out += u"[" + p.toU16() + u"]";
        return out;
    };
    EXPECT_EQ(pieces(c(u"/a//b/").split(c(u"/"))), u"[a][b]");
    EXPECT_EQ(pieces(c(u"abc").split(c(u","))), u"[abc]");
    EXPECT_EQ(pieces(c(u"aXbxc").split(c(u"x"), false)), u"[a][b][c]");
    EXPECT_EQ(CAppsString().split(c(u",")).count(), 0);
    EXPECT_EQ(errorCode([] { c(u"a").split(CAppsString()); }), KErrInvalidArgument);

    CAppsString r = c(u"aaa-AAA");
    EXPECT_EQ(r.replace(c(u"aa"), c(u"b")), 1);
    EXPECT_EQ(r.toU16(), u"ba-AAA");
    EXPECT_EQ(r.replace(c(u"a"), c(u"<a>"), false), 4);
    EXPECT_EQ(r.toU16(), u"b<a>-<a><a><a>");
    EXPECT_EQ(r.replace(CAppsString(), c(u"x")), 0);
    EXPECT_EQ(r.replace(c(u"<a>"), CAppsString()), 4);
    EXPECT_EQ(r.toU16(), u"b-");

    EXPECT_EQ(c(u"  42abc").toInt32(), 42);
    EXPECT_EQ(c(u"-17").toInt32(), -17);
    EXPECT_EQ(c(u"+17").toInt32(), 17);
    EXPECT_EQ(c(u"\tVv").toInt32(32), 31 * 32 + 31);
    EXPECT_EQ(c(u"ffffffff").toInt32(16), -1);
    EXPECT_EQ(c(u"ffffffff").toInt64(16), 0xffffffffLL);
    EXPECT_EQ(c(u"-9223372036854775808").toInt64(), LLONG_MIN);
    EXPECT_EQ(c(u"4294967296").toInt32(), 0);  // wraps around
    EXPECT_EQ(errorCode([] { c(u"w").toInt32(32); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { c(u"  ").toInt32(); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { c(u"-").toInt64(); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { c(u"1").toInt32(33); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([] { c(u"1").toInt64(1); }), KErrInvalidArgument);
}
