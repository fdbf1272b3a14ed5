// The window: key translation, rotation, input and visibility events
// reaching the program, how runs end, and start-up failures.
#ifdef MCB_HAVE_HOST

#include <QKeyEvent>
#include <QMouseEvent>
#include <stdexcept>

#include "GraphicsContainer.h"
#include "HostTestSupport.h"
#include "TestSupport.h"

using namespace hosttest;

namespace {

struct HostWindow : HostFixture {
    std::string logged;
    void capture() { testing::internal::CaptureStderr(); }
    std::string captured() { return testing::internal::GetCapturedStderr(); }
    void key(QEvent::Type aType, int aKey, const QString& aText, quint32 aScanCode = 0)
    {
        QKeyEvent event(aType, aKey, Qt::NoModifier, aScanCode, 0, 0, aText);
        QCoreApplication::sendEvent(view.get(), &event);
    }
    void mouse(QEvent::Type aType, int aX, int aY)
    {
        QPointF p(aX, aY);
        QMouseEvent event(aType, p, p, Qt::LeftButton, aType == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &event);
    }
};

const std::string kEvents = std::string(R"(
.module "events"
.globals 1
.class App
.map plain
.map key params 2 refs 0 1
.map pointer params 5 refs 0
.map event params 1 refs 0
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*application>.key pressed<keyevent>" impl App pressed map key
.virtual "<*application>.key released<keyevent>" impl App released map key
.virtual "<*application>.pointer event<int>at x<int>y<int>modifiers<int>" impl App pointer map pointer
.virtual "<*application>.foreground event" impl App fg map event
.virtual "<*application>.background event" impl App bg map event
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
    ldstr "pressed"
    native Debug 1
    ldslot.s -2
    native KeyEvent 1
    itos
    native Debug 1
    ldslot.s -2
    native KeyEvent 3
    itos
    native Debug 1
    ldslot.s -2
    native KeyEvent 4
    native Debug 1
    ret 0, 3
released:
    ldstr "released"
    native Debug 1
    ldslot.s -2
    native KeyEvent 1
    itos
    native Debug 1
    ret 0, 3
pointer:
    ldslot.s -5
    itos
    native Debug 1
    ldslot.s -4
    itos
    native Debug 1
    ldslot.s -3
    itos
    native Debug 1
    ret 0, 6
fg:
    ldstr "fg"
    native Debug 1
    ret 0, 2
bg:
    ldstr "bg"
    native Debug 1
    ret 0, 2
)") + kExceptionMethods;

}  // namespace

TEST(HostKeys, QtKeysTranslateToVmKeyCodes)
{
    EXPECT_EQ(MainView::translateKey(Qt::Key_Space), 0x20);
    EXPECT_EQ(MainView::translateKey(Qt::Key_A), 0x41);
    EXPECT_EQ(MainView::translateKey(Qt::Key_0), 0x30);
    EXPECT_EQ(MainView::translateKey(Qt::Key_QuoteLeft), 0x60);
    EXPECT_EQ(MainView::translateKey(Qt::Key_BraceLeft), 0x1000000);  // 0x7B: above 96
    EXPECT_EQ(MainView::translateKey(0x1F), 0x1000000);
    EXPECT_EQ(MainView::translateKey(Qt::Key_Backspace), 0x1000002);
    EXPECT_EQ(MainView::translateKey(Qt::Key_Return), 0x1000001);
    EXPECT_EQ(MainView::translateKey(Qt::Key_Enter), 0x1000000);
    EXPECT_EQ(MainView::translateKey(Qt::Key_Escape), 0x1000000);
    EXPECT_EQ(MainView::translateKey(Qt::Key_Left), 0x1000003);
    EXPECT_EQ(MainView::translateKey(Qt::Key_Up), 0x1000005);
    EXPECT_EQ(MainView::translateKey(Qt::Key_Right), 0x1000004);
    EXPECT_EQ(MainView::translateKey(Qt::Key_Down), 0x1000006);
}

TEST(HostRotation, RectanglesMapBetweenWidgetAndLogicalScreen)
{
    EXPECT_EQ(MainViewBase::widgetToBuffer(QRect(10, 20, 30, 40), 480), QRect(420, 10, 40, 30));
    EXPECT_EQ(MainViewBase::bufferToWidget(QRect(10, 20, 30, 40), 480), QRect(20, 440, 40, 30));
    EXPECT_EQ(MainViewBase::bufferToWidget(QRect(0, 0, 480, 800), 480), QRect(0, 0, 800, 480));
    EXPECT_EQ(MainViewBase::widgetToBuffer(QRect(0, 0, 800, 480), 480), QRect(0, 0, 480, 800));
    for (QRect r : {QRect(3, 7, 11, 13), QRect(0, 0, 1, 1), QRect(470, 790, 10, 10)})
        EXPECT_EQ(MainViewBase::widgetToBuffer(MainViewBase::bufferToWidget(r, 480), 480), r);
    // Wild values are clamped, not overflowed.
    QRect wild = MainViewBase::bufferToWidget(QRect(-2000000000, 0, 10, 1), 480);
    EXPECT_EQ(wild.top(), int(vm::GraphicsContainer::kCoordinateLimit));
    EXPECT_EQ(wild.height(), 0);
}

TEST_F(HostWindow, PortraitOnALandscapeWindowIsTurnedOnTheWayToTheScreen)
{
    ASSERT_EQ(start(std::string(R"(
.module "portrait"
.class App
.map plain
.map draw params 2 refs 0 1
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*application>.draw to<*canvas>" impl App draw map draw
.code
done:
    ret 0, 1
main:
    new 1, 1
    dup
    setclass App
    native System 5
    push 1
    native Screen 3
    ret 0, 1
draw:
    ldslot.s -2
    push 0xFF000000
    native Graphics 8
    ldslot.s -2
    push 0
    push 0
    push 10
    push 10
    push 0xFFFF0000
    native Graphics 4           ; logical top-left
    ldslot.s -2
    push 470
    push 790
    push 10
    push 10
    push 0xFF00FF00
    native Graphics 4           ; logical bottom-right
    ldslot.s -2
    push 0
    push 399
    push 479
    push 399
    push 0xFF0000FF
    native Graphics 5           ; a logical row
    ret 0, 3
)") + kExceptionMethods),
              host::KRunGoesOn);
    ASSERT_TRUE(view->isRotated());
    QImage image = grab();
    EXPECT_EQ(view->backBufferPixmap().size(), QSize(480, 800));
    // Logical (x, y) appears at widget (y, 479 - x).
    EXPECT_EQ(pixel(image, 0, 479), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 9, 470), 0xFFFF0000u);
    EXPECT_EQ(pixel(image, 0, 0), 0xFF000000u);
    EXPECT_EQ(pixel(image, 799, 0), 0xFF00FF00u);
    EXPECT_EQ(pixel(image, 790, 9), 0xFF00FF00u);
    EXPECT_EQ(pixel(image, 399, 0), 0xFF0000FFu);
    EXPECT_EQ(pixel(image, 399, 479), 0xFF0000FFu);
    EXPECT_EQ(pixel(image, 400, 240), 0xFF000000u);

    // Back to landscape: the buffer follows the window again.
    view->setOrientation(2);
    image = grab();
    EXPECT_EQ(view->backBufferPixmap().size(), QSize(800, 480));
    EXPECT_EQ(pixel(image, 0, 0), 0xFFFF0000u);
}

TEST_F(HostWindow, KeysAndPointerEventsReachTheProgram)
{
    ASSERT_EQ(start(kEvents), host::KRunGoesOn);
    capture();
    key(QEvent::KeyPress, Qt::Key_A, "a", 38);
    key(QEvent::KeyRelease, Qt::Key_A, "a", 38);
    key(QEvent::KeyPress, Qt::Key_Enter, "\r");
    key(QEvent::KeyPress, Qt::Key_Left, "");
    mouse(QEvent::MouseButtonPress, 10, 20);
    mouse(QEvent::MouseMove, 11, 22);
    mouse(QEvent::MouseButtonRelease, 12, 24);
    EXPECT_EQ(captured(),
              "LOG: pressed\nLOG: 65\nLOG: 38\nLOG: a\n"
              "LOG: released\nLOG: 65\n"
              "LOG: pressed\nLOG: 16777216\nLOG: 0\nLOG: \r\n"
              "LOG: pressed\nLOG: 16777219\nLOG: 0\nLOG: \n"
              "LOG: 0\nLOG: 10\nLOG: 20\n"
              "LOG: 6\nLOG: 11\nLOG: 22\n"
              "LOG: 1\nLOG: 12\nLOG: 24\n");
}

TEST_F(HostWindow, ForegroundAndBackgroundFollowDisplayAndWindowState)
{
    // Shown before the VM exists: nothing is delivered, but the window is
    // active; the start tells the program it is visible.
    view->show();
    capture();
    ASSERT_EQ(start(kEvents), host::KRunGoesOn);
    EXPECT_EQ(captured(), "LOG: fg\n");
    capture();
    view->displaySignal("off");
    view->displaySignal("off");  // unchanged: nothing
    view->displaySignal("on");
    view->hide();
    view->displaySignal("off");
    view->show();  // display still off: nothing
    view->displaySignal("dimmed");
    view->windowManagerChanged(12345);  // another application's window
    view->windowManagerChanged(0xFFFFFFFF);
    view->windowManagerChanged((unsigned long)view->winId());
    EXPECT_EQ(captured(), "LOG: bg\nLOG: fg\nLOG: bg\nLOG: fg\nLOG: bg\nLOG: fg\n");
}

TEST_F(HostWindow, TerminationEndsTheRunAndLaterEventsAreIgnored)
{
    ASSERT_EQ(start(std::string(R"(
.module "quitter"
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
    dup
    native System 5
    push 1000
    native Timer 1
    adjust.s -1
    ret 0, 1
pressed:
    ldstr "bye"
    native System 2
pointer:
    ldstr "pointer"
    native Debug 1
    ret 0, 6
)") + kExceptionMethods),
              host::KRunGoesOn);
    ASSERT_NE(view->timerScheduler().find(Timer::nextTimerId - 1), nullptr);
    capture();
    key(QEvent::KeyPress, Qt::Key_Q, "q");
    EXPECT_EQ(view->terminationStatus(), host::EExitTerminated);
    mouse(QEvent::MouseButtonPress, 1, 1);
    grab();
    EXPECT_EQ(captured(), "");
    EXPECT_FALSE(view->timerScheduler().find(Timer::nextTimerId - 1)->qtTimer->isActive());
}

TEST_F(HostWindow, AFatalErrorInADeliveryEndsTheRunWithItsOwnStatus)
{
    ASSERT_EQ(start(std::string(R"(
.module "fatal"
.class App
.map plain
.map pointer params 5 refs 0
.static "::global::init" done map plain
.static "main" main map plain
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
pointer:
    native 0, 1
    ret 0, 6
)") + kExceptionMethods),
              host::KRunGoesOn);
    capture();
    mouse(QEvent::MouseButtonPress, 1, 1);
    EXPECT_EQ(view->terminationStatus(), host::EExitFatal);
    EXPECT_NE(captured().find("FATAL: Internal error: invalid group in native call: 0"), std::string::npos);
}

TEST_F(HostWindow, AVmErrorEscapingADeliveryEndsTheRunWithStatusOne)
{
    // The heap is full and at its memory limit: the draw event cannot get
    // the blocks of its graphics object, and "Out of memory" escapes.
    ASSERT_EQ(start(std::string(R"(
.module "escape"
.class App
.map plain
.map draw params 2
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*application>.draw to<*canvas>" impl App draw map draw
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
    ret 0, 3
)") + kExceptionMethods),
              host::KRunGoesOn);
    vm::VMHeap& heap = machine().heap();
    machine().space().setMemoryLimit(machine().space().committedBytes());
    for (uint32_t size = 1u << 16;; size /= 2) {
        while (errorCode([&] { heap.addRoot(heap.alloc(size, 0, vm::GC_CODE_NATIVE)); }) == 0) {
        }
        vm::clearPendingError();
        if (size == 0)
            break;
    }
    capture();
    grab();
    EXPECT_EQ(view->terminationStatus(), host::EExitError);
    EXPECT_EQ(captured(), "FATAL: VMException: Out of memory\n");
    EXPECT_EQ(vm::GraphicsContainer::openOn(&view->backBufferPixmap()), 0);
}

TEST_F(HostWindow, AKeptDrawGraphicsObjectDrawsNothingAfterItsDrawEvent)
{
    ASSERT_EQ(start(std::string(R"(
.module "kept"
.globals 1
.class App
.map plain
.map draw params 2 refs 0 1
.map key params 2 refs 0 1
.static "::global::init" done map plain
.static "main" main map plain
.virtual "<*application>.draw to<*canvas>" impl App draw map draw
.virtual "<*application>.key pressed<keyevent>" impl App pressed map key
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
    globals
    ldslot.s -3
    stind
    ldslot.s -2
    push 0xFF000000
    native Graphics 8
    ret 0, 3
pressed:
    globals
    ldind
    push 0xFFFFFFFF
    native Graphics 8
    ldstr "drawn"
    native Debug 1
    ret 0, 3
)") + kExceptionMethods),
              host::KRunGoesOn);
    grab();
    EXPECT_EQ(vm::GraphicsContainer::openOn(&view->backBufferPixmap()), 0);
    capture();
    key(QEvent::KeyPress, Qt::Key_K, "k");
    EXPECT_EQ(captured(), "LOG: drawn\n");
    EXPECT_EQ(pixel(view->backBufferPixmap().toImage(), 5, 5), 0xFF000000u);
    // A turn replaces the buffer with nothing left painting the old one; a
    // resize keeps the logical screen.
    view->resize(640, 480);
    grab();
    EXPECT_EQ(view->backBufferPixmap().size(), QSize(800, 480));
    view->setOrientation(3);
    grab();
    EXPECT_EQ(view->backBufferPixmap().size(), QSize(480, 800));
}

TEST_F(HostWindow, StartUpFailuresEndTheRunWithStatusOne)
{
    capture();
    EXPECT_EQ(view->startVirtualMachine(), host::EExitError);
    EXPECT_EQ(captured(), "Failed to open '" + dir.path().toStdString() + "/index.mcb'\n");
}

TEST_F(HostWindow, AMalformedBytecodeFileIsAFatalStartUpError)
{
    ASSERT_TRUE(writeAll(path("index.mcb"), "not bytecode at all"));
    capture();
    EXPECT_EQ(view->startVirtualMachine(), host::EExitError);
    EXPECT_EQ(captured(), "FATAL: Error while reading bytecode\noffset 0: bad module id length 110 (must be 20)\n"
                          "FATAL: UnknownException (CODE:11)\n");
}

TEST(HostRunGuard, OutcomesMapToExitStatuses)
{
    EXPECT_EQ(host::runGuarded([] {}), host::KRunGoesOn);
    EXPECT_EQ(host::runGuarded([] { throw vm::TerminationSignal{vm::TerminationSignal::Terminated}; }),
              host::EExitTerminated);
    EXPECT_EQ(host::runGuarded([] { throw vm::TerminationSignal{vm::TerminationSignal::Fatal}; }), host::EExitFatal);
    testing::internal::CaptureStderr();
    EXPECT_EQ(host::runGuarded([] { vm::raiseVmError(vm::KErrIO, "disk"); }), host::EExitError);
    EXPECT_EQ(host::runGuarded([] { throw std::runtime_error("odd"); }), host::EExitError);
    EXPECT_EQ(host::runGuarded([] { throw 5; }), host::EExitError);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "FATAL: IOException: disk\nFATAL: odd\nFATAL: UNEXPECTED EXCEPTION\n");
    EXPECT_EQ(vm::pendingError().code, 0);
}

#endif  // MCB_HAVE_HOST
