// MainViewBase: the application window's widget side. It owns the back
// buffer the VM draws into and copies it to the screen, turned by -90 degrees
// when the view is rotated (the program asked for portrait, the window
// stayed landscape).
//
// Invariants:
//  - the back buffer has the logical screen's size: the widget's size,
//    transposed when rotated; it is black until the first draw;
//  - no painter of the VM is open on the back buffer when it is copied to
//    the window or replaced.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include "FrameworkServices.h"

class MainViewBase : public QWidget, public vm::FrameworkServices {
    Q_OBJECT
public:
    MainViewBase();
    ~MainViewBase() override;

    // Operation 19: repaint of a rectangle of the logical screen.
    void repaint(int x, int y, int width, int height) override;

    // Rotated: portrait requested (mode 1) on a widget wider than tall.
    bool isRotated() const;
    // The logical screen: the widget's size, transposed when rotated.
    QSize logicalSize() const;
    const QPixmap& backBufferPixmap() const { return backBuffer; }

    // Widget rectangle (x, y, w, h) to back-buffer coordinates when rotated:
    // (H - y - h, x, h, w), H the widget height.
    static QRect widgetToBuffer(const QRect& aRect, int aWidgetHeight);
    // Logical rectangle (x, y, w, h) to widget coordinates when rotated:
    // (y, H - x - w, h, w).
    static QRect bufferToWidget(const QRect& aRect, int aWidgetHeight);

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
};
