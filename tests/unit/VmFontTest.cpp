// Fonts: bitmap fonts built from images made here pixel by pixel, their
// tint and measures, the system font against Qt's own metrics, the Font
// group and the System functions that make fonts.
#include "GraphicsTestSupport.h"

#ifdef MCB_HAVE_HOST

#include <QFontMetrics>

#include "BitmapLoading.h"
#include "CAppsFont.h"
#include "KelvarFont.h"

using namespace gfxtest;
using namespace vm;

namespace {

// 12 x 10: glyph height 9, ascent 7, markers at 5 and 9: a space (1, 4) and
// '!' (5, 4); columns 9-11 belong to no glyph.
FontImage twoGlyphs()
{
    FontImage f(12, 10);
    f.ascentRows(7);
    f.set(0, 8, 200);  // after the first gap: not part of the ascent
    f.marker(5);
    f.marker(9);
    for (int y = 0; y < 9; ++y)
        f.set(6, y, 255);  // the stroke of '!'
    f.set(7, 2, 128);
    return f;
}

struct VmFonts : NativeFixture {
    Word fontBox(const FontImage& aFont)
    {
        std::string png = encoded(aFont.image, "png");
        return Word(newBitmapFont(heap(), reinterpret_cast<const uint8_t*>(png.data()), int64_t(png.size())));
    }
    static int width(const CAppsFont& aFont, std::u16string_view aText)
    {
        OString text(aText);
        return aFont.getStringWidth(text, 0, text.length());
    }
};

}  // namespace

TEST_F(VmFonts, GlyphTableHeightAndAscentComeFromTheImage)
{
    KelvarFont font(twoGlyphs().image);
    EXPECT_EQ(font.getHeight(), 9);
    EXPECT_EQ(font.getAscent(), 7);
    EXPECT_EQ(font.getKind(), 1);
    ASSERT_EQ(font.glyphCount(), 2);
    EXPECT_EQ(font.glyph(' ').offset, 1);
    EXPECT_EQ(font.glyph(' ').width, 4);
    EXPECT_EQ(font.glyph('!').offset, 5);
    EXPECT_EQ(font.glyph('!').width, 4);
    EXPECT_EQ(font.glyph('"').width, 0);
    EXPECT_EQ(font.glyph('\t').width, 0);
    EXPECT_EQ(font.glyph(0xFFFF).width, 0);

    // A marker at x = 1 marks nothing: the same two glyphs, nothing more.
    FontImage stray = twoGlyphs();
    stray.marker(1);
    stray.marker(0);
    KelvarFont strayFont(stray.image);
    ASSERT_EQ(strayFont.glyphCount(), 2);
    EXPECT_EQ(strayFont.glyph(' ').offset, 1);
    EXPECT_EQ(strayFont.glyph(' ').width, 4);
    EXPECT_EQ(strayFont.glyph('!').offset, 5);

    // Ascent: at most the glyph height, even when the marker row is marked.
    FontImage tall(3, 4);
    tall.ascentRows(4);
    EXPECT_EQ(KelvarFont(tall.image).getAscent(), 3);
    EXPECT_EQ(KelvarFont(tall.image).glyphCount(), 0);
    FontImage none(3, 4);
    EXPECT_EQ(KelvarFont(none.image).getAscent(), 0);

    // Adjacent markers give one-pixel glyphs; one row is a font of height 0.
    FontImage narrow(5, 1);
    narrow.marker(2);
    narrow.marker(3);
    narrow.marker(4);
    KelvarFont flat(narrow.image);
    EXPECT_EQ(flat.getHeight(), 0);
    ASSERT_EQ(flat.glyphCount(), 3);
    EXPECT_EQ(flat.glyph(' ').width, 1);
    EXPECT_EQ(flat.glyph('!').offset, 2);
    EXPECT_EQ(flat.glyph('"').offset, 3);
}

TEST_F(VmFonts, BitmapFontsMeasureGlyphWidthsAndSkipCharactersWithoutGlyphs)
{
    KelvarFont font(twoGlyphs().image);
    OString text(u"! \t!A!");
    EXPECT_EQ(font.getStringWidth(text, 0, text.length()), 16);  // tab and A measure 0
    EXPECT_EQ(font.getStringWidth(text, 1, 3), 8);
    EXPECT_EQ(font.getStringWidth(text, 2, 0), 0);
    EXPECT_EQ(font.getCharsThatFit(text, 0, 6, 7), 1);
    EXPECT_EQ(font.getCharsThatFit(text, 0, 6, 8), 3);  // the tab adds nothing
    EXPECT_EQ(font.getCharsThatFit(text, 0, 6, 12), 5);
    EXPECT_EQ(font.getCharsThatFit(text, 0, 6, 100), 6);
    EXPECT_EQ(font.getCharsThatFit(text, 2, 2, 0), 1);
    EXPECT_EQ(font.getCharsThatFit(text, 0, 6, -1), 0);
}

TEST_F(VmFonts, TintingBuildsTheColourTableOncePerColour)
{
    KelvarFont font(twoGlyphs().image);
    EXPECT_EQ(font.lastTint(), 0xFFFFFFFFu);
    const QPixmap& first = font.tint(0x80123456);
    EXPECT_EQ(font.lastTint(), 0xFF123456u);  // alpha forced to 255
    qint64 key = first.cacheKey();
    QImage tinted = first.toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(tinted.size(), QSize(12, 10));
    EXPECT_EQ(tinted.pixel(6, 0), 0xFF123456u);
    EXPECT_EQ(qAlpha(tinted.pixel(7, 2)), 128);
    EXPECT_EQ(qAlpha(tinted.pixel(8, 2)), 0);
    EXPECT_EQ(qAlpha(tinted.pixel(5, 9)), 0);  // the marker row is no glyph

    EXPECT_EQ(font.tint(0xFF123456).cacheKey(), key);
    EXPECT_EQ(font.tint(0x00123456).cacheKey(), key);
    EXPECT_NE(font.tint(0xFF654321).cacheKey(), key);
    EXPECT_EQ(font.tint(0xFF654321).toImage().pixel(6, 3), 0xFF654321u);

    // White, the initial colour, still builds the first table.
    KelvarFont white(twoGlyphs().image);
    EXPECT_EQ(white.tint(0xFFFFFFFF).toImage().pixel(6, 1), 0xFFFFFFFFu);
}

TEST_F(VmFonts, TheSystemFontMeasuresWithQtMetricsAtFortyPixels)
{
    NativeFont font;
    QFont reference;
    reference.setPixelSize(40);
    QFontMetrics metrics(reference);
    EXPECT_EQ(font.getKind(), 0);
    EXPECT_EQ(font.getHeight(), metrics.height());
    EXPECT_EQ(font.getAscent(), metrics.ascent());
    EXPECT_GT(font.getHeight(), 30);
    EXPECT_EQ(width(font, u"Hello, world"), metrics.horizontalAdvance("Hello, world"));
    OString text(u"Hello, world");
    EXPECT_EQ(font.getStringWidth(text, 7, 5), metrics.horizontalAdvance("world"));
    EXPECT_EQ(font.getStringWidth(text, 3, 0), 0);
    EXPECT_EQ(font.getStringWidth(text, 3, -1), 0);

    // Chars that fit: the first prefix too wide ends the count.
    for (int maxWidth : {-5, 0, 10, 50, 120, 200, metrics.horizontalAdvance("Hello, world"), 100000}) {
        int expected = 0;
        while (expected < 12 && metrics.horizontalAdvance(QString("Hello, world").left(expected + 1)) <= maxWidth)
            ++expected;
        EXPECT_EQ(font.getCharsThatFit(text, 0, 12, maxWidth), expected) << maxWidth;
    }
    EXPECT_EQ(font.getCharsThatFit(text, 0, 0, 1000), 0);
    // A long text costs only a few measurements.
    OString longText = OString::filled(u'm', 200000);
    int fits = font.getCharsThatFit(longText, 0, longText.length(), 5000);
    EXPECT_LE(metrics.horizontalAdvance(QString(fits, 'm')), 5000);
    EXPECT_GT(metrics.horizontalAdvance(QString(fits + 1, 'm')), 5000);
}

TEST_F(VmFonts, FontFunctionsReplaceTheirOperandsByOneResult)
{
    Word kelvarFont = fontBox(twoGlyphs());
    ASSERT_NE(kelvarFont, 0);
    EXPECT_EQ(heap().gcCodeOf(Addr(kelvarFont)), GC_CODE_REFERENCE);
    EXPECT_EQ(heap().gcCodeOf(unbox(heap(), Addr(kelvarFont))), GC_CODE_FONT);
    Word text = string(u"!! !\t");
    EXPECT_EQ(call(FONT, 2, {kelvarFont}), Words{9});
    EXPECT_EQ(call(FONT, 3, {kelvarFont}), Words{7});
    EXPECT_EQ(call(FONT, 4, {kelvarFont, text}), Words{16});
    EXPECT_EQ(call(FONT, 5, {kelvarFont, text, 1, 2}), Words{8});
    EXPECT_EQ(call(FONT, 5, {kelvarFont, text, 2, -1}), Words{8});
    EXPECT_EQ(call(FONT, 5, {kelvarFont, text, 5, 0}), Words{0});
    EXPECT_EQ(call(FONT, 6, {kelvarFont, text, 11}), Words{2});
    EXPECT_EQ(call(FONT, 7, {kelvarFont, text, 2, 3, 8}), Words{3});
    EXPECT_EQ(call(FONT, 7, {kelvarFont, text, 1, -1, 4}), Words{1});

    Word system = call(SYSTEM, 10, {}).at(0);
    NativeFont reference;
    OString hello(u"hello");
    EXPECT_EQ(call(FONT, 2, {system}), Words{reference.getHeight()});
    EXPECT_EQ(call(FONT, 3, {system}), Words{reference.getAscent()});
    EXPECT_EQ(call(FONT, 4, {system, string(u"hello")}), Words{reference.getStringWidth(hello, 0, 5)});
    EXPECT_EQ(call(FONT, 6, {system, string(u"hello"), 1000}), Words{5});

    // An object without a font measures 0; errors as for every group.
    Word empty = object();
    for (int f : {2, 3})
        EXPECT_EQ(call(FONT, f, {empty}), Words{0});
    EXPECT_EQ(call(FONT, 4, {empty, text}), Words{0});
    EXPECT_EQ(call(FONT, 5, {empty, text, 0, 1}), Words{0});
    EXPECT_EQ(call(FONT, 6, {empty, text, 100}), Words{0});
    EXPECT_EQ(call(FONT, 7, {empty, text, 0, 1, 100}), Words{0});
    EXPECT_EQ(error(FONT, 2, {0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(FONT, 4, {kelvarFont, 0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(FONT, 5, {kelvarFont, text, 3, 3}).first, 5);
    EXPECT_EQ(error(FONT, 7, {kelvarFont, text, -1, 1, 5}).first, 5);
    EXPECT_EQ(error(FONT, 2, {Word(newBox(heap(), Word(newBox(heap(), 0))))}), Pair(10, "VMException: Invalid object"));
    for (int f : {1, 0, 8})
        EXPECT_EQ(error(FONT, f, {kelvarFont}), Pair(10, "VMException: Font:99")) << f;
}

TEST_F(VmFonts, SystemFunctionsMakeFontsFromTheSystemAndFromImageFiles)
{
    EXPECT_EQ(errorOf([&] { newSystemFont(heap(), 3); }), Pair(6, "InvalidArgumentException: Unknown font size"));
    EXPECT_EQ(errorOf([&] { newSystemFont(heap(), -1); }), Pair(6, "InvalidArgumentException: Unknown font size"));
    for (int code : {0, 1, 2})
        EXPECT_EQ(heap().objectAs<NativeFont>(unbox(heap(), newSystemFont(heap(), code)))->getHeight(),
                  NativeFont().getHeight());

    Words pushed = call(SYSTEM, 10, {});  // pushes the font
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_EQ(call(FONT, 2, {pushed[0]}), Words{NativeFont().getHeight()});

    host.files["font.png"] = encoded(twoGlyphs().image, "png");
    host.files["junk.png"] = "junk";
    Words loaded = call(SYSTEM, 11, {string(u"font.png")});  // replaces the path
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(call(FONT, 4, {loaded[0], string(u"!")}), Words{4});
    EXPECT_EQ(error(SYSTEM, 11, {string(u"junk.png")}), Pair(6, "InvalidArgumentException"));
    EXPECT_EQ(error(SYSTEM, 11, {string(u"none.png")}), Pair(7, "IOException: Could not open file: none.png"));
    EXPECT_EQ(error(SYSTEM, 11, {string(u"")}), Pair(6, "InvalidArgumentException: Filename is empty"));
    EXPECT_EQ(error(SYSTEM, 11, {0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(LoadBitmapFromFile(vm(), OString("junk.png"), ETrue), 0);

    Words fromBytes = call(SYSTEM, 12, {bytes(encoded(twoGlyphs().image, "png"))});  // replaces the array
    ASSERT_EQ(fromBytes.size(), 1u);
    EXPECT_EQ(call(FONT, 2, {fromBytes[0]}), Words{9});
    EXPECT_EQ(call(FONT, 4, {fromBytes[0], string(u" !")}), Words{8});
    EXPECT_EQ(error(SYSTEM, 12, {bytes("")}), Pair(6, "InvalidArgumentException: byte[] is empty"));
    EXPECT_EQ(error(SYSTEM, 12, {bytes("junk")}), Pair(6, "InvalidArgumentException"));
    EXPECT_EQ(error(SYSTEM, 12, {0}), Pair(1, "NullPointerException: NULL pointer"));
}

#endif  // MCB_HAVE_HOST
