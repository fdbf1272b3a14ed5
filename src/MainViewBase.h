// MainViewBase: the application window's widget side. It owns the back
// buffer the VM draws into and copies it to the screen, turned by -90 degrees
// when the view is rotated (the program asked for portrait, the window
// stayed landscape), and scaled by a whole factor when the window is larger
// than the picture (ScreenScaling.h).
//
// Invariants:
//  - the back buffer has the logical screen's size, 800 x 480 in landscape
//    (orientation 2) and 480 x 800 otherwise, whatever the window's size; it
//    is black until the first draw;
//  - no painter of the VM is open on the back buffer when it is copied to
//    the window or replaced.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include "FrameworkServices.h"
#include "ScreenScaling.h"

class MainViewBase : public QWidget, public vm::FrameworkServices {
    Q_OBJECT
public:
    MainViewBase();
    ~MainViewBase() override;

    // Operation 19: repaint of a rectangle of the logical screen.
    void repaint(int x, int y, int width, int height) override;

    // Rotated: portrait requested (mode 1) on a widget wider than tall.
    bool isRotated() const;
    // The logical screen of an orientation mode: 800 x 480 for mode 2, else
    // 480 x 800.
    static QSize logicalSizeFor(int aOrientation);
    QSize logicalSize() const { return logicalSizeFor(currentOrientation()); }
    // The logical screen as shown before scaling (transposed when rotated).
    QSize pictureSize() const;
    // Where the picture sits in the widget now.
    screen::Placement placement() const;
    const QPixmap& backBufferPixmap() const { return backBuffer; }

    // The scale asked for (screen::kScaleFit or 1..screen::kMaxScale); the
    // picture is shown at that scale or the largest that fits the widget.
    void setScaleRequest(int aScale);
    int scaleRequest() const { return requestedScale; }

    // A widget position to the coordinates the program receives.
    QPoint pointerPosition(QPoint aWidgetPoint) const;

    // Widget rectangle (x, y, w, h) to back-buffer coordinates when rotated:
    // (H - y - h, x, h, w), H the picture height.
    static QRect widgetToBuffer(const QRect& aRect, int aPictureHeight);
    // Logical rectangle (x, y, w, h) to picture coordinates when rotated:
    // (y, H - x - w, h, w).
    static QRect bufferToWidget(const QRect& aRect, int aPictureHeight);

    // The back-buffer region a paint of aWidgetRegion redraws.
    static QRegion bufferClip(const QRegion& aWidgetRegion, const screen::Placement& aPlacement, bool aRotated);

protected:
    void paintEvent(QPaintEvent* aEvent) override;
    void resizeEvent(QResizeEvent* aEvent) override;

    // The orientation mode the program asked for (2 landscape, 1 portrait).
    virtual int currentOrientation() const = 0;
    // Lets the VM draw into the back buffer, its painter clipped to aClip.
    virtual void drawBackBuffer(const QRegion& aClip) = 0;
    // Called after each paint has reached the window.
    virtual void painted() {}

    // Gives the back buffer the logical size (a new black pixmap when it
    // changes); closes painters left open on the old one.
    void ensureBackBuffer();

    QPixmap backBuffer;

private:
    int requestedScale = screen::kScaleFit;
};
