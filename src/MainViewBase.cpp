#include "MainViewBase.h"

#include <QPaintEvent>
#include <QPainter>

#include "GraphicsContainer.h"

MainViewBase::MainViewBase() : QWidget(nullptr) {}

MainViewBase::~MainViewBase()
{
    vm::GraphicsContainer::endPaintingOn(&backBuffer);
}

bool MainViewBase::isRotated() const
{
    return currentOrientation() == 1 && width() > height();
}

QSize MainViewBase::logicalSizeFor(int aOrientation)
{
    return aOrientation == 2 ? QSize(800, 480) : QSize(480, 800);
}

QSize MainViewBase::pictureSize() const
{
    QSize logical = logicalSize();
    return isRotated() ? logical.transposed() : logical;
}

screen::Placement MainViewBase::placement() const
{
    return screen::place(pictureSize(), size(), requestedScale);
}

void MainViewBase::setScaleRequest(int aScale)
{
    requestedScale = aScale;
    update();
}

QPoint MainViewBase::pointerPosition(QPoint aWidgetPoint) const
{
    return screen::pointToPicture(aWidgetPoint, placement());
}

QRect MainViewBase::widgetToBuffer(const QRect& aRect, int aPictureHeight)
{
    return vm::clampedRect(int64_t(aPictureHeight) - aRect.y() - aRect.height(), aRect.x(), aRect.height(),
                           aRect.width());
}

QRect MainViewBase::bufferToWidget(const QRect& aRect, int aPictureHeight)
{
    return vm::clampedRect(aRect.y(), int64_t(aPictureHeight) - aRect.x() - aRect.width(), aRect.height(),
                           aRect.width());
}

void MainViewBase::repaint(int x, int y, int width, int height)
{
    QRect rect = vm::clampedRect(x, y, width, height);
    if (isRotated())
        rect = bufferToWidget(rect, pictureSize().height());
    update(screen::toWidget(rect, placement()));
}

void MainViewBase::ensureBackBuffer()
{
    QSize wanted = logicalSize();
    if (backBuffer.size() == wanted && !backBuffer.isNull())
        return;
    vm::GraphicsContainer::endPaintingOn(&backBuffer);
    backBuffer = QPixmap(wanted);
    if (!backBuffer.isNull())
        backBuffer.fill(Qt::black);
}

void MainViewBase::resizeEvent(QResizeEvent* aEvent)
{
    (void)aEvent;
    ensureBackBuffer();
}

QRegion MainViewBase::bufferClip(const QRegion& aWidgetRegion, const screen::Placement& aPlacement, bool aRotated)
{
    QRegion clip;
    for (const QRect& rect : aWidgetRegion)
        clip += screen::toPicture(rect, aPlacement);
    if (aRotated)
        clip = QRegion(widgetToBuffer(clip.boundingRect(), aPlacement.picture.height()));
    return clip;
}

void MainViewBase::paintEvent(QPaintEvent* aEvent)
{
    ensureBackBuffer();
    bool rotated = isRotated();
    screen::Placement where = placement();
    const QRegion& region = aEvent->region();
    drawBackBuffer(bufferClip(region, where, rotated));
    // A program may keep its draw graphics object: its painting ends with
    // the draw event.
    vm::GraphicsContainer::endPaintingOn(&backBuffer);

    QPainter painter(this);
    painter.setClipRegion(region);
    QRect shown = screen::toWidget(QRect(QPoint(0, 0), where.picture), where);
    QRegion border = region - shown;
    for (const QRect& rect : border)
        painter.fillRect(rect, Qt::black);
    // Whole factors without smoothing: every pixel becomes a square block.
    painter.translate(where.offset);
    painter.scale(where.scale, where.scale);
    if (rotated) {
        painter.translate(0, where.picture.height());
        painter.rotate(-90);
    }
    painter.drawPixmap(0, 0, backBuffer);
    painter.end();
    painted();
}
