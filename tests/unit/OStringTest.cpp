#include <gtest/gtest.h>

#include "TestSupport.h"

#include <QString>

#include "Containers/CAppsString.h"
#include "Containers/OString.h"
#include "Heap.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "VMError.h"
#include "VMSpace.h"

using namespace vm;
using R = OString::Range;

namespace {

struct OStringTest : ::testing::Test {
    VMSpace space;  // declared first: strings of a test die before it
    static OString s(const char16_t* text) { return OString(text); }
    static std::u16string u(const OString& str) { return str.toU16(); }
    static std::u16string join(const Vec<OString>& parts)
    {
        std::u16string out;
        for (const OString& p : parts)
            out += u"[" + p.toU16() + u"]";
        return out;
    }
};

}  // namespace

TEST_F(OStringTest, BuffersLiveInTheSpaceWithTheCapacityRule)
{
    OString five = s(u"abcde");
    EXPECT_EQ(five.capacity(), 10);
    EXPECT_EQ(OString::filled(u'x', 100).capacity(), 120);
    EXPECT_EQ(OString::capacityFor(9), 10);
    EXPECT_EQ(OString::capacityFor(12), 14);
    EXPECT_EQ(OString().capacity(), 0);
    EXPECT_EQ(OString().dataAddress(), 0u);

    // The units and their 0 terminator are addressable in the space.
    Addr data = five.dataAddress();
    ASSERT_TRUE(space.contains(data, 12));
    EXPECT_EQ(space.loadHalf(data), u'a');
    EXPECT_EQ(space.loadHalf(data + 10), 0);

    // A released buffer goes back to the space (its size class is reused).
    uint64_t bytes = (uint64_t(five.capacity()) + 1) * 2;
    five.clear();
    EXPECT_EQ(space.allocBuffer(bytes), data);
}

TEST_F(OStringTest, CopyOnWrite)
{
    OString a = s(u"hello");
    OString b(a);
    EXPECT_TRUE(a.sharesBufferWith(b));
    EXPECT_EQ(a.refCount(), 2);
    b = a;  // already sharing: nothing happens
    EXPECT_EQ(a.refCount(), 2);

    b.append(u'!');
    EXPECT_EQ(u(a), u"hello");
    EXPECT_EQ(u(b), u"hello!");
    EXPECT_EQ(a.refCount(), 1);
    EXPECT_EQ(b.refCount(), 1);

    // Every editing family leaves a sharing copy unchanged.
    OString c(a);
    c.toUpperCase();
    c.replaceAll(s(u"L"), u'_');
    c.removeHead(1);
    c.insert(0, s(u"<"));
    EXPECT_EQ(u(c), u"<E__O");
    EXPECT_EQ(u(a), u"hello");

    // In place when unshared and the capacity holds the result.
    Addr data = a.dataAddress();
    a.append(s(u"abcde"));  // 10 units, capacity 10
    EXPECT_EQ(a.dataAddress(), data);
    a.append(u'x');  // 11 units: new buffer with capacity 13
    EXPECT_NE(a.dataAddress(), data);
    EXPECT_EQ(a.capacity(), 13);
    // Shortening stays in place only above half the capacity (13 / 2 = 6).
    data = a.dataAddress();
    a.removeTail(4);  // 7 units
    EXPECT_EQ(a.dataAddress(), data);
    a.removeTail(1);  // 6 units: a new buffer of its own size
    EXPECT_NE(a.dataAddress(), data);
    EXPECT_EQ(a.capacity(), 10);
    EXPECT_EQ(u(a), u"helloa");

    // A result of length 0 releases the buffer.
    OString d(a);
    d.removeAll(d);
    EXPECT_TRUE(d.isEmpty());
    EXPECT_EQ(d.dataAddress(), 0u);
    EXPECT_EQ(a.refCount(), 1);

    // Moves transfer the reference.
    OString e(std::move(a));
    EXPECT_EQ(e.refCount(), 1);
    EXPECT_TRUE(a.isEmpty());
}

TEST_F(OStringTest, UnitAddressMakesTheBufferPrivate)
{
    OString a = s(u"abc");
    OString b(a);
    EXPECT_EQ(errorCode([&] { b.unitAddress(3); }), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCode([&] { b.unitAddress(-1); }), KErrIndexOutOfBounds);
    Addr unit = b.unitAddress(1);
    EXPECT_FALSE(a.sharesBufferWith(b));
    space.storeHalf(unit, u'X');
    EXPECT_EQ(u(b), u"aXc");
    EXPECT_EQ(u(a), u"abc");
    // Unshared: the address is stable.
    EXPECT_EQ(b.unitAddress(1), unit);
    // Bytecode can overwrite the terminator; lengths stay host-side.
    space.storeHalf(b.dataAddress() + 6, u'Z');
    EXPECT_EQ(b.length(), 3);
    EXPECT_EQ(u(b), u"aXc");
}

TEST_F(OStringTest, ConstructionsAndConversions)
{
    EXPECT_EQ(u(OString("abc\xe9", 1)), u"bc\u00e9");
    EXPECT_TRUE(OString("abc", 3).isEmpty());
    EXPECT_EQ(errorCode([] { OString((const char*)nullptr); }), KErrNull);
    EXPECT_EQ(u(OString::fromUtf8("h\xc3\xa9\xe2\x82\xac", 6)), u"h\u00e9\u20ac");
    EXPECT_EQ(OString::fromUtf8("h\xc3\xa9", 3).toUtf8(), "h\xc3\xa9");
    EXPECT_EQ(errorCode([] { OString::fromUtf8("x", -1); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([] { OString::fromUtf8(nullptr, 2); }), KErrNull);
    EXPECT_TRUE(OString::fromUtf8(nullptr, 0).isEmpty());
    EXPECT_EQ(OString(u"\u0141a").toLatin1(), std::string("\x41" "a"));
    EXPECT_EQ(u(OString::fromLatin1("\xff\x01", 2)), u"\u00ff\u0001");

    OString q(QString::fromUtf16(u"Qt\u00e9"));
    EXPECT_EQ(u(q), u"Qt\u00e9");
    EXPECT_EQ(q.toQString(), QString::fromUtf16(u"Qt\u00e9"));
    CAppsString c(u"c\u20ac");
    EXPECT_EQ(u(OString(c)), u"c\u20ac");
    EXPECT_TRUE(OString(c).toCAppsString() == c);
    EXPECT_TRUE(OString(CAppsString()).isEmpty());

    EXPECT_EQ(u(OString::filled(u'z', 3)), u"zzz");
    EXPECT_TRUE(OString::filled(u'z', 0).isEmpty());
    EXPECT_EQ(errorCode([] { OString::filled(u'z', -1); }), KErrInvalidArgument);

    EXPECT_EQ(u(OString::number(0)), u"0");
    EXPECT_EQ(u(OString::number(-42)), u"-42");
    EXPECT_EQ(u(OString::number(INT32_MIN)), u"-2147483648");
    EXPECT_EQ(u(OString::number(TUint32(-1), 16)), u"ffffffff");
    EXPECT_EQ(u(OString::number(TUint32(35), 36)), u"z");
    EXPECT_EQ(u(OString::number(TUint32(5), 2)), u"101");
    EXPECT_TRUE(OString::number(TUint32(5), 1).isEmpty());
    EXPECT_TRUE(OString::number(TUint32(5), 37).isEmpty());

    OString text = s(u"abcdefg");
    EXPECT_EQ(u(text.everyNth(2)), u"aceg");
    EXPECT_TRUE(text.everyNth(1).sharesBufferWith(text));
    EXPECT_EQ(u(text.everyNth(R{1, 4}, 2)), u"bd");
    EXPECT_TRUE(text.everyNth(R{0, 0}, 2).isEmpty());
    EXPECT_EQ(errorCode([&] { text.everyNth(0); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { text.everyNth(R{0, 1}, -1); }), KErrInvalidArgument);

    EXPECT_EQ(u(text.concat(s(u"!"))), u"abcdefg!");
    EXPECT_TRUE(OString().concat(text).sharesBufferWith(text));
    EXPECT_EQ(u(s(u"ab").repeated(3)), u"ababab");
    EXPECT_TRUE(s(u"ab").repeated(0).isEmpty());
    EXPECT_TRUE(OString().repeated(5).isEmpty());
    EXPECT_EQ(errorCode([] { s(u"ab").repeated(-1); }), KErrInvalidArgument);
    // Lengths beyond the space are refused before anything is allocated.
    EXPECT_EQ(errorCode([] { s(u"ab").repeated(1 << 30); }), KErrVm);
    EXPECT_TRUE(pendingError().text == u"VMException: Out of memory");
    EXPECT_EQ(errorCode([] { s(u"abc").repeated(INT32_MAX); }), KErrVm);
}

TEST_F(OStringTest, RangesAndSubstrings)
{
    OString t = s(u"abcdef");
    EXPECT_EQ(u(t.substring(R{1, 3})), u"bcd");
    EXPECT_EQ(u(t.substring(R{2, -1})), u"cdef");
    EXPECT_TRUE(t.substring(R{0, -5}).sharesBufferWith(t));
    EXPECT_TRUE(t.substring(R{0, 6}).sharesBufferWith(t));
    EXPECT_TRUE(t.substring(R{0, 0}).isEmpty());   // the empty range
    EXPECT_TRUE(t.substring(R{6, -1}).isEmpty());  // negative length from the end on
    EXPECT_TRUE(t.substring(R{99, -1}).isEmpty());
    EXPECT_EQ(errorCode([&] { t.substring(R{-1, 2}); }), KErrRange);
    EXPECT_EQ(errorCode([&] { t.substring(R{5, 2}); }), KErrRange);
    EXPECT_EQ(errorCode([&] { t.substring(R{3, 0}); }), KErrRange);
    EXPECT_EQ(errorCode([&] { t.substring(R{1, INT32_MAX}); }), KErrRange);
    EXPECT_TRUE(pendingError().text == u"RangeException");
    EXPECT_TRUE(OString().substring(R{0, -1}).isEmpty());

    // Searches and counts take the empty range as finding nothing...
    EXPECT_EQ(t.indexOf(u'a', R{0, 0}), -1);
    EXPECT_EQ(t.count(u'a', R{0, 0}), 0);
    EXPECT_EQ(OString().indexOf(s(u"a")), -1);
    // ...but any other invalid range raises code 5.
    EXPECT_EQ(errorCode([&] { t.indexOf(u'a', R{6, 1}); }), KErrRange);
    EXPECT_EQ(errorCode([&] { t.count(s(u"a"), R{-1, -1}); }), KErrRange);

    // Removals raise code 5 for the empty range; replacements by a non-empty
    // text do nothing.
    EXPECT_EQ(errorCode([&] { t.remove(R{0, 0}); }), KErrRange);
    EXPECT_EQ(errorCode([&] { t.replace(R{0, 0}, OString()); }), KErrRange);
    EXPECT_EQ(errorCode([&] { OString().remove(R{0, -1}); }), KErrRange);
    t.replace(R{0, 0}, s(u"zz"));
    t.replace(R{0, 0}, u'z');
    EXPECT_EQ(u(t), u"abcdef");
    t.remove(R{1, 2});
    EXPECT_EQ(u(t), u"adef");
    t.replace(R{1, 2}, s(u"XYZ"));
    EXPECT_EQ(u(t), u"aXYZf");
    t.replace(R{4, -1}, u'!');
    EXPECT_EQ(u(t), u"aXYZ!");
    t.replace(R{0, 2}, OString());
    EXPECT_EQ(u(t), u"YZ!");
}

TEST_F(OStringTest, SearchFamilies)
{
    OString t = s(u"abcabc");
    EXPECT_EQ(t.indexOf(s(u"bc"), R{2, -1}), 4);
    EXPECT_EQ(t.indexOf(s(u"bc"), R{0, 3}), 1);
    EXPECT_EQ(t.indexOf(s(u"bc"), R{0, 2}), -1);  // must lie wholly inside
    EXPECT_EQ(t.indexOf(s(u"BC")), 1);                 // case ignored by default
    EXPECT_EQ(t.indexOf(s(u"BC"), true), -1);
    EXPECT_EQ(t.indexOf(OString()), -1);
    EXPECT_EQ(t.indexOf(u'C'), 2);
    EXPECT_EQ(t.indexOf(u'C', true), -1);
    EXPECT_EQ(t.indexOf(u'c', R{3, 3}, true), 5);
    EXPECT_EQ(t.lastIndexOf(s(u"ab")), 3);
    EXPECT_EQ(t.lastIndexOf(s(u"ab"), R{0, 4}), 0);
    EXPECT_EQ(t.lastIndexOf(u'A', R{1, 4}), 3);
    EXPECT_EQ(t.lastIndexOf(u'A', R{1, 4}, true), -1);
    EXPECT_EQ(t.lastIndexOf(s(u"abcabcx")), -1);

    OString r = s(u"abc");
    OString::Range found = r.findRange(s(u"BC"));
    EXPECT_EQ(found.start, 1);
    EXPECT_EQ(found.length, 2);
    found = r.findRange(s(u"x"));
    EXPECT_EQ(found.start, 0);
    EXPECT_EQ(found.length, 0);

    EXPECT_EQ(s(u"aaaa").count(s(u"aa")), 2);
    EXPECT_EQ(s(u"aAaA").count(u'a'), 4);
    EXPECT_EQ(s(u"aAaA").count(u'a', true), 2);
    EXPECT_EQ(s(u"aAaA").count(s(u"aa"), R{1, 3}), 1);
    EXPECT_EQ(s(u"abc").count(OString()), 0);

    EXPECT_EQ(s(u"abcb").mostFrequent(), u'b');
    EXPECT_EQ(s(u"xAaB").mostFrequent(), u'a');              // lower-cased
    EXPECT_EQ(s(u"xAaB").mostFrequent(true), u'x');          // ties: earliest
    EXPECT_EQ(s(u"xAaAB").mostFrequent(R{1, -1}, true), u'A');
    EXPECT_EQ(s(u"bbaaa").mostFrequent(R{0, 3}), u'b');
    EXPECT_EQ(errorCode([] { OString().mostFrequent(); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { s(u"ab").mostFrequent(R{0, 0}); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { s(u"ab").mostFrequent(R{2, 1}); }), KErrRange);
}

TEST_F(OStringTest, ComparisonsAndPrefixes)
{
    EXPECT_TRUE(s(u"Hello").startsWith(s(u"hE")));
    EXPECT_FALSE(s(u"Hello").startsWith(s(u"hE"), true));
    EXPECT_TRUE(s(u"Hello").endsWith(s(u"LO")));
    EXPECT_FALSE(s(u"Hello").endsWith(s(u"Hello!")));
    EXPECT_FALSE(s(u"Hello").startsWith(OString()));
    EXPECT_FALSE(OString().endsWith(OString()));

    EXPECT_FALSE(s(u"a").equals(s(u"A"), true));
    EXPECT_TRUE(s(u"a").equals(s(u"A"), false));
    EXPECT_EQ(s(u"a").compare(s(u"b"), true), -1);
    EXPECT_EQ(s(u"b").compare(s(u"a"), true), 1);
    EXPECT_EQ(s(u"B").compare(s(u"a"), true), -1);
    EXPECT_EQ(s(u"B").compare(s(u"a"), false), 1);
    EXPECT_EQ(s(u"ab").compare(s(u"abc"), true), -1);
    EXPECT_EQ(s(u"abc").compare(s(u"ab"), true), 1);
    EXPECT_EQ(OString().compare(OString(), true), 0);
    OString shared = s(u"same");
    EXPECT_EQ(shared.compare(OString(shared), true), 0);
    EXPECT_TRUE(s(u"x") == s(u"x"));

    OString t = s(u"abcdef");
    EXPECT_EQ(t.compareRegion(s(u"abcdef"), R{0, -1}, true), 0);
    EXPECT_EQ(t.compareRegion(s(u"CD"), R{2, 2}, false), 0);
    EXPECT_EQ(t.compareRegion(s(u"CD"), R{2, 2}, true), 1);
    EXPECT_EQ(t.compareRegion(s(u"cde"), R{2, 2}, true), -1);
    EXPECT_EQ(t.compareRegion(s(u"c"), R{2, 2}, true), 1);
    EXPECT_EQ(t.compareRegion(OString(), R{2, 2}, true), 1);
    EXPECT_EQ(t.compareRegion(OString(), R{0, 0}, true), 0);
    EXPECT_EQ(errorCode([&] { t.compareRegion(s(u"x"), R{5, 3}, true); }), KErrRange);

    EXPECT_TRUE(t.regionEquals(s(u"CDE"), R{2, 3}, false));
    EXPECT_FALSE(t.regionEquals(s(u"CDE"), R{2, 3}, true));
    EXPECT_FALSE(t.regionEquals(s(u"cd"), R{2, 3}, true));
    EXPECT_TRUE(t.regionEquals(s(u"ABCDEF"), R{0, -1}, false));
    EXPECT_TRUE(OString().regionEquals(OString(), R{0, -1}, true));
    EXPECT_EQ(errorCode([&] { t.regionEquals(OString(), R{1, 2}, true); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { t.regionEquals(s(u"x"), R{7, 1}, true); }), KErrRange);
}

TEST_F(OStringTest, InsertionAndInsertTo)
{
    OString t = s(u"abc");
    t.insert(99, OString());  // an empty text at any position: no error
    t.insert(-5, OString());
    EXPECT_EQ(u(t), u"abc");
    EXPECT_EQ(errorCode([&] { t.insert(4, s(u"x")); }), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCode([&] { t.insert(-1, u'x'); }), KErrIndexOutOfBounds);
    t.insert(3, s(u"d"));
    t.insert(0, u'<');
    t.prepend(s(u"["));
    t.append(u'>');
    t.append(s(u"]"));
    EXPECT_EQ(u(t), u"[<abcd>]");
    t.insert(1, s(u"0123456"), R{2, 3});
    EXPECT_EQ(u(t), u"[234<abcd>]");
    t.insert(1, s(u"xyz"), R{0, 0});
    EXPECT_EQ(errorCode([&] { t.insert(1, s(u"xyz"), R{1, 5}); }), KErrRange);

    // Into an empty string the whole source is shared; a part is copied.
    OString source = s(u"source");
    OString e;
    e.insertTo(0, source, 0, 5);
    EXPECT_TRUE(e.sharesBufferWith(source));
    OString f;
    f.append(source);
    EXPECT_TRUE(f.sharesBufferWith(source));
    OString g;
    g.insertTo(0, source, 1, 3);
    EXPECT_EQ(u(g), u"our");
    EXPECT_FALSE(g.sharesBufferWith(source));
    g.insertTo(99, source, 0, -1);  // nothing to insert: position unchecked
    EXPECT_EQ(errorCode([&] { g.insertTo(4, source, 0, 0); }), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCode([&] { g.insertTo(0, source, 2, 1); }), KErrRange);
    EXPECT_EQ(errorCode([&] { g.insertTo(0, source, 0, 6); }), KErrRange);
    EXPECT_EQ(errorCode([&] { g.insertTo(0, source, -1, 2); }), KErrRange);
    EXPECT_EQ(u(g), u"our");

    // Sources inside the string itself.
    OString self = s(u"ab");
    self.insert(1, self);
    EXPECT_EQ(u(self), u"aabb");
    self.append(self);
    EXPECT_EQ(u(self), u"aabbaabb");
    self.insertTo(2, self, 4, 7);
    EXPECT_EQ(u(self), u"aaaabbbbaabb");

    // Insert-or-replace forms.
    OString r = s(u"hello");
    r.replaceOrInsert(R{5, 0}, s(u"!"));
    EXPECT_EQ(u(r), u"hello!");
    r.replaceOrInsert(R{0, 1}, s(u"J"));
    EXPECT_EQ(u(r), u"Jello!");
    r.replaceOrInsert(R{1, 4}, OString());
    EXPECT_EQ(u(r), u"J!");
    EXPECT_EQ(errorCode([&] { r.replaceOrInsert(R{3, 0}, s(u"x")); }), KErrIndexOutOfBounds);
    EXPECT_EQ(errorCode([&] { r.replaceOrInsert(R{-1, 0}, s(u"x")); }), KErrRange);
    r.replaceOrInsert(R{1, 0}, s(u"abcdef"), 1, 3);
    EXPECT_EQ(u(r), u"Jbcd!");
    r.replaceOrInsert(R{1, 0}, s(u"abc"), 0, -1);
    EXPECT_EQ(errorCode([&] { r.replaceOrInsert(R{1, 0}, s(u"abc"), 1, 3); }), KErrRange);
    r.replaceOrInsert(R{1, 3}, s(u"abc"), 2, 2);  // a replacement takes the whole text
    EXPECT_EQ(u(r), u"Jabc!");
}

TEST_F(OStringTest, RemovalAndReplacementFamilies)
{
    OString t = s(u"aXbxcX");
    t.removeFirst(u'x');
    EXPECT_EQ(u(t), u"abxcX");
    t.removeLast(s(u"x"), true);
    EXPECT_EQ(u(t), u"abcX");
    t = s(u"aXbxcX");
    t.removeAll(u'x', R{2, 3});
    EXPECT_EQ(u(t), u"aXbcX");
    t.removeAll(u'X', true);
    EXPECT_EQ(u(t), u"abc");
    t.removeAll(OString());
    t.removeFirst(u'a', R{0, 0});
    EXPECT_EQ(u(t), u"abc");

    OString a = s(u"aaa");
    a.replaceAll(s(u"aa"), s(u"b"));
    EXPECT_EQ(u(a), u"ba");
    // All occurrences are found in the text as it was.
    OString b = s(u"aXa");
    b.replaceAll(s(u"a"), s(u"aa"));
    EXPECT_EQ(u(b), u"aaXaa");
    b.replaceFirst(s(u"A"), u'-');
    EXPECT_EQ(u(b), u"-aXaa");
    b.replaceLast(s(u"A"), u'+', true);
    EXPECT_EQ(u(b), u"-aXaa");
    b.replaceLast(s(u"A"), u'+');
    EXPECT_EQ(u(b), u"-aXa+");
    b.replaceAll(s(u"a"), R{0, 3}, s(u"<>"));
    EXPECT_EQ(u(b), u"-<>Xa+");
    b.replaceFirst(s(u"x"), R{3, -1}, OString(), true);  // exact: no match
    b.replaceFirst(s(u"x"), R{4, -1}, OString());        // outside the range
    EXPECT_EQ(u(b), u"-<>Xa+");
    b.replaceFirst(s(u"x"), R{2, -1}, OString());
    EXPECT_EQ(u(b), u"-<>a+");
    b.replaceAll(OString(), s(u"z"));  // empty pattern: nothing
    EXPECT_EQ(u(b), u"-<>a+");
    b.replaceLast(s(u"+"), R{0, 1}, u'?');
    EXPECT_EQ(u(b), u"-<>a+");
    b.replaceAll(s(u"<>"), R{0, -1}, u'o', true);
    EXPECT_EQ(u(b), u"-oa+");
    EXPECT_EQ(errorCode([&] { b.replaceAll(s(u"a"), R{3, 3}, s(u"x")); }), KErrRange);

    // Replacement text and pattern inside the string itself.
    OString self = s(u"ab");
    self.replaceAll(s(u"b"), self);
    EXPECT_EQ(u(self), u"aab");
    self.replaceAll(self, s(u"z"));
    EXPECT_EQ(u(self), u"z");

    OString c = s(u"abcdef");
    c.removeAt(0);
    EXPECT_EQ(errorCode([&] { c.removeAt(5); }), KErrIndexOutOfBounds);
    c.removeHead(2);
    c.removeTail(1);
    EXPECT_EQ(u(c), u"de");
    EXPECT_EQ(errorCode([&] { c.removeHead(3); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { c.removeTail(-1); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([] { OString().removeHead(1); }), KErrInvalidArgument);
    c.removeTail(2);
    EXPECT_TRUE(c.isEmpty());

    OString rep = s(u"ab");
    rep.repeat(3);
    EXPECT_EQ(u(rep), u"ababab");
    rep.repeat(1);
    EXPECT_EQ(u(rep), u"ababab");
    EXPECT_EQ(errorCode([&] { rep.repeat(-2); }), KErrInvalidArgument);
    OString sharing(rep);
    rep.repeat(2);
    EXPECT_EQ(u(rep), u"abababababab");
    EXPECT_EQ(u(sharing), u"ababab");
    rep.repeat(0);
    EXPECT_TRUE(rep.isEmpty());
}

TEST_F(OStringTest, TrimAndCase)
{
    OString ws = s(u" \t\n ");
    OString keep(ws);
    ws.trim();
    EXPECT_TRUE(ws.isEmpty());
    EXPECT_EQ(ws.dataAddress(), 0u);
    EXPECT_EQ(keep.length(), 4);

    OString t = s(u"  a  b  ");
    t.trim();
    EXPECT_EQ(u(t), u"a b");
    OString runs = s(u"x\t \ty zzzz");  // 11 units, capacity 13
    Addr data = runs.dataAddress();
    runs.trim();
    EXPECT_EQ(u(runs), u"x\ty zzzz");  // 9 > 13 / 2: in place
    EXPECT_EQ(runs.dataAddress(), data);
    OString same = s(u"a b");
    OString sameCopy(same);
    same.trim();  // nothing to remove: the buffer stays shared
    EXPECT_TRUE(same.sharesBufferWith(sameCopy));

    OString l = s(u"  lead  ");
    l.trimLeading();
    EXPECT_EQ(u(l), u"lead  ");
    l.trimTrailing();
    EXPECT_EQ(u(l), u"lead");
    OString spaces = s(u"   ");
    spaces.trimTrailing();
    EXPECT_TRUE(spaces.isEmpty());

    OString c = s(u"MiXeD \u00c9\u00e9");
    OString before(c);
    c.toLowerCase();
    EXPECT_EQ(u(c), u"mixed \u00e9\u00e9");
    c.toUpperCase();
    EXPECT_EQ(u(c), u"MIXED \u00c9\u00c9");
    EXPECT_EQ(u(before), u"MiXeD \u00c9\u00e9");

    EXPECT_EQ(OString::lower(u'Q'), u'q');
    EXPECT_EQ(OString::upper(u'\u00e9'), u'\u00c9');
    EXPECT_EQ(OString::lower(u'\xd800'), u'\xd800');
    EXPECT_TRUE(OString::isLetter(u'\u00e9'));
    EXPECT_FALSE(OString::isLetter(u'1'));
    EXPECT_TRUE(OString::isDigit(u'7'));
    EXPECT_TRUE(OString::isSpace(u'\t'));
    EXPECT_FALSE(OString::isSpace(u'_'));
}

TEST_F(OStringTest, Parsing)
{
    EXPECT_EQ(s(u" 12x").toInt(), 12);
    EXPECT_EQ(s(u"\t-34").toInt(), -34);
    EXPECT_EQ(s(u"+7").toInt(), 7);
    EXPECT_EQ(s(u"+-0").toInt(), 0);
    EXPECT_EQ(s(u"+-05").toInt(), 0);
    EXPECT_EQ(s(u"4294967297").toInt(), 1);  // 32-bit wrap-around
    EXPECT_EQ(s(u"-2147483648").toInt(), INT32_MIN);
    EXPECT_EQ(errorCode([] { s(u"x").toInt(); }), KErrDataFormat);
    EXPECT_TRUE(pendingError().text == u"DataFormatException: ");
    EXPECT_EQ(errorCode([] { OString().toInt(); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { s(u"   ").toInt(); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { s(u"+-5").toInt(); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { s(u"-+5").toInt(); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { s(u"-").toInt(); }), KErrDataFormat);

    EXPECT_EQ(s(u"  fF").toInt(16), 255);
    EXPECT_EQ(s(u"zz!").toInt(36), 36 * 36 - 1);
    EXPECT_EQ(s(u"1012").toInt(2), 5);
    EXPECT_EQ(s(u"ffffffff").toInt(16), -1);
    EXPECT_EQ(s(u" -12").toInt(10), -12);  // radix 10 is the decimal rule
    EXPECT_EQ(errorCode([] { s(u"-1").toInt(16); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { s(u"2").toInt(2); }), KErrDataFormat);
    EXPECT_EQ(errorCode([] { s(u"1").toInt(1); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([] { s(u"1").toInt(37); }), KErrInvalidArgument);
}

TEST_F(OStringTest, Split)
{
    EXPECT_EQ(join(s(u"a,,b,").split(u',')), u"[a][b]");
    EXPECT_EQ(s(u"abc").split(u',').count(), 0);
    EXPECT_EQ(join(s(u",x").split(s(u","))), u"[x]");
    EXPECT_EQ(join(s(u"aXbxc").split(u'x')), u"[a][b][c]");
    EXPECT_EQ(join(s(u"aXbxc").split(u'x', true)), u"[aXb][c]");
    EXPECT_EQ(join(s(u"1<>2<>").split(s(u"<>"), true)), u"[1][2]");
    EXPECT_EQ(s(u",,").split(u',').count(), 0);
    EXPECT_EQ(errorCode([] { s(u"abc").split(OString()); }), KErrInvalidArgument);
    EXPECT_EQ(OString().split(OString()).count(), 0);
    EXPECT_EQ(OString().split(u',').count(), 0);
}

// ---------------------------------------------------------------------------
// String values in the heap

namespace {
struct StringObjectTest : ::testing::Test {
    Vec<Vec<int> > refs, arrays;
    Vec<Vec<char> > flags;
    VMSpace space;
    VMHeap heap{space, 64000, nullptr, refs, arrays, flags};
};
}  // namespace

TEST_F(StringObjectTest, BoxAndBlockLayout)
{
    OString text(u"boxed");
    Addr box = newStringObject(heap, text);
    EXPECT_EQ(heap.gcCodeOf(box), GC_CODE_REFERENCE);
    Addr block = Addr(space.rawWord(box));
    EXPECT_EQ(heap.gcCodeOf(block), GC_CODE_STRING);
    EXPECT_EQ(heap.payloadSize(block), 8u);
    EXPECT_EQ(space.raw<HeapHeader>(block - VMHeap::kHeaderSize)->isGcObject, -1);
    EXPECT_LT(block, box);  // the string block first, then its box

    OString& held = stringOf(heap, box);
    EXPECT_TRUE(held.sharesBufferWith(text));
    EXPECT_EQ(text.refCount(), 2);
    held.append(u'!');  // edits through the value leave the host copy alone
    EXPECT_EQ(text.toU16(), u"boxed");
    EXPECT_EQ(stringOf(heap, box).toU16(), u"boxed!");

    Addr empty = newStringObject(heap, OString());
    EXPECT_TRUE(stringOf(heap, empty).isEmpty());
}

TEST_F(StringObjectTest, BadReferencesRaiseVmErrors)
{
    EXPECT_EQ(errorCode([&] { stringOf(heap, 0); }), KErrNull);
    EXPECT_TRUE(pendingError().text == u"NullPointerException: NULL pointer");
    // A box holding null.
    Addr nullBox = newBox(heap, 0);
    EXPECT_EQ(errorCode([&] { stringOf(heap, nullBox); }), KErrNull);
    // A box naming a block that owns no string.
    Addr raw = heap.alloc(8, 0, GC_CODE_NATIVE);
    Addr notString = newBox(heap, Word(raw));
    EXPECT_EQ(errorCode([&] { stringOf(heap, notString); }), KErrVm);
    EXPECT_TRUE(pendingError().text == u"VMException: Invalid object");
    // A box naming the string's box, or an address outside the space.
    Addr box = newStringObject(heap, OString(u"x"));
    Addr boxOfBox = newBox(heap, Word(box));
    EXPECT_EQ(errorCode([&] { stringOf(heap, boxOfBox); }), KErrVm);
    Addr wild = newBox(heap, Word(0xFFFFFFF0u));
    EXPECT_EQ(errorCode([&] { stringOf(heap, wild); }), KErrVm);
    EXPECT_EQ(errorCode([&] { stringOf(heap, 0xFFFFFFF0u); }), KErrVm);
    // A forged copy of the object handle in another block is refused.
    Addr forged = heap.alloc(8, -1, GC_CODE_STRING);
    space.setRawWord(forged, space.rawWord(Addr(space.rawWord(box))));
    Addr forgedBox = newBox(heap, Word(forged));
    EXPECT_EQ(errorCode([&] { stringOf(heap, forgedBox); }), KErrVm);
}

TEST_F(StringObjectTest, FreeingTheBlockReleasesTheBuffer)
{
    OString kept(u"shared text");
    Addr box = newStringObject(heap, kept);
    Addr block = Addr(space.rawWord(box));
    EXPECT_EQ(kept.refCount(), 2);
    heap.freeObject(box);
    EXPECT_EQ(kept.refCount(), 2);
    heap.freeObject(block);
    EXPECT_EQ(kept.refCount(), 1);

    // A buffer only the heap holds goes back to the space when the
    // collector frees the unreachable string.
    Addr data;
    uint64_t bytes;
    {
        OString only(u"only in the heap");
        newStringObject(heap, only);
        data = only.dataAddress();
        bytes = (uint64_t(only.capacity()) + 1) * 2;
    }
    int objects = heap.objectCount();
    heap.collect();
    EXPECT_EQ(heap.objectCount(), objects - 1);
    EXPECT_EQ(space.allocBuffer(bytes), data);
}

TEST_F(OStringTest, TheLastBufferGrowsWhereItLies)
{
    OString big = OString::filled(u'x', 40000);  // above the size classes: a region of its own
    const Addr data = big.dataAddress();
    const uint64_t before = space.committedBytes();
    for (int i = 0; i < 10000; ++i)
        big.append(u'y');
    EXPECT_EQ(big.dataAddress(), data);
    EXPECT_EQ(big.capacity(), OString::capacityFor(48001));  // as a new buffer would have
    EXPECT_LT(space.committedBytes() - before, uint64_t(big.capacity()) * 2);
    EXPECT_EQ(big.toU16(), std::u16string(40000, u'x') + std::u16string(10000, u'y'));
    EXPECT_EQ(space.loadHalf(data + 2 * 50000), 0);

    // A shared buffer is copied, and one that another region follows moves.
    OString copy(big);
    big.repeat(2);
    EXPECT_NE(big.dataAddress(), data);
    EXPECT_EQ(copy.dataAddress(), data);
    EXPECT_EQ(copy.length(), 50000);
    const Addr moved = big.dataAddress();
    OString after = OString::filled(u'z', 40000);
    big.append(OString::filled(u'w', 30000));
    EXPECT_NE(big.dataAddress(), moved);
    EXPECT_EQ(big.length(), 130000);
    EXPECT_EQ(big.last(), u'w');
}
