// Bitmaps: the pixmap / pixel-cache pair of BitmapContainer, decoding and
// encoding, and the Bitmap group with its checks, messages and stack
// effects, loading files through the host.
#include "GraphicsTestSupport.h"

#ifdef MCB_HAVE_HOST

#include <QPainter>
#include <fstream>
#include <zlib.h>

#include "BitmapLoading.h"
#include "GifWriter.h"
#include "GraphicsContainer.h"

using namespace gfxtest;
using namespace vm;

namespace {

// A w x h image whose pixel (x, y) is a colour of its own.
QImage distinct(int aWidth, int aHeight, TUint32 aAlpha = 0xFF)
{
    QImage image(aWidth, aHeight, QImage::Format_ARGB32);
    for (int y = 0; y < aHeight; ++y)
        for (int x = 0; x < aWidth; ++x)
            image.setPixel(x, y, aAlpha << 24 | TUint32(x * 37 % 256) << 16 | TUint32(y * 53 % 256) << 8 | 0x40);
    return image;
}

// A PNG of one pixel whose header claims the size.
std::string pngClaiming(uint32_t aWidth, uint32_t aHeight)
{
    std::string png = encoded(distinct(1, 1), "png");
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            png[at + size_t(i)] = char(v >> (24 - 8 * i));
    };
    // Signature (8), IHDR length (4), "IHDR" at 12, width 16, height 20,
    // five more bytes, the CRC of type and data at 29.
    put32(16, aWidth);
    put32(20, aHeight);
    put32(29, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17)));
    return png;
}

using VmBitmapContainer = NativeFixture;
using VmBitmapNatives = NativeFixture;

}  // namespace

TEST_F(VmBitmapContainer, PixelAccessWorksOnTheCacheAndPaintingOnTheConvertedPixmap)
{
    BitmapContainer b(4, 3);
    b.fill(0xFF0000FF);
    EXPECT_FALSE(b.hasCache());  // opaque fills paint the pixmap
    EXPECT_EQ(b.getPixel(3, 2), 0xFF0000FFu);
    EXPECT_TRUE(b.hasCache());
    qint64 stale = b.pixmapForPainting()->cacheKey();
    EXPECT_FALSE(b.hasCache());

    // Translucent fills and pixels are raw values: replaced, never blended.
    b.fill(0x40FF0000);
    EXPECT_TRUE(b.hasCache());
    EXPECT_EQ(b.getPixel(0, 0), 0x40FF0000u);
    b.setPixel(1, 2, 0x00000000);
    b.setPixel(2, 2, 0x12345678);
    EXPECT_EQ(b.getPixel(1, 2), 0x00000000u);
    EXPECT_EQ(b.getPixel(2, 2), 0x12345678u);
    EXPECT_EQ(b.pixmapForPainting()->cacheKey(), b.pixmapForPainting()->cacheKey());  // converted once
    EXPECT_NE(b.pixmapForPainting()->cacheKey(), stale);
    EXPECT_EQ(b.getSize(), QSize(4, 3));

    // Painting sees the pixel changes; pixel access then sees the painting.
    {
        QPainter painter(b.pixmapForPainting().get());
        painter.fillRect(0, 0, 1, 1, QColor(0, 255, 0));
    }
    EXPECT_EQ(b.getPixel(0, 0), 0xFF00FF00u);
    EXPECT_EQ(qAlpha(b.getPixel(1, 2)), 0);
    EXPECT_TRUE(near(b.getPixel(3, 0), 0x40FF0000, 2));  // premultiplied on the way

    // A copy holds the newest pixels and is independent.
    b.setPixel(3, 1, 0xFFABCDEF);
    std::unique_ptr<BitmapContainer> copy(BitmapContainer::copyOf(b));
    EXPECT_FALSE(copy->hasCache());
    EXPECT_EQ(copy->getPixel(3, 1), 0xFFABCDEFu);
    copy->setPixel(3, 1, 0xFF000000);
    copy->pixmapForPainting()->fill(Qt::white);
    EXPECT_EQ(b.getPixel(3, 1), 0xFFABCDEFu);
    std::unique_ptr<BitmapContainer> copyOfPainted(BitmapContainer::copyOf(*copy));
    {
        QPainter painter(copyOfPainted->pixmapForPainting().get());
        painter.fillRect(0, 0, 4, 3, Qt::black);
    }
    EXPECT_EQ(copy->getPixel(0, 0), 0xFFFFFFFFu);
}

TEST_F(VmBitmapContainer, CopyAndScaleReplaceThePixelsFromEitherRepresentation)
{
    QImage image = distinct(6, 4);
    for (bool fromCache : {false, true}) {
        BitmapContainer source{QPixmap::fromImage(image)};
        if (fromCache)
            source.setPixel(0, 0, image.pixel(0, 0));  // makes the cache
        ASSERT_EQ(source.hasCache(), fromCache);

        BitmapContainer part{QPixmap()};
        part.copyFrom(source, QRect(2, 1, 3, 2));
        EXPECT_EQ(part.getSize(), QSize(3, 2));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(part.getPixel(x, y), image.pixel(2 + x, 1 + y)) << x << "," << y << " " << fromCache;

        // Fast scaling is nearest-neighbour: doubling repeats every pixel.
        BitmapContainer doubled(12, 8);
        doubled.setPixel(0, 0, 0xFFFFFFFF);  // pending pixels are replaced too
        doubled.scaleFrom(source, 0);
        EXPECT_FALSE(doubled.hasCache());
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x)
                EXPECT_EQ(doubled.getPixel(x, y), image.pixel(x / 2, y / 2)) << x << "," << y;

        // Smooth scaling of two colours gives a blend between them.
        QImage two(2, 1, QImage::Format_ARGB32);
        two.setPixel(0, 0, 0xFF000000);
        two.setPixel(1, 0, 0xFFFFFFFF);
        BitmapContainer pair{QPixmap::fromImage(two)};
        BitmapContainer wide(8, 1);
        wide.scaleFrom(pair, 10);
        int greys = 0;
        for (int x = 0; x < 8; ++x)
            greys += qRed(wide.getPixel(x, 0)) > 10 && qRed(wide.getPixel(x, 0)) < 245;
        EXPECT_GT(greys, 0);
    }
    // A source without pixels changes nothing.
    BitmapContainer target(2, 2);
    target.fill(0xFF112233);
    BitmapContainer none{QPixmap()};
    target.scaleFrom(none, 0);
    EXPECT_EQ(target.getPixel(1, 1), 0xFF112233u);
}

TEST_F(VmBitmapContainer, LosslessFormatsRoundTripExactlyAndLossyOnesWithinTheirTolerance)
{
    QImage image = distinct(23, 17);
    image.setPixel(4, 4, 0x80FF8000);  // translucent: kept by png
    BitmapContainer b{QPixmap::fromImage(image)};
    b.setPixel(4, 4, 0x80FF8000);
    b.setPixel(5, 4, 0x00000000);
    image.setPixel(5, 4, 0x00000000);

    auto decoded = [](const QByteArray& aBytes) {
        QImage out;
        EXPECT_TRUE(decodeImage(reinterpret_cast<const uint8_t*>(aBytes.constData()), aBytes.size(), out));
        return out.convertToFormat(QImage::Format_ARGB32);
    };
    QByteArray png, bmp, jpg, gif, unknown;
    b.encode(png, "png");
    EXPECT_TRUE(png.startsWith("\x89PNG"));
    EXPECT_EQ(decoded(png), image);

    b.encode(bmp, "bmp");
    EXPECT_TRUE(bmp.startsWith("BM"));
    QImage fromBmp = decoded(bmp);
    ASSERT_EQ(fromBmp.size(), image.size());
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x)
            if (qAlpha(image.pixel(x, y)) == 255) {  // bmp keeps no alpha
                EXPECT_EQ(fromBmp.pixel(x, y) | 0xFF000000u, image.pixel(x, y)) << x << "," << y;
            }

    // jpg: same size, every channel within 16 of the original on a smooth
    // gradient (default quality).
    QImage gradient(40, 24, QImage::Format_ARGB32);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x)
            gradient.setPixel(x, y, qRgb(x * 6, y * 10, 128));
    BitmapContainer{QPixmap::fromImage(gradient)}.encode(jpg, "jpg");
    EXPECT_TRUE(jpg.startsWith("\xFF\xD8"));
    QImage fromJpg = decoded(jpg);
    ASSERT_EQ(fromJpg.size(), gradient.size());
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_TRUE(near(fromJpg.pixel(x, y), gradient.pixel(x, y), 16)) << x << "," << y;

    // gif: more than 255 colours go through the colour cube, within 26 per
    // channel; alpha below 128 becomes transparent.
    b.encode(gif, "gif");
    EXPECT_TRUE(gif.startsWith("GIF89a"));
    QImage fromGif = decoded(gif);
    ASSERT_EQ(fromGif.size(), image.size());
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x) {
            QRgb original = image.pixel(x, y);
            if (qAlpha(original) < 128) {
                EXPECT_EQ(qAlpha(fromGif.pixel(x, y)), 0);
            } else {
                EXPECT_TRUE(near(fromGif.pixel(x, y), original | 0xFF000000u, 26)) << x << "," << y;
            }
        }

    b.encode(unknown, "");
    b.encode(unknown, "tiff");
    EXPECT_TRUE(unknown.isEmpty());
    BitmapContainer empty{QPixmap()};
    empty.encode(unknown, "png");
    EXPECT_TRUE(unknown.isEmpty());
    // Bytes are appended.
    QByteArray twice = png;
    b.encode(twice, "png");
    EXPECT_EQ(twice, png + png);
}

TEST_F(VmBitmapContainer, GifsWithFewColoursKeepThemExactly)
{
    // 256 x 64 pixels of 200 colours and a transparent hole, long enough
    // for the compressor to fill its table and start again.
    QImage image(256, 64, QImage::Format_ARGB32);
    uint32_t seed = 12345;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            seed = seed * 1103515245u + 12345u;
            int c = int((seed >> 16) % 200);
            image.setPixel(x, y, 0xFF000000u | TUint32(c) << 16 | TUint32(255 - c) << 8 | TUint32(c / 2));
        }
    image.setPixel(10, 10, 0);
    QByteArray gif = encodeGif(image);
    QImage back;
    ASSERT_TRUE(decodeImage(reinterpret_cast<const uint8_t*>(gif.constData()), gif.size(), back));
    back = back.convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(back.size(), image.size());
    int differing = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x)
            differing += (x == 10 && y == 10) ? qAlpha(back.pixel(x, y)) != 0 : back.pixel(x, y) != image.pixel(x, y);
    EXPECT_EQ(differing, 0);
    EXPECT_TRUE(encodeGif(QImage()).isEmpty());
}

TEST_F(VmBitmapContainer, UntrustedImageDataCannotClaimHugeSizes)
{
    std::string small = pngClaiming(3, 2);
    QImage image;
    EXPECT_FALSE(decodeImage(reinterpret_cast<const uint8_t*>(small.data()), int64_t(small.size()), image))
        << "a 1-pixel body for a 3 x 2 header is corrupt";
    std::string huge = pngClaiming(100000, 100000);
    EXPECT_FALSE(decodeImage(reinterpret_cast<const uint8_t*>(huge.data()), int64_t(huge.size()), image));
    std::string wide = pngClaiming(40000, 1);
    EXPECT_FALSE(decodeImage(reinterpret_cast<const uint8_t*>(wide.data()), int64_t(wide.size()), image));
    std::string junk = "not an image at all";
    EXPECT_FALSE(decodeImage(reinterpret_cast<const uint8_t*>(junk.data()), int64_t(junk.size()), image));
    EXPECT_FALSE(decodeImage(nullptr, 0, image));
    std::string good = encoded(distinct(3, 2), "png");
    ASSERT_TRUE(decodeImage(reinterpret_cast<const uint8_t*>(good.data()), int64_t(good.size()), image));
    EXPECT_EQ(image.convertToFormat(QImage::Format_ARGB32), distinct(3, 2));

    // Through the Bitmap group the huge claim is an ordinary load failure.
    host.files["huge.png"] = huge;
    EXPECT_EQ(error(BITMAP, 3, {object(), string(u"huge.png")}), Pair(6, "InvalidArgumentException: Could not load image"));

    EXPECT_TRUE(BitmapContainer::sizeAllowed(32767, 1024));
    EXPECT_TRUE(BitmapContainer::sizeAllowed(8192, 4096));
    EXPECT_FALSE(BitmapContainer::sizeAllowed(8192, 4097));
    EXPECT_FALSE(BitmapContainer::sizeAllowed(32768, 1));
    EXPECT_FALSE(BitmapContainer::sizeAllowed(-1, 1));
}

TEST_F(VmBitmapContainer, PngChunksMustFitInTheData)
{
    // Qt's PNG reader allocates a chunk's declared length before it reads
    // the chunk: a 264-byte file whose text chunk claims 256 MiB made it
    // allocate that much (the input kept in fuzz/regressions/images, whose
    // replay under the fuzzers' allocation limit catches the allocation).
    // A chunk is 4 bytes of length, 4 of type, the data and a 4-byte CRC.
    std::string good = encoded(distinct(3, 2), "png");
    auto withText = [&](uint32_t aDeclared, const std::string& aData) {
        std::string chunk = std::string(1, char(aDeclared >> 24)) + char(aDeclared >> 16) + char(aDeclared >> 8) +
                            char(aDeclared) + "tEXt" + aData;
        uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4), uInt(4 + aData.size())));
        chunk += std::string(1, char(crc >> 24)) + char(crc >> 16) + char(crc >> 8) + char(crc);
        std::string png = good;
        return png.insert(png.size() - 12, chunk);  // before IEND
    };
    QImage image;
    std::string fits = withText(9, std::string("Comment\0x", 9));
    ASSERT_TRUE(decodeImage(reinterpret_cast<const uint8_t*>(fits.data()), int64_t(fits.size()), image));
    EXPECT_EQ(image.convertToFormat(QImage::Format_ARGB32), distinct(3, 2));
    for (uint32_t declared : {0x10000000u, 0xFFFFFFFFu, 10u + 12u}) {
        std::string tooLong = withText(declared, std::string("Comment\0x", 9));
        EXPECT_FALSE(decodeImage(reinterpret_cast<const uint8_t*>(tooLong.data()), int64_t(tooLong.size()), image))
            << declared;
    }
    std::string truncated = good.substr(0, 40);  // inside IDAT
    EXPECT_FALSE(decodeImage(reinterpret_cast<const uint8_t*>(truncated.data()), int64_t(truncated.size()), image));
    std::ifstream in(std::string(MCB_SOURCE_DIR) + "/fuzz/regressions/images/png-text-chunk-longer-than-the-file",
                     std::ios::binary);
    std::string found((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(found.size(), 264u);
    EXPECT_FALSE(decodeImage(reinterpret_cast<const uint8_t*>(found.data()), int64_t(found.size()), image));
}

TEST_F(VmBitmapNatives, CreationChecksItsSizesAndFillsWithTheColour)
{
    Word target = object();
    EXPECT_EQ(call(BITMAP, 1, {target, 3, 2, Word(0x80FF0000)}), Words{});
    Addr record = recordOf(target);
    EXPECT_EQ(heap().gcCodeOf(record), GC_CODE_DRAWABLE);
    EXPECT_EQ(drawableKind(heap(), record), KDrawableBitmap);
    EXPECT_EQ(call(BITMAP, 8, {target}), (Words{3, 2}));
    EXPECT_EQ(pixel(target, 2, 1), 0x80FF0000u);
    Word opaque = bitmap(2, 2, 0xFF00FF00);
    EXPECT_EQ(pixel(opaque, 1, 1), 0xFF00FF00u);

    EXPECT_EQ(error(BITMAP, 1, {target, -1, 2, 0}), Pair(6, "InvalidArgumentException: Width should be non-negative"));
    EXPECT_EQ(error(BITMAP, 1, {target, 2, -1, 0}), Pair(6, "InvalidArgumentException: Height should be non-negative"));
    EXPECT_EQ(error(BITMAP, 1, {target, 100000, 100000, 0}), Pair(6, "InvalidArgumentException: Bitmap too large"));
    EXPECT_EQ(recordOf(target), record);  // unchanged by the failures
    EXPECT_EQ(error(BITMAP, 1, {0, 1, 1, 0}), Pair(1, "NullPointerException: NULL pointer"));

    // A zero side: a record without pixels.
    Word empty = object();
    EXPECT_EQ(call(BITMAP, 1, {empty, 0, 5, -1}), Words{});
    EXPECT_EQ(getBitmap(heap(), recordOf(empty)), 0u);
    EXPECT_EQ(call(BITMAP, 8, {empty}), (Words{0, 0}));
    EXPECT_EQ(error(BITMAP, 7, {empty, 0, 0}),
              Pair(6, "InvalidArgumentException: Position (0, 0) is outside the bounds of the bitmap, the bitmap is empty"));
    EXPECT_EQ(error(BITMAP, 9, {empty, 0, 0, 0}),
              Pair(6, "InvalidArgumentException: Position is outside the bounds of the bitmap: the bitmap is empty"));
    call(BITMAP, 1, {empty, 100000, 0, 0});  // huge but empty: no pixels, no error
    EXPECT_EQ(call(BITMAP, 8, {empty}), (Words{0, 0}));
}

TEST_F(VmBitmapNatives, PixelsAreReadAndWrittenRawWithinTheBounds)
{
    Word b = bitmap(5, 4, 0xFF000000);
    EXPECT_EQ(call(BITMAP, 9, {b, 4, 3, Word(0x11223344)}), Words{});
    EXPECT_EQ(call(BITMAP, 7, {b, 4, 3}), Words{0x11223344});
    EXPECT_EQ(call(BITMAP, 7, {b, 0, 0}), Words{Word(0xFF000000)});
    const std::string bounds = ") is outside the bounds of the bitmap: (5, 4)";
    for (auto [x, y] : {std::pair{5, 0}, {0, 4}, {-1, 0}, {0, -1}, {INT32_MIN, INT32_MAX}}) {
        std::string position = "InvalidArgumentException: Position (" + std::to_string(x) + ", " + std::to_string(y);
        EXPECT_EQ(error(BITMAP, 7, {b, x, y}), Pair(6, position + bounds));
        EXPECT_EQ(error(BITMAP, 9, {b, x, y, 0}), Pair(6, position + bounds));
    }
    EXPECT_EQ(error(BITMAP, 7, {0, 0, 0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(BITMAP, 7, {object(), 0, 0}), Pair(1, "NullPointerException: NULL pointer"));  // no record
    EXPECT_EQ(error(BITMAP, 99, {}), Pair(10, "VMException: Bitmap:99"));
    EXPECT_EQ(error(BITMAP, 0, {}), Pair(10, "VMException: Bitmap:99"));

    // A graphics record is not a bitmap.
    QPixmap screen(4, 4);
    Word graphics = Word(newBox(heap(), Word(createGraphicsDrawable(heap(), newGraphicsContainer(heap(), &screen)))));
    EXPECT_EQ(error(BITMAP, 7, {graphics, 0, 0}), Pair(10, "VMException: Invalid bitmap handle"));
    EXPECT_EQ(error(BITMAP, 8, {graphics}), Pair(10, "VMException: Invalid typeid on bitmap"));
    GraphicsContainer::endPaintingOn(&screen);
}

TEST_F(VmBitmapNatives, EveryUseButTheSizeQueryEndsThePaintingOnTheBitmap)
{
    Word b = bitmap(4, 4, 0xFF000000);
    Addr record = recordOf(b);
    GraphicsContainer* painter = getGraphics(heap(), record);
    ASSERT_NE(painter, nullptr);
    painter->fillRect(0, 0, 2, 2, 0xFFFF0000);
    call(BITMAP, 8, {b});
    EXPECT_TRUE(painter->isActive());
    EXPECT_EQ(call(BITMAP, 7, {b, 1, 1}), Words{Word(0xFFFF0000)});  // the drawing shows
    EXPECT_FALSE(painter->isActive());
    EXPECT_EQ(heap().space().rawWord(record + DrawableLayout::kGraphics), 0);

    // The same for a copy made right after drawing.
    getGraphics(heap(), record)->fillRect(3, 3, 1, 1, 0xFF0000FF);
    Word copy = object();
    call(BITMAP, 6, {copy, b});
    EXPECT_EQ(pixel(copy, 3, 3), 0xFF0000FFu);
}

TEST_F(VmBitmapNatives, PartsAreCopiedFromInsideTheSource)
{
    QImage image = distinct(6, 5);
    Word source = bitmap(image);
    Word part = object();
    EXPECT_EQ(call(BITMAP, 2, {part, source, 1, 2, 4, 3}), Words{});
    EXPECT_EQ(pixels(part), image.copy(1, 2, 4, 3));
    call(BITMAP, 9, {part, 0, 0, 0});  // independent of the source
    EXPECT_EQ(pixel(source, 1, 2), image.pixel(1, 2));

    Word whole = object();
    call(BITMAP, 2, {whole, source, 0, 0, 6, 5});
    EXPECT_EQ(pixels(whole), image);
    Word none = object();
    call(BITMAP, 2, {none, source, 6, 5, 0, 0});
    EXPECT_EQ(getBitmap(heap(), recordOf(none)), 0u);
    call(BITMAP, 2, {none, source, 2, 2, 3, 0});
    EXPECT_EQ(getBitmap(heap(), recordOf(none)), 0u);

    const std::string inside = ") should be inside the bounds of the source bitmap: (6, 5)";
    EXPECT_EQ(error(BITMAP, 2, {part, source, 1, 1, 6, 1}),
              Pair(6, "InvalidArgumentException: Source rectangle (1, 1, 6, 1" + inside));
    EXPECT_EQ(error(BITMAP, 2, {part, source, -1, 0, 1, 1}),
              Pair(6, "InvalidArgumentException: Source rectangle (-1, 0, 1, 1" + inside));
    EXPECT_EQ(error(BITMAP, 2, {part, source, 0, 0, 1, -1}),
              Pair(6, "InvalidArgumentException: Source rectangle (0, 0, 1, -1" + inside));
    EXPECT_EQ(error(BITMAP, 2, {part, source, 1, 0, INT32_MAX, 1}),
              Pair(6, "InvalidArgumentException: Source rectangle (1, 0, 2147483647, 1" + inside));

    Word empty = bitmap(0, 0, 0);
    EXPECT_EQ(error(BITMAP, 2, {part, empty, 0, 0, 1, 1}),
              Pair(6, "InvalidArgumentException: Source rectangle (0, 0, 1, 1) should be inside the bounds of the "
                      "source bitmap, the bitmap is empty"));
    call(BITMAP, 2, {part, empty, 0, 0, 0, 0});
    EXPECT_EQ(getBitmap(heap(), recordOf(part)), 0u);
}

TEST_F(VmBitmapNatives, CopiesAreIndependentAndKeepEmptiness)
{
    Word source = bitmap(3, 3, 0x7F102030);
    Word copy = object();
    EXPECT_EQ(call(BITMAP, 6, {copy, source}), Words{});
    EXPECT_NE(recordOf(copy), recordOf(source));
    EXPECT_EQ(pixel(copy, 2, 2), 0x7F102030u);
    call(BITMAP, 9, {copy, 2, 2, 0});
    EXPECT_EQ(pixel(source, 2, 2), 0x7F102030u);

    Word emptyCopy = object();
    call(BITMAP, 6, {emptyCopy, bitmap(0, 3, 0)});
    EXPECT_EQ(getBitmap(heap(), recordOf(emptyCopy)), 0u);
    EXPECT_EQ(error(BITMAP, 6, {copy, object()}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(BITMAP, 6, {copy, 0}), Pair(1, "NullPointerException: NULL pointer"));
}

TEST_F(VmBitmapNatives, ResizeRescalesEmptiesOrCreatesBlackPixels)
{
    QImage image(100, 50, QImage::Format_ARGB32);
    image.fill(0xFF0000FF);
    for (int x = 0; x < 100; ++x)
        image.setPixel(x, 0, 0xFFFF0000);
    Word b = bitmap(100, 50, 0xFF0000FF);
    for (int x = 0; x < 100; ++x)
        call(BITMAP, 9, {b, x, 0, Word(0xFFFF0000)});

    Addr before = getBitmap(heap(), recordOf(b));
    EXPECT_EQ(call(BITMAP, 10, {b, 100, 50}), Words{});  // same size: nothing
    EXPECT_EQ(getBitmap(heap(), recordOf(b)), before);

    EXPECT_EQ(call(BITMAP, 11, {b, 100, 80}), Words{});
    EXPECT_NE(getBitmap(heap(), recordOf(b)), before);
    EXPECT_EQ(call(BITMAP, 8, {b}), (Words{100, 80}));
    EXPECT_EQ(pixels(b), image.scaled(100, 80, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    EXPECT_EQ(pixel(b, 50, 79), 0xFF0000FFu);

    Word smooth = bitmap(2, 1, 0xFF000000);
    call(BITMAP, 9, {smooth, 1, 0, Word(0xFFFFFFFF)});
    EXPECT_EQ(call(BITMAP, 12, {smooth, 8, 1}), Words{});
    QImage two(2, 1, QImage::Format_ARGB32);
    two.setPixel(0, 0, 0xFF000000);
    two.setPixel(1, 0, 0xFFFFFFFF);
    EXPECT_EQ(pixels(smooth), two.scaled(8, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));

    EXPECT_EQ(call(BITMAP, 10, {b, 0, 80}), Words{});
    EXPECT_EQ(getBitmap(heap(), recordOf(b)), 0u);
    EXPECT_EQ(call(BITMAP, 10, {b, 7, 0}), Words{});  // still nothing
    EXPECT_EQ(call(BITMAP, 8, {b}), (Words{0, 0}));
    EXPECT_EQ(call(BITMAP, 12, {b, 3, 2}), Words{});
    EXPECT_EQ(call(BITMAP, 8, {b}), (Words{3, 2}));
    EXPECT_EQ(pixel(b, 2, 1), 0xFF000000u);

    EXPECT_EQ(error(BITMAP, 10, {b, -1, 5}), Pair(6, "InvalidArgumentException: Width should be non-negative"));
    EXPECT_EQ(error(BITMAP, 11, {b, 5, -1}), Pair(6, "InvalidArgumentException: Height should be non-negative"));
    EXPECT_EQ(error(BITMAP, 12, {b, -1, 0}), Pair(6, "InvalidArgumentException: Width should be non-negative"));
    EXPECT_EQ(error(BITMAP, 12, {b, 50000, 50000}), Pair(6, "InvalidArgumentException: Bitmap too large"));
    EXPECT_EQ(call(BITMAP, 8, {b}), (Words{3, 2}));
}

TEST_F(VmBitmapNatives, FilesLoadThroughTheHostWithTheirErrors)
{
    QImage image = distinct(7, 3);
    host.files["sprite.png"] = encoded(image, "png");
    host.files["empty.png"] = "";
    host.files["text.png"] = "hello";
    Word target = object();
    EXPECT_EQ(call(BITMAP, 3, {target, string(u"sprite.png")}), Words{});
    EXPECT_EQ(pixels(target), image);

    EXPECT_EQ(error(BITMAP, 3, {target, string(u"")}), Pair(6, "InvalidArgumentException: Filename is empty"));
    EXPECT_EQ(error(BITMAP, 3, {target, string(u"gone.png")}), Pair(7, "IOException: Could not open file: gone.png"));
    EXPECT_EQ(error(BITMAP, 3, {target, string(u"empty.png")}), Pair(6, "InvalidArgumentException: File is empty"));
    EXPECT_EQ(error(BITMAP, 3, {target, string(u"text.png")}), Pair(6, "InvalidArgumentException: Could not load image"));
    EXPECT_EQ(error(BITMAP, 3, {0, string(u"sprite.png")}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(BITMAP, 3, {target, 0}), Pair(1, "NullPointerException: NULL pointer"));
    // A file that grows or shrinks while it is read.
    for (int drift : {1, -1}) {
        host.drift = drift;
        EXPECT_EQ(error(BITMAP, 3, {target, string(u"sprite.png")}), Pair(7, "IOException")) << drift;
    }
    host.drift = 0;
    EXPECT_EQ(pixels(target), image);  // the target kept its bitmap
    // A file too large for any bitmap is not read.
    host.claimedSize = 300 << 20;
    EXPECT_EQ(error(BITMAP, 3, {target, string(u"sprite.png")}), Pair(6, "InvalidArgumentException: Could not load image"));
    host.claimedSize = -1;

    Word loaded = Word(LoadBitmapFromFile(vm(), OString("sprite.png"), EFalse));
    EXPECT_EQ(heap().gcCodeOf(Addr(loaded)), GC_CODE_DRAWABLE);
    EXPECT_EQ(LoadBitmapFromFile(vm(), OString("text.png"), EFalse), 0);
}

TEST_F(VmBitmapNatives, ByteArraysDecodeAndEncodeImages)
{
    QImage image = distinct(5, 4);
    std::string png = encoded(image, "png");
    std::string padded = "xyz" + png + "tail";
    Word target = object();
    EXPECT_EQ(call(BITMAP, 4, {target, bytes(png)}), Words{});
    EXPECT_EQ(pixels(target), image);
    Word part = object();
    EXPECT_EQ(call(BITMAP, 5, {part, bytes(padded), 3, Word(png.size())}), Words{});
    EXPECT_EQ(pixels(part), image);
    Word rest = object();
    EXPECT_EQ(call(BITMAP, 5, {rest, bytes("xyz" + png), 3, -1}), Words{});
    EXPECT_EQ(pixels(rest), image);

    EXPECT_EQ(error(BITMAP, 4, {target, bytes("")}), Pair(6, "InvalidArgumentException: byte[] is empty"));
    EXPECT_EQ(error(BITMAP, 4, {target, bytes("junk")}), Pair(6, "InvalidArgumentException: Could not load image"));
    EXPECT_EQ(error(BITMAP, 4, {target, bytes(pngClaiming(100000, 100000))}),
              Pair(6, "InvalidArgumentException: Could not load image"));
    EXPECT_EQ(error(BITMAP, 5, {target, bytes(padded), 0, Word(png.size())}),
              Pair(6, "InvalidArgumentException: Could not load image"));  // starts at "xyz"
    EXPECT_EQ(error(BITMAP, 5, {target, bytes(padded), 3, 0}), Pair(6, "InvalidArgumentException: size is zero"));
    EXPECT_EQ(error(BITMAP, 5, {target, bytes(""), 0, -1}), Pair(6, "InvalidArgumentException: size is zero"));
    EXPECT_EQ(error(BITMAP, 5, {target, bytes(png), 1, Word(png.size())}).first, 5);
    EXPECT_EQ(error(BITMAP, 5, {target, bytes(png), -1, 2}).first, 5);
    EXPECT_EQ(error(BITMAP, 4, {target, 0}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(error(BITMAP, 4, {0, bytes(png)}), Pair(1, "NullPointerException: NULL pointer"));
    EXPECT_EQ(pixels(target), image);  // unchanged by the failures

    // Encoding: png round-trips exactly, the other formats by their magic.
    Words png2 = call(BITMAP, 13, {target, 2});
    ASSERT_EQ(png2.size(), 1u);
    QImage back;
    std::string encodedPng = bytesOf(png2[0]);
    ASSERT_TRUE(decodeImage(reinterpret_cast<const uint8_t*>(encodedPng.data()), int64_t(encodedPng.size()), back));
    EXPECT_EQ(back.convertToFormat(QImage::Format_ARGB32), image);
    EXPECT_EQ(bytesOf(call(BITMAP, 13, {target, 1}).at(0)).substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(bytesOf(call(BITMAP, 13, {target, 3}).at(0)).substr(0, 6), "GIF89a");
    EXPECT_EQ(bytesOf(call(BITMAP, 13, {target, 4}).at(0)).substr(0, 2), "BM");
    for (Word format : {0, 5, 9, -1})
        EXPECT_EQ(bytesOf(call(BITMAP, 13, {target, format}).at(0)), "") << format;
    EXPECT_EQ(bytesOf(call(BITMAP, 13, {bitmap(0, 0, 0), 2}).at(0)), "");  // no pixels: no bytes
    // Encoding is bracketed by the host operation: false before, true after.
    ASSERT_EQ(host.operation32.size(), 18u);
    for (size_t i = 0; i < 18; ++i)
        EXPECT_EQ(host.operation32[i], i % 2 == 1) << i;
}

#endif  // MCB_HAVE_HOST
