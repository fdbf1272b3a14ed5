#include "MainView.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/time.h>

#include "Drawable.h"
#include "GraphicsContainer.h"
#include "IO/CAppsFileReader.h"
#include "IO/FileUtility.h"
#include "RunGuard.h"
#include "VirtualMachine.h"
#include "VirtualMachineExtensions/Accelerometer/Accelerometer.h"
#include "X11Support.h"

bool MainView::lastForeground = false;

MainView::MainView(const CAppsString& aAppDirectory) : appDirectory(aAppDirectory), fileServices(aAppDirectory)
{
    // Qt 6 paints only through the backing store: WA_PaintOnScreen would
    // leave QPainter without a paint engine, so it is not set.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    // Without a window manager full screen is not granted: take the screen's
    // geometry as well.
    if (QScreen* screen = this->screen())
        setGeometry(screen->geometry());
    setWindowState(Qt::WindowFullScreen);
    x11::setNonComposited();
}

MainView::~MainView()
{
    if (tilt)
        ext::Accelerometer::setSimulatedReading(std::nullopt);
    // The location extension goes with the VM below: no more calls.
    if (positionSource)
        ext::CLocationWrapper::attachPositionSource(nullptr);
    // Painters of the VM on the back buffer close before the VM goes.
    vm::GraphicsContainer::endPaintingOn(&backBuffer);
}

TInt64 MainView::microsecondClock()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    return TInt64(now.tv_sec) * 1000000 + now.tv_usec;
}

// ---------------------------------------------------------------------------
// Start and the run

int MainView::startVirtualMachine()
{
    startTime = microsecondClock();
    machine = std::make_unique<vm::VirtualMachine>();
    if (memoryLimit)
        machine->space().setMemoryLimit(*memoryLimit);
    scheduler.setVm(machine.get());
    scheduler.setDelivery(
        [this](vm::Word listener, int timerId) { deliver([&] { machine->deliverTimer(listener, timerId); }); });
    extensions.setUp(machine.get(), this);

    CAppsFileReader reader(openInputStream(OString("index.mcb"), 0));
    if (!reader.isOpen()) {
        CAppsString path = FileUtility::joinPath(appDirectory, CAppsString("index.mcb"));
        std::fprintf(stderr, "Failed to open '%s'\n", path.toLatin1().c_str());
        std::fflush(stderr);
        status = host::EExitError;
        return status;
    }
    deliver([&] { machine->start(reader, CAppsString("index.mcb"), this); });
    if (status != host::KRunGoesOn)
        return status;
    update();

    // With a Hildon window manager the first foreground event waits for its
    // current-window property; without one nothing else would ever tell the
    // program that it is visible, so the rule runs once now.
    unsigned long appWindow = 0;
    if (!x11::currentAppWindow(appWindow))
        updateForeground();
    return status;
}

void MainView::deliver(const std::function<void()>& aWork)
{
    if (!machine || status != host::KRunGoesOn)
        return;
    int result = host::runGuarded(aWork);
    if (result != host::KRunGoesOn)
        endRun(result);
}

void MainView::endRun(int aStatus)
{
    status = aStatus;
    scheduler.stopAll();
    QCoreApplication::exit(aStatus);
}

void MainView::finish(int aStatus)
{
    if (status == host::KRunGoesOn)
        endRun(aStatus);
}

// ---------------------------------------------------------------------------
// The desktop window

QSize MainView::windowSizeFor(int aOrientation) const
{
    QSize logical = logicalSizeFor(aOrientation);
    int scale = windowScale;
    if (scale == screen::kScaleFit) {
        QScreen* where = screen();
        scale = where ? screen::fitScale(logical, where->availableGeometry().size()) : 1;
    }
    return logical * scale;
}

void MainView::useWindow(std::optional<QPoint> aPosition, int aScale)
{
    windowed = true;
    windowScale = aScale;
    setWindowState(Qt::WindowNoState);
    resize(windowSizeFor(orientationMode));
    if (aPosition)
        move(*aPosition);
}

void MainView::toggleFullScreen()
{
    if (isFullScreen()) {
        showNormal();
        resize(windowSizeFor(orientationMode));
    } else {
        if (QScreen* where = screen())
            setGeometry(where->geometry());
        showFullScreen();
    }
}

bool MainView::saveScreen(const QString& aPath)
{
    ensureBackBuffer();
    // A graphics object the program kept ends before the buffer is read.
    vm::GraphicsContainer::endPaintingOn(&backBuffer);
    return backBuffer.save(aPath, "PNG");
}

void MainView::saveTimestampedScreenshot()
{
    QString name = QDateTime::currentDateTime().toString(QStringLiteral("'screenshot-'yyyyMMdd-HHmmss-zzz'.png'"));
    QString path = QDir(QString::fromStdU16String(appDirectory.toU16())).filePath(name);
    if (saveScreen(path))
        std::fprintf(stderr, "mcbrun: screenshot saved as %s\n", path.toLocal8Bit().constData());
    else
        std::fprintf(stderr, "mcbrun: cannot write the screenshot %s\n", path.toLocal8Bit().constData());
    std::fflush(stderr);
}

// ---------------------------------------------------------------------------
// Events

void MainView::drawBackBuffer(const QRegion& aClip)
{
    deliver([&] {
        vm::VMHeap& heap = machine->heap();
        vm::Addr container = vm::newGraphicsContainer(heap, &backBuffer);
        heap.objectAs<vm::GraphicsContainer>(container)->setClip(aClip);
        machine->deliverDraw(vm::createGraphicsDrawable(heap, container));
    });
}

void MainView::painted()
{
    if (machine && !firstPaintReported) {
        firstPaintReported = true;
        emit firstPaintDone();
    }
}

void MainView::deliverKeyEvent(QKeyEvent* aEvent, bool aPressed)
{
    if (!machine)
        return;
    int code = keyMap.translate(aEvent->key());
    int scanCode = int(aEvent->nativeScanCode());
    QString text = aEvent->text();
    deliver([&] { machine->deliverKey(code, scanCode, 0, OString(text), aPressed); });
}

bool MainView::handleWindowKey(QKeyEvent* aEvent)
{
    if (tilt && tilt->handleKey(*aEvent)) {
        updateSimulatedTilt();
        return true;
    }
    int key = aEvent->key();
    if ((key != Qt::Key_F11 && key != Qt::Key_F12) || keyMap.remaps(key))
        return false;
    if (aEvent->type() == QEvent::KeyPress && !aEvent->isAutoRepeat()) {
        if (key == Qt::Key_F11)
            toggleFullScreen();
        else
            saveTimestampedScreenshot();
    }
    return true;
}

void MainView::keyPressEvent(QKeyEvent* aEvent)
{
    if (!handleWindowKey(aEvent))
        deliverKeyEvent(aEvent, true);
}

void MainView::keyReleaseEvent(QKeyEvent* aEvent)
{
    if (!handleWindowKey(aEvent))
        deliverKeyEvent(aEvent, false);
}

void MainView::useTiltControls()
{
    tilt.emplace();
    updateSimulatedTilt();
}

void MainView::usePositionSource(std::unique_ptr<PositionSource> aSource)
{
    positionSource = std::move(aSource);
    positionSource->setDelivery([this](const std::function<void()>& aWork) { deliver(aWork); });
    ext::CLocationWrapper::attachPositionSource(positionSource.get());
}

void MainView::updateSimulatedTilt()
{
    TiltReading r = tilt->reading();
    ext::Accelerometer::setSimulatedReading(ext::Accelerometer::Reading{r.x, r.y, r.z});
}

bool MainView::handleTiltMouse(QMouseEvent* aEvent)
{
    if (!tilt || !tilt->handleMouse(*aEvent, aEvent->position().toPoint()))
        return false;
    updateSimulatedTilt();
    return true;
}

void MainView::deliverPointer(int aType, QMouseEvent* aEvent)
{
    if (handleTiltMouse(aEvent))
        return;
    QPoint p = pointerPosition(aEvent->position().toPoint());
    deliver([&] { machine->deliverPointer(aType, p.x(), p.y(), 0); });
}

void MainView::mousePressEvent(QMouseEvent* aEvent)
{
    deliverPointer(0, aEvent);
}

void MainView::mouseReleaseEvent(QMouseEvent* aEvent)
{
    deliverPointer(1, aEvent);
}

void MainView::mouseMoveEvent(QMouseEvent* aEvent)
{
    deliverPointer(6, aEvent);
}

void MainView::showEvent(QShowEvent* aEvent)
{
    (void)aEvent;
    windowActive = 1;
    updateForeground();
}

void MainView::hideEvent(QHideEvent* aEvent)
{
    (void)aEvent;
    windowActive = 0;
    updateForeground();
}

void MainView::displaySignal(QString aStatus)
{
    displayOn = aStatus != QLatin1String("off");
    updateForeground();
}

void MainView::windowManagerChanged(unsigned long aCurrentAppWindow)
{
    windowActive = aCurrentAppWindow == 0xFFFFFFFFul || aCurrentAppWindow == (unsigned long)(winId());
    updateForeground();
}

void MainView::updateForeground()
{
    bool visible = displayOn && windowActive;
    if (visible == lastForeground || !machine)
        return;
    lastForeground = visible;
    if (visible)
        deliver([&] { machine->deliverForeground(); });
    else
        deliver([&] { machine->deliverBackground(); });
}

// ---------------------------------------------------------------------------
// Paths and files

bool MainView::resolvePath(const OString& aPath, CAppsString& aResolved) const
{
    return fileServices.resolvePath(aPath, aResolved);
}

KELVAR::OutputStream* MainView::openOutputStream(const OString& path, int truncate)
{
    return fileServices.openOutputStream(path, truncate);
}

KELVAR::InputStream* MainView::openInputStream(const OString& path, int mode)
{
    (void)mode;
    return fileServices.openInputStream(path);
}

int MainView::deleteFile(const OString& path)
{
    return fileServices.deleteFile(path);
}

int MainView::fileExists(const OString& path)
{
    return fileServices.fileExists(path);
}

int MainView::fileSystemOperation6(int a, int b)
{
    (void)a;
    (void)b;
    return 0;
}

int MainView::moveFile(const OString& from, const OString& to)
{
    return fileServices.moveFile(from, to);
}

int MainView::listDirectory(const OString& path, Vec<OString>& files, Vec<OString>& directories)
{
    return fileServices.listDirectory(path, files, directories);
}

int MainView::createDirectory(const OString& path)
{
    return fileServices.createDirectory(path);
}

int MainView::deleteDirectory(const OString& path)
{
    return fileServices.deleteDirectory(path);
}

int MainView::moveDirectory(const OString& from, const OString& to)
{
    return fileServices.moveDirectory(from, to);
}

int MainView::directoryExists(const OString& path)
{
    return fileServices.directoryExists(path);
}

// ---------------------------------------------------------------------------
// Framework operations

// Operations 6, 13, 14, 22, 24, 25, 26, 27, 32 and 38 have no meaning on this
// platform: they answer 0 or do nothing.
int MainView::frameworkOperation13()
{
    return 0;
}

int MainView::frameworkOperation14()
{
    return 0;
}

OString MainView::getPathSeparator()
{
    return OString("/");
}

OString MainView::getPlatformName()
{
    return OString("maemo");
}

int MainView::getCurrentTimeMillis()
{
    return TInt32(TUint32(TUint64(microsecondClock() / 1000)));
}

int MainView::getTimeSinceStart()
{
    return TInt32(TUint32(TUint64((microsecondClock() - startTime) / 1000)));
}

void MainView::log(const OString& message)
{
    std::string line = "LOG: " + message.toLatin1() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    if (logStream && !message.isEmpty()) {
        std::string bytes = "LOG: " + message.toUtf8() + "\n";
        // Line by line: a log must survive the process ending at once.
        logStream->write(reinterpret_cast<const TUint8*>(bytes.data()), TUint32(bytes.size()));
        logStream->flush();
    }
}

int MainView::setLogFile(const OString& path)
{
    if (path.isEmpty()) {
        logStream.reset();
        return 1;
    }
    CAppsString resolved;
    if (!resolvePath(path, resolved))
        return 0;
    logStream = std::make_shared<KELVAR::FileOutputStream>();
    return logStream->open(resolved);
}

int MainView::frameworkOperation22(const OString& message)
{
    (void)message;
    return 0;
}

void MainView::exit()
{
    // At once, with no event delivered; stdio (the log file) is flushed.
    std::fflush(nullptr);
    std::exit(host::EExitOk);
}

int MainView::frameworkOperation24(int a, int b)
{
    (void)a;
    (void)b;
    return 0;
}

int MainView::frameworkOperation25(int a, bool b)
{
    (void)a;
    (void)b;
    return 0;
}

void MainView::frameworkOperation26(bool a, int b)
{
    (void)a;
    (void)b;
}

void MainView::setScreenFlag(bool flag)
{
    (void)flag;
}

void MainView::setOrientation(int mode)
{
    if (mode == orientationMode)
        return;
    orientationMode = mode;
    if (x11::available() && !x11::setPortraitRequest(quintptr(winId()), mode != 2))
        qDebug("setOrientationToPortrait, change property failed");
    // A desktop window turns with the program, as the device's window
    // manager does when it honours the request.
    if (windowed && !isFullScreen())
        resize(windowSizeFor(mode));
    update();
}

int MainView::getOrientation()
{
    return orientationMode;
}

int MainView::callExtension(int extension, int operation, int top, vm::Addr stackBase)
{
    return extensions.callExtension(extension, operation, top, stackBase);
}

void MainView::getScreenSize(int& width, int& height)
{
    width = orientationMode == 2 ? 800 : 480;
    height = orientationMode == 2 ? 480 : 800;
}

void MainView::frameworkOperation32(bool flag)
{
    (void)flag;
}

void MainView::addScreenListener(vm::Word listener)
{
    (void)listener;
}

void MainView::removeScreenListener(vm::Word listener)
{
    (void)listener;
}

int MainView::addTimer(vm::Word listener, int delay)
{
    KELVAR_ASSERT(delay >= 0);
    return scheduler.addTimer(listener, TUint32(delay));
}

vm::Word MainView::removeTimer(int id)
{
    return scheduler.removeTimer(id);
}

int MainView::updateTimerDelay(int id, int newDelay)
{
    KELVAR_ASSERT(newDelay >= 0);
    scheduler.updateTimerDelay(id, newDelay);
    return 1;
}

int MainView::frameworkOperation38(int a, int b)
{
    (void)a;
    (void)b;
    return 0;
}

OString MainView::getApplicationDirectory()
{
    return OString(appDirectory);
}
