// Bitmaps of the VM: VMBitmap, the abstract bitmap, and BitmapContainer, its
// implementation over two representations of the same pixels.
//
// A BitmapContainer lives in a heap block (GC_CODE_NATIVE, handle in word 0)
// that a kind-2 Drawable names. Its pixels are
//  - `pixmap`, shared with every painter open on the bitmap, used for all
//    painting and for drawing the bitmap elsewhere;
//  - `pixelCache`, an ARGB32 image (a pixel equals a VM colour), null when
//    not in use.
// Invariant: when pixelCache is not null it holds the newest pixels and
// pixmap is stale (of the same size). Pixel access makes the cache from the
// pixmap when there is none; painting use turns a cache back into a new
// pixmap and drops it. Each conversion happens only when the other side is
// next used.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <memory>

#include "GCObject.h"
#include "Types.h"

namespace vm {

class VMBitmap : public GCObject {
public:
    // Appends the image file bytes in the format ("jpg", "png", "gif",
    // "bmp"); an unknown format or a bitmap without pixels appends nothing.
    virtual void encode(QByteArray& aBytes, const char* aFormat) = 0;
    // Replaces the pixels by aSource scaled to this bitmap's size: smooth
    // for mode 10, nearest-neighbour otherwise.
    virtual void scaleFrom(VMBitmap& aSource, int aMode) = 0;
    // Replaces the pixels by the rectangle aRect of aSource (inside it).
    virtual void copyFrom(VMBitmap& aSource, const QRect& aRect) = 0;
    // Replaces every pixel by the colour (0xAARRGGBB), without blending.
    virtual void fill(TUint32 aColour) = 0;
    // Raw 0xAARRGGBB values; the position must lie inside the bitmap.
    virtual TUint32 getPixel(int aX, int aY) = 0;
    virtual void setPixel(int aX, int aY, TUint32 aColour) = 0;
    virtual QSize getSize() = 0;
};

class BitmapContainer final : public VMBitmap {
public:
    // Payload bytes of a bitmap block (the handle word).
    static constexpr uint32_t kBlockSize = 4;
    // Largest bitmap: each side at most kMaxSide, at most kMaxPixels pixels
    // (128 MiB of ARGB32), the same budget as the image readers get.
    static constexpr int kMaxSide = 32767;
    static constexpr int64_t kMaxPixels = int64_t(1) << 25;
    static bool sizeAllowed(int64_t aWidth, int64_t aHeight);

    // A bitmap of the size with undefined pixels (fill it).
    BitmapContainer(int aWidth, int aHeight);
    explicit BitmapContainer(QPixmap aPixmap);
    // A copy holding aOther's newest pixels, without a cache.
    static std::unique_ptr<BitmapContainer> copyOf(BitmapContainer& aOther);

    void encode(QByteArray& aBytes, const char* aFormat) override;
    void scaleFrom(VMBitmap& aSource, int aMode) override;
    void copyFrom(VMBitmap& aSource, const QRect& aRect) override;
    void fill(TUint32 aColour) override;
    TUint32 getPixel(int aX, int aY) override;
    void setPixel(int aX, int aY, TUint32 aColour) override;
    QSize getSize() override { return pixmap->size(); }

    // The pixmap to paint on or draw from, pending pixel changes applied
    // first. Shared: a painter keeps it alive.
    const std::shared_ptr<QPixmap>& pixmapForPainting();
    bool hasCache() const { return !pixelCache.isNull(); }

private:
    QImage& cache();
    // The newest pixels as an image (the cache, or the pixmap converted).
    QImage newestImage() const;
    void replacePixmap(QPixmap aPixmap);

    std::shared_ptr<QPixmap> pixmap;
    QImage pixelCache;
};

// Pixmaps and fonts exist only in a process with a QGuiApplication (Qt
// aborts otherwise): without one, raises code 13 "Graphics are not available".
void requireGraphics();

// Decodes image file bytes (format detected from the data) into aImage.
// Untrusted data: an image whose declared size exceeds the bitmap limits
// fails before any pixel is allocated, and the readers get an allocation
// limit. False when the data is not an image Qt can read.
bool decodeImage(const uint8_t* aBytes, int64_t aCount, QImage& aImage);

}  // namespace vm
