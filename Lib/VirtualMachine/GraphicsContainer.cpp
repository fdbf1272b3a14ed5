#include "GraphicsContainer.h"

#include <QFont>
#include <QLineF>
#include <QPen>
#include <QTransform>
#include <algorithm>
#include <vector>

#include "KelvarFont.h"
#include "VMError.h"

namespace vm {

namespace {

// Containers with an active painter. GUI thread only.
std::vector<GraphicsContainer*>& openContainers()
{
    static std::vector<GraphicsContainer*> containers;
    return containers;
}

int64_t clampCoordinate(int64_t aValue)
{
    return std::clamp<int64_t>(aValue, -GraphicsContainer::kCoordinateLimit, GraphicsContainer::kCoordinateLimit);
}

QColor colourOf(TUint32 aColour)
{
    return QColor::fromRgba(QRgb(aColour));
}

// Liang-Barsky: clips the segment to the square +-limit; false when nothing
// of it lies inside.
bool clipSegment(double& x1, double& y1, double& x2, double& y2, double limit)
{
    double t0 = 0, t1 = 1;
    double dx = x2 - x1, dy = y2 - y1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 + limit, limit - x1, y1 + limit, limit - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    double ox = x1, oy = y1;
    x1 = ox + t0 * dx;
    y1 = oy + t0 * dy;
    x2 = ox + t1 * dx;
    y2 = oy + t1 * dy;
    return true;
}

// Opacity alpha / 255 for the scope when alpha is not 255; the painter's
// state is saved and restored around it.
class OpacityScope {
public:
    OpacityScope(QPainter& aPainter, TInt32 aAlpha) : painter(aPainter), active(aAlpha != 255)
    {
        if (active) {
            painter.save();
            painter.setOpacity(aAlpha / 255.0);
        }
    }
    ~OpacityScope()
    {
        if (active)
            painter.restore();
    }
    OpacityScope(const OpacityScope&) = delete;
    OpacityScope& operator=(const OpacityScope&) = delete;

private:
    QPainter& painter;
    bool active;
};

// a mod b for b > 0, in [0, b).
int64_t floorMod(int64_t a, int64_t b)
{
    int64_t r = a % b;
    return r < 0 ? r + b : r;
}

}  // namespace

QRect clampedRect(int64_t aX, int64_t aY, int64_t aWidth, int64_t aHeight)
{
    int64_t left = clampCoordinate(aX);
    int64_t top = clampCoordinate(aY);
    int64_t right = clampCoordinate(aX + aWidth);
    int64_t bottom = clampCoordinate(aY + aHeight);
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
}

GraphicsContainer::GraphicsContainer(QPaintDevice* aDevice)
{
    KELVAR_ASSERT(aDevice != nullptr);
    device = aDevice;
    begin();
}

GraphicsContainer::GraphicsContainer(std::shared_ptr<QPixmap> aPixmap)
{
    if (!aPixmap || aPixmap->width() < 1 || aPixmap->height() < 1)
        raiseVmError(KErrVm, "GraphicsContainer: invalid bitmap");
    pixmapRef = std::move(aPixmap);
    device = pixmapRef.get();
    begin();
}

void GraphicsContainer::begin()
{
    painter.begin(device);
    if (!painter.isActive()) {
        // The device refused a painter (a null pixmap): nothing will be drawn.
        device = nullptr;
        pixmapRef.reset();
        return;
    }
    QFont font = painter.font();
    font.setPixelSize(kFontPixelSize);
    painter.setFont(font);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    openContainers().push_back(this);
}

GraphicsContainer::~GraphicsContainer()
{
    end();
}

void GraphicsContainer::end()
{
    if (!device)
        return;
    painter.end();
    device = nullptr;
    pixmapRef.reset();
    auto& open = openContainers();
    open.erase(std::remove(open.begin(), open.end(), this), open.end());
}

void GraphicsContainer::endPaintingOn(const QPaintDevice* aDevice)
{
    // end() edits the registry: collect first.
    std::vector<GraphicsContainer*> matching;
    for (GraphicsContainer* c : openContainers())
        if (c->device == aDevice)
            matching.push_back(c);
    for (GraphicsContainer* c : matching)
        c->end();
}

int GraphicsContainer::openOn(const QPaintDevice* aDevice)
{
    auto& open = openContainers();
    return int(std::count_if(open.begin(), open.end(), [&](GraphicsContainer* c) { return c->device == aDevice; }));
}

void GraphicsContainer::setClip(const QRegion& aRegion)
{
    if (device)
        painter.setClipRegion(aRegion);
}

void GraphicsContainer::clear(TUint32 aColour)
{
    if (device)
        painter.fillRect(QRect(0, 0, kClearExtent, kClearExtent), colourOf(aColour));
}

void GraphicsContainer::fillRect(TInt32 aX, TInt32 aY, TInt32 aWidth, TInt32 aHeight, TUint32 aColour)
{
    if (device)
        painter.fillRect(clampedRect(aX, aY, aWidth, aHeight), colourOf(aColour));
}

void GraphicsContainer::drawLine(TInt32 aX1, TInt32 aY1, TInt32 aX2, TInt32 aY2, TUint32 aColour)
{
    if (!device)
        return;
    painter.setPen(QPen(colourOf(aColour), 0));
    const int64_t limit = kCoordinateLimit;
    auto inside = [&](int64_t v) { return v >= -limit && v <= limit; };
    if (inside(aX1) && inside(aY1) && inside(aX2) && inside(aY2)) {
        painter.drawLine(aX1, aY1, aX2, aY2);
        return;
    }
    // Far outside every device: only the part within the limit can show.
    double x1 = aX1, y1 = aY1, x2 = aX2, y2 = aY2;
    if (clipSegment(x1, y1, x2, y2, double(limit)))
        painter.drawLine(QLineF(x1, y1, x2, y2));
}

void GraphicsContainer::drawBitmap(const QPixmap& aPixmap, TInt32 aX, TInt32 aY, TInt32 aAlpha)
{
    if (!device || &aPixmap == device)
        return;
    OpacityScope opacity(painter, aAlpha);
    painter.drawPixmap(int(clampCoordinate(aX)), int(clampCoordinate(aY)), aPixmap);
}

void GraphicsContainer::drawBitmapPart(const QPixmap& aPixmap, TInt32 aX, TInt32 aY, TInt32 aSourceX, TInt32 aSourceY,
                                       TInt32 aSourceWidth, TInt32 aSourceHeight, TInt32 aAlpha)
{
    if (!device || &aPixmap == device)
        return;
    // The source rectangle cut to the pixmap; the target moves with its
    // top-left edge.
    int64_t left = std::max<int64_t>(aSourceX, 0), top = std::max<int64_t>(aSourceY, 0);
    int64_t right = std::min<int64_t>(int64_t(aSourceX) + aSourceWidth, aPixmap.width());
    int64_t bottom = std::min<int64_t>(int64_t(aSourceY) + aSourceHeight, aPixmap.height());
    if (right <= left || bottom <= top)
        return;
    int64_t x = clampCoordinate(int64_t(aX) + (left - aSourceX));
    int64_t y = clampCoordinate(int64_t(aY) + (top - aSourceY));
    OpacityScope opacity(painter, aAlpha);
    painter.drawPixmap(int(x), int(y), aPixmap, int(left), int(top), int(right - left), int(bottom - top));
}

void GraphicsContainer::tileBitmap(TInt32 aX, TInt32 aY, TInt32 aWidth, TInt32 aHeight, const QPixmap& aPixmap,
                                   TInt32 aOffsetX, TInt32 aOffsetY)
{
    if (!device || &aPixmap == device || aPixmap.isNull() || aWidth <= 0 || aHeight <= 0)
        return;
    // Only the part on the device is tiled; the tile grid stays where the
    // whole rectangle puts it.
    int64_t left = std::max<int64_t>(aX, 0), top = std::max<int64_t>(aY, 0);
    int64_t right = std::min<int64_t>(int64_t(aX) + aWidth, device->width());
    int64_t bottom = std::min<int64_t>(int64_t(aY) + aHeight, device->height());
    if (right <= left || bottom <= top)
        return;
    int64_t sourceX = floorMod(left - aX - int64_t(aOffsetX), aPixmap.width());
    int64_t sourceY = floorMod(top - aY - int64_t(aOffsetY), aPixmap.height());
    painter.drawTiledPixmap(QRect(int(left), int(top), int(right - left), int(bottom - top)), aPixmap,
                            QPoint(int(sourceX), int(sourceY)));
}

void GraphicsContainer::drawBitmapTransformed(const QPixmap& aPixmap, TInt32 aX, TInt32 aY, double aAngle,
                                              double aScaleX, double aScaleY, TInt32 aAlpha)
{
    if (!device || &aPixmap == device || aPixmap.isNull())
        return;
    double limit = double(kCoordinateLimit) / std::max(aPixmap.width(), aPixmap.height());
    double scaleX = std::clamp(aScaleX, -limit, limit), scaleY = std::clamp(aScaleY, -limit, limit);
    painter.save();
    if (aAlpha != 255)
        painter.setOpacity(aAlpha / 255.0);
    painter.translate(double(clampCoordinate(aX)), double(clampCoordinate(aY)));
    painter.rotate(-(aAngle * 180 / 3.141));
    painter.scale(scaleX, scaleY);
    painter.translate(-(aPixmap.width() / 2), -(aPixmap.height() / 2));
    painter.drawPixmap(0, 0, aPixmap);
    painter.restore();
}

void GraphicsContainer::drawText(const QString& aText, TInt32 aX, TInt32 aY, TUint32 aColour)
{
    if (!device)
        return;
    painter.setPen(colourOf(aColour));
    painter.drawText(QRect(int(clampCoordinate(aX)), int(clampCoordinate(aY)), kClearExtent, kClearExtent),
                     Qt::AlignLeft | Qt::AlignTop, aText);
}

void GraphicsContainer::drawGlyphs(KelvarFont& aFont, std::u16string_view aText, TInt32 aX, TInt32 aY,
                                   TUint32 aColour)
{
    if (!device)
        return;
    const QPixmap& glyphs = aFont.tint(aColour);
    const int height = aFont.getHeight();
    OpacityScope opacity(painter, TInt32(aColour >> 24));
    int64_t x = clampCoordinate(aX);
    const int y = int(clampCoordinate(aY));
    for (char16_t unit : aText) {
        KelvarFont::CharData glyph = aFont.glyph(unit);
        if (glyph.width == 0)
            continue;
        if (x > kCoordinateLimit)
            break;
        painter.drawPixmap(int(x), y, glyphs, glyph.offset, 0, glyph.width, height);
        x += glyph.width;
    }
}

Addr newGraphicsContainer(VMHeap& aHeap, QPaintDevice* aDevice)
{
    return aHeap.construct<GraphicsContainer>(GraphicsContainer::kBlockSize, GC_CODE_NATIVE, aDevice);
}

}  // namespace vm
