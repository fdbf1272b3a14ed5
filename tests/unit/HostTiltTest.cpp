// The simulated accelerometer of a desktop: the gravity model, the tilt keys
// and mouse button, and the window handing the reading to the extension.
#ifdef MCB_HAVE_HOST

#include <QKeyEvent>
#include <QMouseEvent>

#include "HostTestSupport.h"
#include "Tilt.h"
#include "VirtualMachineExtensions/Accelerometer/Accelerometer.h"

using namespace hosttest;

namespace {

QKeyEvent ctrlKey(int aKey, QEvent::Type aType = QEvent::KeyPress)
{
    return QKeyEvent(aType, aKey, Qt::ControlModifier, QString());
}

QMouseEvent mouse(QEvent::Type aType, Qt::MouseButton aButton, Qt::MouseButtons aButtons, QPoint aAt)
{
    return QMouseEvent(aType, QPointF(aAt), QPointF(aAt), aButton, aButtons, Qt::NoModifier);
}

}  // namespace

TEST(HostTilt, GravityInThousandthsAtARollAndPitch)
{
    EXPECT_EQ(Tilt::reading(0, 0), (TiltReading{0, 0, -1000}));
    EXPECT_EQ(Tilt::reading(30, 0), (TiltReading{500, 0, -866}));
    EXPECT_EQ(Tilt::reading(-30, 0), (TiltReading{-500, 0, -866}));
    EXPECT_EQ(Tilt::reading(0, 30), (TiltReading{0, 500, -866}));
    EXPECT_EQ(Tilt::reading(10, 10), (TiltReading{171, 174, -970}));
    EXPECT_EQ(Tilt::reading(90, 0), (TiltReading{1000, 0, 0}));
    EXPECT_EQ(Tilt::reading(120, -200), Tilt::reading(90, -90));  // clamped
}

TEST(HostTilt, CtrlArrowsTiltAndCtrlSpaceLaysFlat)
{
    ASSERT_TRUE(ensureApplication());  // input events belong to the application
    Tilt tilt;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(tilt.handleKey(ctrlKey(Qt::Key_Right)));
    EXPECT_TRUE(tilt.handleKey(ctrlKey(Qt::Key_Right, QEvent::KeyRelease)));  // taken, changes nothing
    EXPECT_EQ(tilt.roll(), 30);
    EXPECT_TRUE(tilt.handleKey(ctrlKey(Qt::Key_Down)));
    EXPECT_EQ(tilt.pitch(), -10);
    EXPECT_EQ(tilt.reading(), Tilt::reading(30, -10));
    for (int i = 0; i < 20; ++i)
        tilt.handleKey(ctrlKey(Qt::Key_Left));
    EXPECT_EQ(tilt.roll(), -90);
    EXPECT_TRUE(tilt.handleKey(ctrlKey(Qt::Key_Space)));
    EXPECT_EQ(tilt.reading(), (TiltReading{0, 0, -1000}));
    // Other keys, and arrows without Ctrl, are the program's.
    EXPECT_FALSE(tilt.handleKey(QKeyEvent(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString())));
    EXPECT_FALSE(tilt.handleKey(ctrlKey(Qt::Key_A)));
    EXPECT_EQ(tilt.roll(), 0);
}

TEST(HostTilt, TheRightButtonTiltsWhileHeld)
{
    ASSERT_TRUE(ensureApplication());  // input events belong to the application
    Tilt tilt;
    tilt.handleKey(ctrlKey(Qt::Key_Up));
    EXPECT_FALSE(tilt.handleMouse(mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {5, 5}), {5, 5}));
    EXPECT_FALSE(tilt.handleMouse(mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {9, 5}), {9, 5}));
    EXPECT_TRUE(tilt.handleMouse(mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, {100, 100}),
                                 {100, 100}));
    EXPECT_TRUE(tilt.handleMouse(mouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton, {140, 80}), {140, 80}));
    EXPECT_EQ(tilt.roll(), 10);
    EXPECT_EQ(tilt.pitch(), 15);  // 10 from the key, 5 from 20 pixels up
    EXPECT_TRUE(tilt.handleMouse(mouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton, {1000, 100}), {1000, 100}));
    EXPECT_EQ(tilt.roll(), 90);
    EXPECT_TRUE(
        tilt.handleMouse(mouse(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, {1000, 100}), {1000, 100}));
    EXPECT_EQ(tilt.roll(), 0);  // back to the keys' tilt
    EXPECT_EQ(tilt.pitch(), 10);
    EXPECT_FALSE(tilt.handleMouse(mouse(QEvent::MouseMove, Qt::NoButton, Qt::NoButton, {0, 0}), {0, 0}));
}

namespace {

// A key press stores the X axis in globals 0 and 1 and logs "read"; pointer
// events log "pointer".
const std::string kReader = std::string(R"(
.module "reader"
.globals 2
.class App
.map plain
.map key params 2 refs 0 1
.map pointer params 5 refs 0
.static "::global::init" done map plain
.static "main" main map plain
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
pressed:
    globals
    extcall 20, 11
    storen.s 2
    ldstr "read"
    native Debug 1
    ret 0, 3
pointer:
    ldstr "pointer"
    native Debug 1
    ret 0, 6
)") + kExceptionMethods;

struct HostTiltWindow : HostFixture {
    void send(QEvent& aEvent) { QCoreApplication::sendEvent(view.get(), &aEvent); }
    TInt64 xAxis()
    {
        vm::Addr globals = vm::Addr(machine().globals());
        TUint64 low = TUint32(machine().space().loadWord(globals));
        TUint64 high = TUint32(machine().space().loadWord(globals + 4));
        return TInt64(low | (high << 32));
    }
};

}  // namespace

TEST_F(HostTiltWindow, TheTiltReachesTheAccelerometerAndItsInputsStayAway)
{
    setenv("MCB_ACCELEROMETER_NODE", path("no-node").toUtf8().constData(), 1);
    view->useTiltControls();
    ASSERT_TRUE(view->tiltControls());
    ASSERT_EQ(start(kReader), host::KRunGoesOn);
    testing::internal::CaptureStderr();
    QKeyEvent plain(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, "r");
    send(plain);
    EXPECT_EQ(xAxis(), 0);  // flat
    for (int i = 0; i < 3; ++i) {
        QKeyEvent tiltRight = ctrlKey(Qt::Key_Right);
        send(tiltRight);
    }
    send(plain);
    // 0.5 g: 0.5 in 32.32 fixed point.
    EXPECT_EQ(xAxis(), TInt64(1) << 31);
    QMouseEvent press = mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, {10, 10});
    send(press);
    QMouseEvent left = mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton | Qt::RightButton, {10, 10});
    send(left);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LOG: read\nLOG: read\nLOG: pointer\n");
    view.reset();  // the window takes its simulation along
    unsetenv("MCB_ACCELEROMETER_NODE");
}

#endif  // MCB_HAVE_HOST
