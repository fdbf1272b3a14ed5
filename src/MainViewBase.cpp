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

QSize MainViewBase::logicalSize() const
{
    return isRotated() ? QSize(height(), width()) : size();
}

QRect MainViewBase::widgetToBuffer(const QRect& aRect, int aWidgetHeight)
{
    return vm::clampedRect(int64_t(aWidgetHeight) - aRect.y() - aRect.height(), aRect.x(), aRect.height(),
                           aRect.width());
}

QRect MainViewBase::bufferToWidget(const QRect& aRect, int aWidgetHeight)
{
    return vm::clampedRect(aRect.y(), int64_t(aWidgetHeight) - aRect.x() - aRect.width(), aRect.height(),
                           aRect.width());
}

void MainViewBase::repaint(int x, int y, int width, int height)
{
    QRect rect = vm::clampedRect(x, y, width, height);
    if (isRotated())
        rect = bufferToWidget(rect, this->height());
    update(rect);
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

void MainViewBase::paintEvent(QPaintEvent* aEvent)
{
    ensureBackBuffer();
    bool rotated = isRotated();
    const QRegion& region = aEvent->region();
    drawBackBuffer(rotated ? QRegion(widgetToBuffer(region.boundingRect(), height())) : region);
    // A program may keep its draw graphics object: its painting ends with
    // the draw event.
    vm::GraphicsContainer::endPaintingOn(&backBuffer);

    QPainter painter(this);
    painter.setClipRegion(region);
    if (rotated) {
        painter.translate(0, height());
        painter.rotate(-90);
    }
    painter.drawPixmap(0, 0, backBuffer);
    painter.end();
    painted();
}
