// The Graphics group drawing into bitmaps, checked pixel by pixel: clears
// and fills, lines, blits with alpha, tiles, parts, the transformed draw,
// text in a bitmap font and in the system font.
#include "GraphicsTestSupport.h"

#ifdef MCB_HAVE_HOST

#include <QFontMetrics>
#include <QPainter>
#include <cmath>

#include "CAppsFont.h"
#include "GraphicsContainer.h"
#include "KelvarFont.h"

using namespace gfxtest;
using namespace vm;

namespace {

constexpr TUint32 kBlack = 0xFF000000, kRed = 0xFFFF0000, kGreen = 0xFF00FF00;

QImage distinct(int aWidth, int aHeight)
{
    QImage image(aWidth, aHeight, QImage::Format_ARGB32);
    for (int y = 0; y < aHeight; ++y)
        for (int x = 0; x < aWidth; ++x)
            image.setPixel(x, y, 0xFF000000u | TUint32(40 + x * 20) << 16 | TUint32(40 + y * 30) << 8 | 0x80);
    return image;
}

// Words of a fixed-point value: low, then high.
std::pair<Word, Word> fixed(double aValue)
{
    int64_t raw = int64_t(std::llround(aValue * 4294967296.0));
    return {Word(uint32_t(uint64_t(raw))), Word(uint32_t(uint64_t(raw) >> 32))};
}

// Messages Qt writes while the guard lives.
struct QtMessages {
    static std::vector<std::string>& list()
    {
        static std::vector<std::string> messages;
        return messages;
    }
    QtMessageHandler previous;
    QtMessages()
    {
        list().clear();
        previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& aText) { list().push_back(aText.toStdString()); });
    }
    ~QtMessages() { qInstallMessageHandler(previous); }
};

// 12 x 10 font: glyph height 9; ' ' (1, 4) and '!' (5, 4), whose stroke is
// column 6 at full coverage with one pixel of half coverage at (7, 2).
FontImage twoGlyphs()
{
    FontImage f(12, 10);
    f.marker(5);
    f.marker(9);
    for (int y = 0; y < 9; ++y)
        f.set(6, y, 255);
    f.set(7, 2, 128);
    return f;
}

struct VmGraphicsDrawing : NativeFixture {
    Word kelvarFont()
    {
        return Word(newBoxedObject(heap(), CAppsFont::kBlockSize, GC_CODE_FONT, new KelvarFont(twoGlyphs().image)));
    }
    Word systemFont() { return call(SYSTEM, 10, {}).at(0); }
    // Pixels of the bitmap other than aColour.
    int countOther(Word aBitmap, TUint32 aColour)
    {
        QImage image = pixels(aBitmap);
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixel(x, y) != aColour;
        return n;
    }
};

}  // namespace

TEST_F(VmGraphicsDrawing, ClearsReplaceTheBitmapsPixelsWhileFillsBlend)
{
    Word b = bitmap(6, 4, 0xFF0000FF);
    EXPECT_EQ(call(GRAPHICS, 4, {b, 1, 1, 2, 2, Word(0x80FFFFFF)}), Words{});
    EXPECT_TRUE(near(pixel(b, 1, 1), 0xFF8080FF, 2));
    EXPECT_EQ(pixel(b, 3, 1), 0xFF0000FFu);
    EXPECT_EQ(pixel(b, 0, 0), 0xFF0000FFu);

    // A painter is open on the bitmap: clear ends it and replaces every pixel.
    call(GRAPHICS, 4, {b, 0, 0, 1, 1, Word(kRed)});
    GraphicsContainer* painter = getGraphics(heap(), recordOf(b));
    EXPECT_EQ(call(GRAPHICS, 8, {b, Word(0x80FF0000)}), Words{});
    EXPECT_FALSE(painter->isActive());
    EXPECT_EQ(countOther(b, 0x80FF0000), 0);
    call(GRAPHICS, 8, {b, Word(0x00000000)});
    EXPECT_EQ(countOther(b, 0x00000000), 0);
    call(GRAPHICS, 8, {b, Word(kGreen)});
    EXPECT_EQ(countOther(b, kGreen), 0);

    // A record without pixels as the target: nothing happens, nothing fails.
    Word empty = bitmap(0, 0, 0);
    Word source = bitmap(2, 2, kRed);
    auto [lo, hi] = fixed(1.0);
    EXPECT_EQ(call(GRAPHICS, 8, {empty, Word(kRed)}), Words{});
    EXPECT_EQ(call(GRAPHICS, 4, {empty, 0, 0, 5, 5, Word(kRed)}), Words{});
    EXPECT_EQ(call(GRAPHICS, 5, {empty, 0, 0, 5, 5, Word(kRed)}), Words{});
    EXPECT_EQ(call(GRAPHICS, 1, {empty, source, 0, 0, 255}), Words{});
    EXPECT_EQ(call(GRAPHICS, 6, {empty, source, 0, 0, 4, 4, 0, 0, 255}), Words{});
    EXPECT_EQ(call(GRAPHICS, 7, {empty, source, 0, 0, 0, 0, 1, 1, 255}), Words{});
    EXPECT_EQ(call(GRAPHICS, 10, {empty, source, 0, 0, 0, 0, lo, hi, lo, hi, 255}), Words{});
    EXPECT_EQ(call(GRAPHICS, 2, {empty, string(u"!"), 0, 0, Word(kRed), kelvarFont()}), Words{});
    EXPECT_EQ(call(BITMAP, 8, {empty}), (Words{0, 0}));
}

TEST_F(VmGraphicsDrawing, LinesAreOnePixelWideAndAliased)
{
    Word b = bitmap(8, 8, kBlack);
    EXPECT_EQ(call(GRAPHICS, 5, {b, 1, 1, 6, 1, Word(kRed)}), Words{});
    call(GRAPHICS, 5, {b, 0, 0, 7, 7, Word(kGreen)});
    call(GRAPHICS, 5, {b, 7, 2, 7, 5, Word(0xFF0000FF)});
    QImage image = pixels(b);
    EXPECT_EQ(image.pixel(0, 1), kBlack);
    for (int x = 2; x <= 6; ++x)
        EXPECT_EQ(image.pixel(x, 1), kRed) << x;
    EXPECT_EQ(image.pixel(7, 1), kBlack);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(image.pixel(i, i), kGreen) << i;  // over the red line at (1, 1)
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(image.pixel(i, i + 1), kBlack) << i;
    for (int y = 2; y <= 5; ++y)
        EXPECT_EQ(image.pixel(7, y), 0xFF0000FFu) << y;
    EXPECT_EQ(image.pixel(7, 6), kBlack);
}

TEST_F(VmGraphicsDrawing, BitmapsAreBlittedWithTheirOwnAlphaAndTheOpacity)
{
    Word sprite = bitmap(3, 2, kGreen);
    call(BITMAP, 9, {sprite, 0, 0, Word(kRed)});
    call(BITMAP, 9, {sprite, 1, 0, Word(0x80FF0000)});
    call(BITMAP, 9, {sprite, 2, 0, 0});
    Word target = bitmap(8, 8, kBlack);
    EXPECT_EQ(call(GRAPHICS, 1, {target, sprite, 2, 3, 255}), Words{});
    EXPECT_EQ(pixel(target, 2, 3), kRed);
    EXPECT_TRUE(near(pixel(target, 3, 3), 0xFF800000, 2));
    EXPECT_EQ(pixel(target, 4, 3), kBlack);
    for (int x = 2; x <= 4; ++x)
        EXPECT_EQ(pixel(target, x, 4), kGreen);
    EXPECT_EQ(pixel(target, 5, 4), kBlack);
    EXPECT_EQ(pixel(target, 2, 5), kBlack);

    // Opacity alpha / 255 on top of the pixels' own alpha.
    call(GRAPHICS, 1, {target, sprite, 0, 6, 128});
    EXPECT_TRUE(near(pixel(target, 0, 6), 0xFF800000, 2));
    EXPECT_TRUE(near(pixel(target, 1, 6), 0xFF400000, 2));
    EXPECT_TRUE(near(pixel(target, 0, 7), 0xFF008000, 2));
    call(GRAPHICS, 1, {target, sprite, 5, 0, 0});  // fully transparent
    EXPECT_EQ(pixel(target, 5, 0), kBlack);

    // Far outside: clamped, nothing visible, nothing fails.
    call(GRAPHICS, 1, {target, sprite, INT32_MIN, INT32_MAX, 255});
    call(GRAPHICS, 1, {target, sprite, INT32_MAX, INT32_MIN, 255});
    EXPECT_EQ(pixel(target, 0, 0), kBlack);
}

TEST_F(VmGraphicsDrawing, ABitmapIsNeverDrawnIntoItselfAndShowsWhatWasDrawnIntoIt)
{
    Word b = bitmap(4, 4, kBlack);
    call(BITMAP, 9, {b, 0, 0, Word(kRed)});
    call(GRAPHICS, 1, {b, b, 1, 1, 255});
    EXPECT_EQ(pixel(b, 1, 1), kBlack);
    // Another object holding the same record: still nothing.
    Word alias = Word(newBox(heap(), Word(recordOf(b))));
    call(GRAPHICS, 1, {b, alias, 1, 1, 255});
    call(GRAPHICS, 7, {alias, b, 1, 1, 0, 0, 2, 2, 255});
    call(GRAPHICS, 6, {b, alias, 0, 0, 4, 4, 0, 0, 255});
    auto [lo, hi] = fixed(1.0);
    call(GRAPHICS, 10, {b, alias, 2, 2, 0, 0, lo, hi, lo, hi, 255});
    EXPECT_EQ(pixel(b, 1, 1), kBlack);
    EXPECT_EQ(pixel(b, 2, 2), kBlack);

    // Drawn into, then used as a source: the drawing shows.
    Word target = bitmap(4, 4, kBlack);
    call(GRAPHICS, 4, {b, 3, 3, 1, 1, Word(kGreen)});
    GraphicsContainer* painter = getGraphics(heap(), recordOf(b));
    call(GRAPHICS, 1, {target, b, 0, 0, 255});
    EXPECT_FALSE(painter->isActive());
    EXPECT_EQ(pixel(target, 3, 3), kGreen);
    EXPECT_EQ(pixel(target, 0, 0), kRed);
}

TEST_F(VmGraphicsDrawing, SourcesWithoutPixelsDrawNothingWithAWarningExceptForThePlainBlit)
{
    Word target = bitmap(4, 4, kBlack);
    Word noPixels = bitmap(0, 7, 0);
    Word noRecord = object();
    auto [lo, hi] = fixed(1.0);
    {
        QtMessages messages;
        call(GRAPHICS, 1, {target, noPixels, 0, 0, 255});
        EXPECT_TRUE(QtMessages::list().empty());
        call(GRAPHICS, 6, {target, noPixels, 0, 0, 4, 4, 0, 0, 255});
        call(GRAPHICS, 7, {target, noPixels, 0, 0, 0, 0, 1, 1, 255});
        call(GRAPHICS, 10, {target, noPixels, 1, 1, 0, 0, lo, hi, lo, hi, 255});
        EXPECT_EQ(QtMessages::list(), std::vector<std::string>(3, "Null BitmapContainer"));
        QtMessages::list().clear();
        for (Word graphics : {target, noRecord})  // an empty record: silent
            for (Word source : {noRecord, target}) {
                if (graphics == source)
                    continue;
                call(GRAPHICS, 1, {graphics, source, 0, 0, 255});
                call(GRAPHICS, 6, {graphics, source, 0, 0, 4, 4, 0, 0, 255});
                call(GRAPHICS, 7, {graphics, source, 0, 0, 0, 0, 1, 1, 255});
                call(GRAPHICS, 10, {graphics, source, 1, 1, 0, 0, lo, hi, lo, hi, 255});
            }
        EXPECT_TRUE(QtMessages::list().empty());
    }
    EXPECT_EQ(countOther(target, kBlack), 0);
    EXPECT_EQ(error(GRAPHICS, 1, {target, 0, 0, 0, 255}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(GRAPHICS, 7, {0, target, 0, 0, 0, 0, 1, 1, 255}), Pair(1, "NullPointerException: NULL pointer"));
    QPixmap screen(2, 2);
    Word graphics = Word(newBox(heap(), Word(createGraphicsDrawable(heap(), newGraphicsContainer(heap(), &screen)))));
    EXPECT_EQ(error(GRAPHICS, 6, {target, graphics, 0, 0, 4, 4, 0, 0, 255}),
              Pair(10, "VMException: Invalid bitmap handle"));
    GraphicsContainer::endPaintingOn(&screen);
}

TEST_F(VmGraphicsDrawing, TilesRepeatTheBitmapShiftedByTheOffset)
{
    QImage tile = distinct(3, 2);
    Word source = bitmap(tile);
    auto check = [&](Word aTarget, int aX, int aY, int aWidth, int aHeight, int64_t aOffsetX, int64_t aOffsetY) {
        QImage image = pixels(aTarget);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                bool inside = x >= aX && x < int64_t(aX) + aWidth && y >= aY && y < int64_t(aY) + aHeight;
                int64_t tx = ((x - aX - aOffsetX) % 3 + 3) % 3, ty = ((y - aY - aOffsetY) % 2 + 2) % 2;
                QRgb expected = inside ? tile.pixel(int(tx), int(ty)) : kBlack;
                if (image.pixel(x, y) != expected) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " offset " << aOffsetX << "," << aOffsetY;
                    return;
                }
            }
    };
    Word target = bitmap(20, 12, kBlack);
    EXPECT_EQ(call(GRAPHICS, 6, {target, source, 5, 4, 10, 7, 1, 1, 17}), Words{});
    check(target, 5, 4, 10, 7, 1, 1);

    for (auto [ox, oy] : {std::pair{-4, 5}, {0, 0}, {INT32_MIN, INT32_MAX}, {INT32_MAX, INT32_MIN}}) {
        Word t = bitmap(9, 7, kBlack);
        call(GRAPHICS, 6, {t, source, 1, 2, 7, 4, ox, oy, 255});
        check(t, 1, 2, 7, 4, ox, oy);
    }
    // Partly off the bitmap: the grid stays anchored at the rectangle.
    Word off = bitmap(6, 5, kBlack);
    call(GRAPHICS, 6, {off, source, -7, -3, 12, 30, 0, 0, 255});
    check(off, -7, -3, 12, 30, 0, 0);
    Word huge = bitmap(6, 5, kBlack);
    call(GRAPHICS, 6, {huge, source, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 2, 0, 255});
    check(huge, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 2, 0);
    Word none = bitmap(6, 5, kBlack);
    call(GRAPHICS, 6, {none, source, 0, 0, -5, 5, 0, 0, 255});
    call(GRAPHICS, 6, {none, source, 0, 0, 5, 0, 0, 0, 255});
    EXPECT_EQ(countOther(none, kBlack), 0);
}

TEST_F(VmGraphicsDrawing, PartsCopyTheSourceRectangleInsideTheBitmap)
{
    QImage image = distinct(6, 6);
    Word source = bitmap(image);
    Word target = bitmap(16, 16, kBlack);
    EXPECT_EQ(call(GRAPHICS, 7, {target, source, 10, 10, 2, 1, 3, 4, 255}), Words{});
    QImage drawn = pixels(target);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            bool inside = x >= 10 && x < 13 && y >= 10 && y < 14;
            EXPECT_EQ(drawn.pixel(x, y), inside ? image.pixel(x - 10 + 2, y - 10 + 1) : kBlack) << x << "," << y;
        }
    // A source rectangle reaching outside draws only its part inside; each
    // pixel lands where the whole rectangle puts it.
    Word cut = bitmap(8, 8, kBlack);
    call(GRAPHICS, 7, {cut, source, 0, 0, -2, -1, 4, 3, 255});
    QImage cutImage = pixels(cut);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            bool inside = x >= 2 && x < 4 && y >= 1 && y < 3;
            EXPECT_EQ(cutImage.pixel(x, y), inside ? image.pixel(x - 2, y - 1) : kBlack) << x << "," << y;
        }
    Word none = bitmap(8, 8, kBlack);
    call(GRAPHICS, 7, {none, source, 0, 0, 2, 2, -1, 3, 255});
    call(GRAPHICS, 7, {none, source, 0, 0, 6, 0, 2, 2, 255});
    call(GRAPHICS, 7, {none, source, 0, 0, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, 255});
    call(GRAPHICS, 7, {none, source, INT32_MAX, 0, 0, 0, 6, 6, 255});
    EXPECT_EQ(countOther(none, kBlack), 0);
    call(GRAPHICS, 7, {none, source, 1, 1, 0, 0, 1, 1, 128});
    EXPECT_TRUE(near(pixel(none, 1, 1), 0xFF000000u | (qRed(image.pixel(0, 0)) / 2) << 16 |
                                            (qGreen(image.pixel(0, 0)) / 2) << 8 | (qBlue(image.pixel(0, 0)) / 2), 2));
}

TEST_F(VmGraphicsDrawing, TheTransformedDrawTurnsByAngleTimes180Over3141AndScales)
{
    QImage image = distinct(10, 6);
    QPixmap sourcePixmap = QPixmap::fromImage(image);
    auto reference = [&](double aDegrees, double aScaleX, double aScaleY, double aOpacity) {
        QPixmap out(40, 40);
        out.fill(Qt::black);
        QPainter painter(&out);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setOpacity(aOpacity);
        painter.translate(20, 17);
        painter.rotate(aDegrees);
        painter.scale(aScaleX, aScaleY);
        painter.translate(-5, -3);
        painter.drawPixmap(0, 0, sourcePixmap);
        painter.end();
        return out.toImage().convertToFormat(QImage::Format_ARGB32);
    };
    Word source = bitmap(image);
    auto draw = [&](double aAngle, double aScaleX, double aScaleY, Word aAlpha) {
        Word target = bitmap(40, 40, kBlack);
        auto [a0, a1] = fixed(aAngle);
        auto [x0, x1] = fixed(aScaleX);
        auto [y0, y1] = fixed(aScaleY);
        EXPECT_EQ(call(GRAPHICS, 10, {target, source, 20, 17, a0, a1, x0, x1, y0, y1, aAlpha}), Words{});
        return pixels(target);
    };
    QImage turned = draw(100, 1.5, 0.75, 255);
    EXPECT_EQ(turned, reference(-(100 * 180 / 3.141), 1.5, 0.75, 1.0));
    EXPECT_NE(turned, reference(-(100 * 180 / M_PI), 1.5, 0.75, 1.0));  // the test tells the two apart
    EXPECT_EQ(draw(0, 1, 1, 255), reference(0, 1, 1, 1.0));
    EXPECT_EQ(draw(0, 1, 1, 255).pixel(15, 14), image.pixel(0, 0));  // centred: top-left at (15, 14)
    EXPECT_EQ(draw(M_PI / 2, -2, 1, 255), reference(-(M_PI / 2 * 180 / 3.141), -2, 1, 1.0));
    EXPECT_EQ(draw(-0.3, 0.5, 3, 77), reference(-(-0.3 * 180 / 3.141), 0.5, 3, 77 / 255.0));

    // Absurd scales and angles are clamped, and finish.
    Word target = bitmap(40, 40, kBlack);
    call(GRAPHICS, 10, {target, source, 20, 20, 0, INT32_MAX, -1, INT32_MAX, 0, INT32_MIN, 255});
    call(GRAPHICS, 10, {target, source, INT32_MIN, INT32_MAX, -1, -1, 0, 0, 0, 0, 255});
}

TEST_F(VmGraphicsDrawing, BitmapFontTextIsDrawnGlyphByGlyphInTheColourAndItsAlpha)
{
    Word font = kelvarFont();
    Word target = bitmap(30, 12, kBlack);
    // '\t' and 'x' have no glyph: skipped without a gap.
    EXPECT_EQ(call(GRAPHICS, 2, {target, string(u"!\tx!"), 3, 2, Word(kGreen), font}), Words{});
    QImage image = pixels(target);
    for (int y = 2; y <= 10; ++y) {
        EXPECT_EQ(image.pixel(4, y), kGreen) << y;  // stroke of the first '!'
        EXPECT_EQ(image.pixel(8, y), kGreen) << y;  // the second, 4 pixels on
    }
    EXPECT_TRUE(near(image.pixel(5, 4), 0xFF008000, 2));
    EXPECT_TRUE(near(image.pixel(9, 4), 0xFF008000, 2));
    EXPECT_EQ(image.pixel(4, 11), kBlack);  // glyphs are 9 rows high
    EXPECT_EQ(image.pixel(4, 1), kBlack);
    EXPECT_EQ(image.pixel(12, 5), kBlack);
    EXPECT_EQ(countOther(target, kBlack), 2 * 10);

    // Another colour with alpha: tinted anew, drawn at half opacity.
    Word faded = bitmap(30, 12, kBlack);
    call(GRAPHICS, 2, {faded, string(u"!"), 0, 0, Word(0x80FF0000), font});
    EXPECT_TRUE(near(pixel(faded, 1, 0), 0xFF800000, 2));
    EXPECT_TRUE(near(pixel(faded, 2, 2), 0xFF400000, 2));

    // Opcode 3: count characters from start, range-checked.
    Word part = bitmap(30, 12, kBlack);
    EXPECT_EQ(call(GRAPHICS, 3, {part, string(u"!!!"), 1, 1, 20, 2, Word(kGreen), font}), Words{});
    EXPECT_EQ(pixel(part, 21, 5), kGreen);
    EXPECT_EQ(countOther(part, kBlack), 10);
    call(GRAPHICS, 3, {part, string(u"!!!"), 3, 0, 0, 2, Word(kRed), font});
    call(GRAPHICS, 3, {part, string(u"!!!"), 2, -1, 0, 2, Word(kRed), font});
    EXPECT_EQ(pixel(part, 1, 5), kRed);
    EXPECT_EQ(error(GRAPHICS, 3, {part, string(u"!!!"), 2, 2, 0, 0, 0, font}).first, 5);
    EXPECT_EQ(error(GRAPHICS, 3, {part, string(u"!!!"), -1, 1, 0, 0, 0, font}).first, 5);
    // The range is checked before an empty font or record does nothing.
    EXPECT_EQ(error(GRAPHICS, 3, {part, string(u"!"), 0, 2, 0, 0, 0, object()}).first, 5);
    EXPECT_EQ(call(GRAPHICS, 2, {part, string(u"!"), 0, 0, 0, object()}), Words{});
    EXPECT_EQ(call(GRAPHICS, 2, {object(), string(u"!"), 0, 0, 0, font}), Words{});
    EXPECT_EQ(error(GRAPHICS, 2, {part, string(u"!"), 0, 0, 0, 0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(GRAPHICS, 2, {part, 0, 0, 0, 0, font}), Pair(1, "NullPointerException: NULL pointer"));
    Word notAFont = Word(newBox(heap(), Word(getBitmap(heap(), recordOf(part)))));
    EXPECT_EQ(error(GRAPHICS, 2, {part, string(u"!"), 0, 0, 0, notAFont}),
              Pair(6, "InvalidArgumentException: Draw string: invalid font type"));
    // Far outside: nothing drawn, nothing fails.
    call(GRAPHICS, 2, {part, string(u"!!!!"), INT32_MAX - 5, INT32_MIN, Word(kRed), font});
}

TEST_F(VmGraphicsDrawing, SystemFontTextIsDrawnTopLeftInTheFortyPixelFont)
{
    QFont reference;
    reference.setPixelSize(40);
    QFontMetrics metrics(reference);
    Word target = bitmap(300, 100, kBlack);
    EXPECT_EQ(call(GRAPHICS, 2, {target, string(u"Hi"), 10, 20, Word(0xFFFFFFFF), systemFont()}), Words{});
    QImage image = pixels(target);
    int lit = 0, left = 300, right = -1, top = 100, bottom = -1;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 300; ++x)
            if (image.pixel(x, y) != kBlack) {
                ++lit;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_GT(lit, 50);
    EXPECT_GE(left, 10);
    EXPECT_LT(right, 10 + metrics.horizontalAdvance("Hi") + 2);
    EXPECT_GE(top, 20);
    EXPECT_LT(bottom, 20 + metrics.height());
    EXPECT_LT(top, 20 + metrics.ascent());  // capitals reach above the baseline
    EXPECT_GE(bottom, 20 + metrics.ascent() - 3);

    Word nothing = bitmap(50, 50, kBlack);
    call(GRAPHICS, 3, {nothing, string(u"Hi"), 1, 0, 0, 0, Word(0xFFFFFFFF), systemFont()});
    EXPECT_EQ(countOther(nothing, kBlack), 0);
    call(GRAPHICS, 3, {nothing, string(u"Hi"), 1, 1, 0, 0, Word(0xFFFFFFFF), systemFont()});
    EXPECT_GT(countOther(nothing, kBlack), 10);
}

TEST_F(VmGraphicsDrawing, UnknownFunctionsRaiseTheGroupsError)
{
    for (int f : {0, 11, 12, -3})
        EXPECT_EQ(error(GRAPHICS, f, {}), Pair(10, "VMException: Graphics:99")) << f;
}

#endif  // MCB_HAVE_HOST
