#include "BitmapContainer.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <cstring>
#include <utility>

#include "GifWriter.h"
#include "VMError.h"

namespace vm {

namespace {

// Megabytes an image reader may allocate: the bitmap budget.
constexpr int kReaderAllocationLimitMb = int(BitmapContainer::kMaxPixels * 4 / (1024 * 1024));

// False for PNG data with a chunk longer than the bytes that follow it: the
// PNG reader would allocate the chunk's declared length before it finds out.
bool pngChunksFit(const uint8_t* aBytes, int64_t aCount)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (aCount < 8 || std::memcmp(aBytes, kSignature, 8) != 0)
        return true;
    for (int64_t p = 8; p + 8 <= aCount;) {
        uint32_t length = uint32_t(aBytes[p]) << 24 | uint32_t(aBytes[p + 1]) << 16 | uint32_t(aBytes[p + 2]) << 8 |
                          aBytes[p + 3];
        if (int64_t(length) + 12 > aCount - p)
            return false;
        if (std::memcmp(aBytes + p + 4, "IEND", 4) == 0)
            return true;
        p += int64_t(length) + 12;
    }
    return true;
}

}  // namespace

bool BitmapContainer::sizeAllowed(int64_t aWidth, int64_t aHeight)
{
    return aWidth >= 0 && aHeight >= 0 && aWidth <= kMaxSide && aHeight <= kMaxSide &&
           aWidth * aHeight <= kMaxPixels;
}

BitmapContainer::BitmapContainer(int aWidth, int aHeight) : pixmap(std::make_shared<QPixmap>(aWidth, aHeight)) {}

BitmapContainer::BitmapContainer(QPixmap aPixmap) : pixmap(std::make_shared<QPixmap>(std::move(aPixmap))) {}

std::unique_ptr<BitmapContainer> BitmapContainer::copyOf(BitmapContainer& aOther)
{
    if (aOther.hasCache())
        return std::make_unique<BitmapContainer>(QPixmap::fromImage(aOther.pixelCache));
    // QPixmap shares its data on copy: a deep copy keeps painting on either
    // bitmap from reaching the other.
    return std::make_unique<BitmapContainer>(aOther.pixmap->copy());
}

QImage& BitmapContainer::cache()
{
    if (pixelCache.isNull())
        pixelCache = pixmap->toImage().convertToFormat(QImage::Format_ARGB32);
    return pixelCache;
}

QImage BitmapContainer::newestImage() const
{
    return hasCache() ? pixelCache : pixmap->toImage();
}

void BitmapContainer::replacePixmap(QPixmap aPixmap)
{
    pixmap = std::make_shared<QPixmap>(std::move(aPixmap));
    pixelCache = QImage();
}

const std::shared_ptr<QPixmap>& BitmapContainer::pixmapForPainting()
{
    if (hasCache())
        replacePixmap(QPixmap::fromImage(std::move(pixelCache)));
    return pixmap;
}

void BitmapContainer::encode(QByteArray& aBytes, const char* aFormat)
{
    QImage image = newestImage();
    if (image.isNull())
        return;
    if (std::strcmp(aFormat, "gif") == 0) {
        aBytes.append(encodeGif(image));
        return;
    }
    if (*aFormat == 0)
        return;
    QBuffer buffer(&aBytes);
    buffer.open(QIODevice::Append);
    QImageWriter writer(&buffer, aFormat);
    writer.write(image);
}

void BitmapContainer::scaleFrom(VMBitmap& aSource, int aMode)
{
    auto* source = dynamic_cast<BitmapContainer*>(&aSource);
    if (!source || source->pixmap->isNull())
        return;
    QSize size = pixmap->size();
    Qt::TransformationMode mode = aMode == 10 ? Qt::SmoothTransformation : Qt::FastTransformation;
    if (source->hasCache())
        replacePixmap(QPixmap::fromImage(source->pixelCache.scaled(size, Qt::IgnoreAspectRatio, mode)));
    else
        replacePixmap(source->pixmap->scaled(size, Qt::IgnoreAspectRatio, mode));
}

void BitmapContainer::copyFrom(VMBitmap& aSource, const QRect& aRect)
{
    auto* source = dynamic_cast<BitmapContainer*>(&aSource);
    if (!source)
        return;
    if (source->hasCache())
        replacePixmap(QPixmap::fromImage(source->pixelCache.copy(aRect)));
    else
        replacePixmap(source->pixmap->copy(aRect));
}

void BitmapContainer::fill(TUint32 aColour)
{
    if (qAlpha(aColour) == 255) {
        pixmapForPainting()->fill(QColor::fromRgba(aColour));
        return;
    }
    // Every pixel is replaced: the cache need not be made from the pixmap.
    if (!hasCache())
        pixelCache = QImage(pixmap->size(), QImage::Format_ARGB32);
    pixelCache.fill(aColour);
}

TUint32 BitmapContainer::getPixel(int aX, int aY)
{
    return reinterpret_cast<const QRgb*>(std::as_const(cache()).constScanLine(aY))[aX];
}

void BitmapContainer::setPixel(int aX, int aY, TUint32 aColour)
{
    reinterpret_cast<QRgb*>(cache().scanLine(aY))[aX] = aColour;
}

void requireGraphics()
{
    static bool present = false;  // an application, once made, stays
    if (!present) [[unlikely]] {
        present = qGuiApp != nullptr;
        if (!present)
            raiseVmError(KErrUnsupported, "Graphics are not available");
    }
}

bool decodeImage(const uint8_t* aBytes, int64_t aCount, QImage& aImage)
{
    if (aCount <= 0 || !pngChunksFit(aBytes, aCount))
        return false;
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(aBytes), qsizetype(aCount));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader::setAllocationLimit(kReaderAllocationLimitMb);
    QImageReader reader(&buffer);
    QSize declared = reader.size();
    if (declared.isValid() && !BitmapContainer::sizeAllowed(declared.width(), declared.height()))
        return false;
    QImage image;
    if (!reader.read(&image) || image.isNull() || !BitmapContainer::sizeAllowed(image.width(), image.height()))
        return false;
    aImage = std::move(image);
    return true;
}

}  // namespace vm
