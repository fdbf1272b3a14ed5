#include "GraphicsContainer.h"

#include <QFont>
#include <QLineF>
#include <QPen>
#include <algorithm>
#include <vector>

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

Addr newGraphicsContainer(VMHeap& aHeap, QPaintDevice* aDevice)
{
    return aHeap.construct<GraphicsContainer>(GraphicsContainer::kBlockSize, GC_CODE_NATIVE, aDevice);
}

}  // namespace vm
