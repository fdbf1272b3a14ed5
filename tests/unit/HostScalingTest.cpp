// The picture in windows of any size: whole-factor scaling, centring, the
// pointer mapped back under scale and rotation; the desktop window's size,
// keys remapped, F11 and F12.
#ifdef MCB_HAVE_HOST

#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>

#include "HostTestSupport.h"
#include "ScreenScaling.h"

using namespace hosttest;
using screen::Placement;

namespace {

// Draws black with single pixels at the logical corners and the middle,
// logs pointer events as x and y and keys as their codes.
const std::string kDots = std::string(R"(
.module "dots"
.class App
.map plain
.map draw params 2 refs 0 1
.map key params 2 refs 0 1
.map pointer params 5 refs 0
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*application>.draw to<*canvas>" impl App draw map draw
.virtual "<*application>.key pressed<keyevent>" impl App pressed map key
.virtual "<*application>.pointer event<int>at x<int>y<int>modifiers<int>" impl App pointer map pointer
.code
done:
    ret 0, 1
main:
    new 1, 1
    dup
    setclass App
    native System 5
    ret 0, 1
draw:
    ldslot.s -2
    push 0xFF000000
    native Graphics 8
    ldslot.s -2
    push 0
    push 0
    push 1
    push 1
    push 0xFFFF0000
    native Graphics 4
    ldslot.s -2
    push 799
    push 479
    push 1
    push 1
    push 0xFF00FF00
    native Graphics 4
    ldslot.s -2
    push 400
    push 240
    push 2
    push 1
    push 0xFF0000FF
    native Graphics 4
    ret 0, 3
pressed:
    ldslot.s -2
    native KeyEvent 1
    itos
    native Debug 1
    ret 0, 3
pointer:
    ldslot.s -4
    itos
    native Debug 1
    ldslot.s -3
    itos
    native Debug 1
    ret 0, 6
)") + kExceptionMethods;

struct HostScaling : HostFixture {
    void capture() { testing::internal::CaptureStderr(); }
    std::string captured() { return testing::internal::GetCapturedStderr(); }
    void press(int aX, int aY)
    {
        QPointF p(aX, aY);
        QMouseEvent event(QEvent::MouseButtonPress, p, p, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &event);
    }
    void key(QEvent::Type aType, int aKey)
    {
        QKeyEvent event(aType, aKey, Qt::NoModifier, QString());
        QCoreApplication::sendEvent(view.get(), &event);
    }
};

}  // namespace

TEST(HostScreenScaling, TheLargestWholeScaleThatFits)
{
    const QSize landscape(800, 480), portrait(480, 800);
    EXPECT_EQ(screen::fitScale(landscape, QSize(800, 480)), 1);
    EXPECT_EQ(screen::fitScale(landscape, QSize(1599, 960)), 1);
    EXPECT_EQ(screen::fitScale(landscape, QSize(1600, 960)), 2);
    EXPECT_EQ(screen::fitScale(landscape, QSize(1700, 1000)), 2);
    EXPECT_EQ(screen::fitScale(landscape, QSize(3840, 2160)), 4);
    EXPECT_EQ(screen::fitScale(portrait, QSize(1920, 1080)), 1);
    EXPECT_EQ(screen::fitScale(portrait, QSize(1920, 1600)), 2);
    EXPECT_EQ(screen::fitScale(landscape, QSize(640, 480)), 1);  // too small: still 1
    EXPECT_EQ(screen::fitScale(landscape, QSize(100000, 100000)), 16);
}

TEST(HostScreenScaling, PlacementHonoursTheRequestWithinTheWidget)
{
    const QSize landscape(800, 480);
    for (int k = 1; k <= 4; ++k) {
        Placement exact = screen::place(landscape, landscape * k, k);
        EXPECT_EQ(exact.scale, k);
        EXPECT_EQ(exact.offset, QPoint(0, 0));
        EXPECT_EQ(screen::place(landscape, landscape * k, screen::kScaleFit).scale, k);
    }
    Placement reduced = screen::place(landscape, QSize(1600, 960), 3);
    EXPECT_EQ(reduced.scale, 2);
    Placement centred = screen::place(landscape, QSize(1700, 1000), screen::kScaleFit);
    EXPECT_EQ(centred.scale, 2);
    EXPECT_EQ(centred.offset, QPoint(50, 20));
    Placement small = screen::place(landscape, QSize(1700, 1000), 1);
    EXPECT_EQ(small.offset, QPoint(450, 260));
    // A window smaller than the picture shows its top-left part.
    Placement cropped = screen::place(landscape, QSize(640, 400), screen::kScaleFit);
    EXPECT_EQ(cropped.scale, 1);
    EXPECT_EQ(cropped.offset, QPoint(0, 0));
}

TEST(HostScreenScaling, PointsAndRectanglesMapBothWays)
{
    for (int k = 1; k <= 4; ++k) {
        Placement at{k, QPoint(10, 6), QSize(800, 480)};
        for (QPoint logical : {QPoint(0, 0), QPoint(799, 479), QPoint(123, 45)}) {
            QPoint widget = screen::pointToWidget(logical, at);
            EXPECT_EQ(widget, QPoint(10 + logical.x() * k, 6 + logical.y() * k));
            // Every widget pixel of the block maps to the same logical pixel.
            for (int dx = 0; dx < k; ++dx)
                for (int dy = 0; dy < k; ++dy)
                    EXPECT_EQ(screen::pointToPicture(widget + QPoint(dx, dy), at), logical) << k;
        }
        // Beyond the edges the mapping goes on (a drag out of the picture).
        EXPECT_EQ(screen::pointToPicture(QPoint(9, 5), at), QPoint(-1, -1));
        EXPECT_EQ(screen::pointToPicture(QPoint(10 - k, 6 - k - 1), at), QPoint(-1, -2));
        EXPECT_EQ(screen::toWidget(QRect(3, 4, 5, 6), at), QRect(10 + 3 * k, 6 + 4 * k, 5 * k, 6 * k));
        EXPECT_EQ(screen::toPicture(screen::toWidget(QRect(3, 4, 5, 6), at), at), QRect(3, 4, 5, 6));
    }
    Placement two{2, QPoint(50, 20), QSize(800, 480)};
    // Partly covered pixels count; the result stays inside the picture.
    EXPECT_EQ(screen::toPicture(QRect(51, 21, 2, 2), two), QRect(0, 0, 2, 2));
    EXPECT_EQ(screen::toPicture(QRect(0, 0, 1700, 1000), two), QRect(0, 0, 800, 480));
    EXPECT_EQ(screen::toPicture(QRect(0, 0, 50, 1000), two), QRect());
    EXPECT_EQ(screen::toPicture(QRect(), two), QRect());
}

TEST(HostScreenScaling, APaintRedrawsTheLogicalPixelsItCovers)
{
    Placement one{1, QPoint(0, 0), QSize(800, 480)};
    QRegion twoRects = QRegion(0, 0, 10, 10) + QRegion(100, 100, 5, 5);
    EXPECT_EQ(MainViewBase::bufferClip(twoRects, one, false), twoRects);
    Placement two{2, QPoint(50, 20), QSize(800, 480)};
    EXPECT_EQ(MainViewBase::bufferClip(QRegion(51, 21, 4, 3) + QRegion(1648, 978, 10, 10), two, false),
              QRegion(0, 0, 3, 2) + QRegion(799, 479, 1, 1));
    // Rotated: the picture is the landscape view of the 480 x 800 buffer.
    EXPECT_EQ(MainViewBase::bufferClip(QRegion(50, 20, 2, 2), two, true), QRegion(479, 0, 1, 1));
    EXPECT_EQ(MainViewBase::bufferClip(QRegion(0, 0, 1700, 1000), two, true), QRegion(0, 0, 480, 800));
}

TEST_F(HostScaling, EveryLogicalPixelBecomesABlockOfTheScale)
{
    ASSERT_EQ(start(kDots), host::KRunGoesOn);
    for (int k = 1; k <= 4; ++k) {
        view->resize(QSize(800, 480) * k);
        view->setScaleRequest(k);
        QImage image = grab();
        ASSERT_EQ(image.size(), QSize(800, 480) * k);
        EXPECT_EQ(view->backBufferPixmap().size(), QSize(800, 480));
        for (int dx = 0; dx < k; ++dx) {
            for (int dy = 0; dy < k; ++dy) {
                EXPECT_EQ(pixel(image, dx, dy), 0xFFFF0000u) << k;
                EXPECT_EQ(pixel(image, 799 * k + dx, 479 * k + dy), 0xFF00FF00u) << k;
                EXPECT_EQ(pixel(image, 400 * k + dx, 240 * k + dy), 0xFF0000FFu) << k;
                EXPECT_EQ(pixel(image, 401 * k + dx, 240 * k + dy), 0xFF0000FFu) << k;
            }
        }
        EXPECT_EQ(pixel(image, k, k), 0xFF000000u);
        EXPECT_EQ(pixel(image, 402 * k, 240 * k), 0xFF000000u);
        EXPECT_EQ(pixel(image, 400 * k, 241 * k), 0xFF000000u);
        EXPECT_EQ(pixel(image, 799 * k - 1, 479 * k), 0xFF000000u);
    }
}

TEST_F(HostScaling, ALargerWindowCentresThePictureOnBlack)
{
    ASSERT_EQ(start(kDots), host::KRunGoesOn);
    view->resize(1700, 1000);
    view->setScaleRequest(screen::kScaleFit);
    QImage image = grab();
    EXPECT_EQ(pixel(image, 50, 20), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 51, 21), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 52, 22), 0xFF000000u);
    EXPECT_EQ(pixel(image, 50 + 1598, 20 + 958), 0xFF00FF00u);
    EXPECT_EQ(pixel(image, 50 + 1599, 20 + 959), 0xFF00FF00u);
    EXPECT_EQ(pixel(image, 1699, 999), 0xFF000000u);  // border
    EXPECT_EQ(pixel(image, 49, 19), 0xFF000000u);
    capture();
    press(50, 20);
    press(1649, 979);
    press(851, 500);
    press(49, 19);  // on the border: beyond the picture's edge
    EXPECT_EQ(captured(), "LOG: 0\nLOG: 0\nLOG: 799\nLOG: 479\nLOG: 400\nLOG: 240\nLOG: -1\nLOG: -1\n");
}

TEST_F(HostScaling, ThePointerIsMappedBackUnderScaleAndRotation)
{
    ASSERT_EQ(start(kDots), host::KRunGoesOn);
    view->resize(1600, 960);
    view->setScaleRequest(2);
    capture();
    press(0, 0);
    press(1, 1);
    press(601, 203);
    press(1599, 959);
    EXPECT_EQ(captured(), "LOG: 0\nLOG: 0\nLOG: 0\nLOG: 0\nLOG: 300\nLOG: 101\nLOG: 799\nLOG: 479\n");

    // Portrait on the landscape window: the picture turns; the pointer
    // reports the coordinates of the unscaled landscape window, as the
    // device does.
    view->setOrientation(1);
    ASSERT_TRUE(view->isRotated());
    EXPECT_EQ(view->pictureSize(), QSize(800, 480));
    QImage image = grab();
    EXPECT_EQ(view->backBufferPixmap().size(), QSize(480, 800));
    // Logical (x, y) appears at picture (y, 479 - x), each pixel 2 x 2.
    EXPECT_EQ(pixel(image, 0, 958), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 1, 959), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 2, 958), 0xFF000000u);
    capture();
    press(601, 203);
    press(3, 957);
    EXPECT_EQ(captured(), "LOG: 300\nLOG: 101\nLOG: 1\nLOG: 478\n");
}

TEST_F(HostScaling, RepaintsCoverTheScaledRectangle)
{
    ASSERT_EQ(start(kDots), host::KRunGoesOn);
    view->resize(1600, 960);
    view->setScaleRequest(2);
    grab();
    // A logical repaint of the bottom-right pixel reaches the widget's
    // bottom-right 2 x 2 block: the next paint event's region.
    struct RegionSpy : QObject {
        QRegion region;
        bool eventFilter(QObject*, QEvent* aEvent) override
        {
            if (aEvent->type() == QEvent::Paint)
                region += static_cast<QPaintEvent*>(aEvent)->region();
            return false;
        }
    } spy;
    view->installEventFilter(&spy);
    view->show();
    processEventsFor(50);
    spy.region = QRegion();
    view->repaint(799, 479, 1, 1);
    processEventsFor(50);
    view->removeEventFilter(&spy);
    EXPECT_EQ(spy.region.boundingRect(), QRect(1598, 958, 2, 2));
}

TEST_F(HostScaling, ADesktopWindowHasTheScaledLogicalSizeAndTurnsWithTheProgram)
{
    view->useWindow(std::nullopt, 2);
    EXPECT_TRUE(view->isWindowed());
    EXPECT_EQ(view->size(), QSize(1600, 960));
    EXPECT_EQ(view->windowSizeFor(1), QSize(960, 1600));
    view->useWindow(std::nullopt, 3);
    EXPECT_EQ(view->size(), QSize(2400, 1440));
    // "fit": the largest scale for the screen (800 x 480 in the tests).
    ASSERT_EQ(view->screen()->availableGeometry().size(), QSize(800, 480));
    view->useWindow(std::nullopt, screen::kScaleFit);
    EXPECT_EQ(view->size(), QSize(800, 480));

    view->useWindow(QPoint(30, 40), 1);
    EXPECT_EQ(view->size(), QSize(800, 480));
    EXPECT_EQ(view->pos(), QPoint(30, 40));
    ASSERT_EQ(start(kDots), host::KRunGoesOn);
    view->setOrientation(1);
    EXPECT_EQ(view->size(), QSize(480, 800));
    EXPECT_FALSE(view->isRotated());
    view->setOrientation(2);
    EXPECT_EQ(view->size(), QSize(800, 480));
}

TEST_F(HostScaling, TheKeymapDecidesTheCodesAndF11F12StayWithTheWindow)
{
    KeyMap keys;
    ASSERT_FALSE(keys.parse("W = Up\nF12 = 0x41\n", "keys"));
    view->setKeyMap(keys);
    ASSERT_EQ(start(kDots), host::KRunGoesOn);
    capture();
    key(QEvent::KeyPress, Qt::Key_W);
    key(QEvent::KeyPress, Qt::Key_Up);
    key(QEvent::KeyPress, Qt::Key_F12);  // remapped: the program's
    key(QEvent::KeyPress, Qt::Key_F11);  // the window's
    key(QEvent::KeyRelease, Qt::Key_F11);
    key(QEvent::KeyPress, Qt::Key_F10);
    EXPECT_EQ(captured(), "LOG: 16777221\nLOG: 16777221\nLOG: 65\nLOG: 16777216\n");
    EXPECT_TRUE(view->isFullScreen());
    key(QEvent::KeyPress, Qt::Key_F11);
    EXPECT_FALSE(view->isFullScreen());
}

TEST_F(HostScaling, F12SavesTheLogicalScreenInTheApplicationDirectory)
{
    ASSERT_EQ(start(kDots), host::KRunGoesOn);
    view->resize(1600, 960);
    view->setScaleRequest(2);
    grab();
    capture();
    key(QEvent::KeyPress, Qt::Key_F12);
    key(QEvent::KeyRelease, Qt::Key_F12);
    std::string said = captured();
    QStringList shots = QDir(dir.path()).entryList({"screenshot-*.png"}, QDir::Files);
    ASSERT_EQ(shots.size(), 1) << said;
    EXPECT_TRUE(QRegularExpression("^screenshot-\\d{8}-\\d{6}-\\d{3}\\.png$").match(shots[0]).hasMatch())
        << shots[0].toStdString();
    EXPECT_EQ(said, "mcbrun: screenshot saved as " + path(shots[0].toUtf8().constData()).toStdString() + "\n");
    QImage shot(path(shots[0].toUtf8().constData()));
    ASSERT_EQ(shot.size(), QSize(800, 480));
    EXPECT_EQ(pixel(shot, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(pixel(shot, 799, 479), 0xFF00FF00u);
    EXPECT_EQ(pixel(shot, 1, 1), 0xFF000000u);
}

#endif  // MCB_HAVE_HOST
