// GraphicsContainer: a QPainter open on a paint device, living in a VM heap
// block (GC_CODE_NATIVE, handle in word 0). Every drawing primitive of the
// Graphics group ends here.
//
// Invariants:
//  - `device` is non-null exactly while the painter is active; end() and the
//    destructor close it, after which every primitive draws nothing.
//  - Coordinates that bytecode supplies are clamped (edges computed in 64
//    bits) before they reach Qt, so no value can overflow Qt's integer
//    geometry; the clamp lies far outside any device, so what is visible is
//    exactly what the unclamped figure would show.
//  - Every open container is registered by device, so the host can close the
//    painters left open on its back buffer (endPaintingOn) before it copies,
//    replaces or repaints that buffer.
#pragma once

#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QRegion>
#include <QString>
#include <memory>
#include <string_view>

#include "GCObject.h"
#include "Heap.h"
#include "Types.h"

namespace vm {

class KelvarFont;

class GraphicsContainer : public GCObject {
public:
    // Payload bytes of a container block (the handle word).
    static constexpr uint32_t kBlockSize = 4;
    // Pixel size of the painter's font.
    static constexpr int kFontPixelSize = 40;
    // Extent of clear(): the rectangle (0, 0, kClearExtent, kClearExtent).
    static constexpr int kClearExtent = 32768;
    // Coordinates are clamped to +-kCoordinateLimit.
    static constexpr int64_t kCoordinateLimit = 1 << 22;

    // Paints the device (the screen's back buffer) from now on.
    explicit GraphicsContainer(QPaintDevice* aDevice);
    // Paints a bitmap's pixmap, sharing it. A pixmap below 1 x 1 (or none)
    // raises code 10 "GraphicsContainer: invalid bitmap".
    explicit GraphicsContainer(std::shared_ptr<QPixmap> aPixmap);
    ~GraphicsContainer() override;
    GraphicsContainer(const GraphicsContainer&) = delete;
    GraphicsContainer& operator=(const GraphicsContainer&) = delete;

    // Ends painting: the painter is closed, the device and pixmap dropped.
    void end();
    bool isActive() const { return device != nullptr; }
    QPaintDevice* paintDevice() const { return device; }
    QPainter& qpainter() { return painter; }

    void setClip(const QRegion& aRegion);

    // Primitives; colours are 0xAARRGGBB. Nothing is drawn once ended.
    void clear(TUint32 aColour);
    void fillRect(TInt32 aX, TInt32 aY, TInt32 aWidth, TInt32 aHeight, TUint32 aColour);
    void drawLine(TInt32 aX1, TInt32 aY1, TInt32 aX2, TInt32 aY2, TUint32 aColour);

    // Bitmaps. An alpha other than 255 draws with opacity alpha / 255. A
    // pixmap is never drawn into itself (nothing is drawn).
    // The whole pixmap with its top-left at (x, y).
    void drawBitmap(const QPixmap& aPixmap, TInt32 aX, TInt32 aY, TInt32 aAlpha);
    // The part of the source rectangle inside the pixmap, each source pixel
    // (sx + i, sy + j) landing on (x + i, y + j).
    void drawBitmapPart(const QPixmap& aPixmap, TInt32 aX, TInt32 aY, TInt32 aSourceX, TInt32 aSourceY,
                        TInt32 aSourceWidth, TInt32 aSourceHeight, TInt32 aAlpha);
    // The rectangle filled with the pixmap repeated, the tiles shifted by the
    // offset: pixmap pixel (0, 0) lands on (x + offsetX, y + offsetY) and
    // every whole pixmap size from there. No opacity.
    void tileBitmap(TInt32 aX, TInt32 aY, TInt32 aWidth, TInt32 aHeight, const QPixmap& aPixmap, TInt32 aOffsetX,
                    TInt32 aOffsetY);
    // The pixmap centred on (x, y), turned by aAngle radians (positive turns
    // counter-clockwise on screen; degrees are angle * 180 / 3.141) and
    // scaled. Scales are clamped so that no side grows past the coordinate
    // limit.
    void drawBitmapTransformed(const QPixmap& aPixmap, TInt32 aX, TInt32 aY, double aAngle, double aScaleX,
                               double aScaleY, TInt32 aAlpha);

    // Text in the painter's font (pixel size 40), top-left aligned at (x, y).
    void drawText(const QString& aText, TInt32 aX, TInt32 aY, TUint32 aColour);
    // Text in a bitmap font: each character's glyph strip at x, x advancing
    // by the glyph's width; characters without a glyph are skipped. The
    // glyphs are tinted to the colour; its alpha is the opacity.
    void drawGlyphs(KelvarFont& aFont, std::u16string_view aText, TInt32 aX, TInt32 aY, TUint32 aColour);

    // Closes every container still painting aDevice.
    static void endPaintingOn(const QPaintDevice* aDevice);
    // Number of containers painting aDevice.
    static int openOn(const QPaintDevice* aDevice);

private:
    void begin();

    QPaintDevice* device = nullptr;
    QPainter painter;
    std::shared_ptr<QPixmap> pixmapRef;
};

// The rectangle with edges x, x + width, y, y + height computed without
// overflow and clamped to +-GraphicsContainer::kCoordinateLimit.
QRect clampedRect(int64_t aX, int64_t aY, int64_t aWidth, int64_t aHeight);

// A new heap block owning a container on aDevice; returns the block.
Addr newGraphicsContainer(VMHeap& aHeap, QPaintDevice* aDevice);

}  // namespace vm
