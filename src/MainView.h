// MainView: the application window. It implements the host services the VM
// calls (FrameworkServices), owns the VM, its timers and the log file, and
// turns Qt events into VM deliveries. Every VM call goes through deliver(),
// which keeps exceptions out of Qt and ends the run in order when the
// program terminates or fails (see RunGuard.h for the exit statuses).
#pragma once

#include <QPoint>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "Containers/CAppsString.h"
#include "ExtensionRegistry.h"
#include "IO/ApplicationFiles.h"
#include "IO/FileStream.h"
#include "KeyMap.h"
#include "MainViewBase.h"
#include "PositionSource.h"
#include "Scheduler.h"
#include "Tilt.h"

namespace vm {
class VirtualMachine;
}

class MainView : public MainViewBase {
    Q_OBJECT
public:
    explicit MainView(const CAppsString& aAppDirectory);
    ~MainView() override;

    // Creates the VM, loads "index.mcb" and runs "::global::init" and "main".
    // Returns host::KRunGoesOn, or the status the process must end with
    // ("Failed to open '...'" and 1 for a missing file, or how the start
    // ended the run).
    int startVirtualMachine();

    // host::KRunGoesOn while the program runs, else its exit status.
    int terminationStatus() const { return status; }
    vm::VirtualMachine* virtualMachine() const { return machine.get(); }
    Scheduler& timerScheduler() { return scheduler; }
    const CAppsString& applicationDirectory() const { return appDirectory; }

    // The path rule (ApplicationFiles.h).
    bool resolvePath(const OString& aPath, CAppsString& aResolved) const;
    // VM key code of a Qt key (the built-in table).
    static int translateKey(int aQtKey) { return KeyMap::builtIn(aQtKey); }
    // The root-window watch reports the window manager's current application
    // window (0xFFFFFFFF: the desktop gives the screen to applications).
    void windowManagerChanged(unsigned long aCurrentAppWindow);

    // Which of foreground/background was delivered last (process-wide).
    static bool lastForeground;

    // Desktop window handling (the device's window manager decides all of
    // this itself; the window is full screen there). Set before the window
    // is shown.
    void setKeyMap(const KeyMap& aKeyMap) { keyMap = aKeyMap; }
    // A normal window of the logical size times aScale (the largest that
    // fits the screen for screen::kScaleFit), at aPosition when given. The
    // window follows the program's orientation. (The picture in it follows
    // the scale request of MainViewBase.)
    void useWindow(std::optional<QPoint> aPosition, int aScale);
    bool isWindowed() const { return windowed; }
    // The window's size for the logical screen of an orientation.
    QSize windowSizeFor(int aOrientation) const;
    // F11: full screen <-> window.
    void toggleFullScreen();
    // Ctrl+arrows and the right mouse button tilt the simulated
    // accelerometer (Tilt.h), which starts flat; until the window goes.
    void useTiltControls();
    const std::optional<Tilt>& tiltControls() const { return tilt; }
    // Attaches the source to the location extension until the window goes;
    // its reports reach the program through the guarded delivery.
    void usePositionSource(std::unique_ptr<PositionSource> aSource);
    // The VM's memory limit (VMSpace::setMemoryLimit), set as the VM is
    // made, before the program loads; without one the VM's default holds.
    void setMemoryLimit(std::optional<uint64_t> aBytes) { memoryLimit = aBytes; }
    // The start orientation, before the VM starts (1 portrait, 2 landscape).
    void setInitialOrientation(int aMode) { setOrientation(aMode); }

    // The logical screen (the back buffer as the program drew it) as a PNG
    // file; false when it cannot be written.
    bool saveScreen(const QString& aPath);
    // F12: the logical screen as screenshot-YYYYMMDD-HHMMSS-mmm.png in the
    // application directory; the outcome is reported on standard error.
    void saveTimestampedScreenshot();
    // Ends the run in order with the status (nothing when it has ended).
    void finish(int aStatus);
    // True once a picture of the program has reached the window.
    bool hasPainted() const { return firstPaintReported; }

    // FrameworkServices
    KELVAR::OutputStream* openOutputStream(const OString& path, int truncate) override;
    KELVAR::InputStream* openInputStream(const OString& path, int mode) override;
    int deleteFile(const OString& path) override;
    int fileExists(const OString& path) override;
    int fileSystemOperation6(int a, int b) override;
    int moveFile(const OString& from, const OString& to) override;
    int listDirectory(const OString& path, Vec<OString>& files, Vec<OString>& directories) override;
    int createDirectory(const OString& path) override;
    int deleteDirectory(const OString& path) override;
    int moveDirectory(const OString& from, const OString& to) override;
    int directoryExists(const OString& path) override;
    int frameworkOperation13() override;
    int frameworkOperation14() override;
    OString getPathSeparator() override;
    OString getPlatformName() override;
    int getCurrentTimeMillis() override;
    int getTimeSinceStart() override;
    void log(const OString& message) override;
    int setLogFile(const OString& path) override;
    int frameworkOperation22(const OString& message) override;
    void exit() override;
    int frameworkOperation24(int a, int b) override;
    int frameworkOperation25(int a, bool b) override;
    void frameworkOperation26(bool a, int b) override;
    void setScreenFlag(bool flag) override;
    void setOrientation(int mode) override;
    int getOrientation() override;
    int callExtension(int extension, int operation, int top, vm::Addr stackBase) override;
    void getScreenSize(int& width, int& height) override;
    void frameworkOperation32(bool flag) override;
    void addScreenListener(vm::Word listener) override;
    void removeScreenListener(vm::Word listener) override;
    int addTimer(vm::Word listener, int delay) override;
    vm::Word removeTimer(int id) override;
    int updateTimerDelay(int id, int delay) override;
    int frameworkOperation38(int a, int b) override;
    OString getApplicationDirectory() override;

    // Microseconds of gettimeofday, in 64 bits.
    static TInt64 microsecondClock();

public slots:
    // The device's display state from D-Bus ("off" or anything else).
    void displaySignal(QString aStatus);

signals:
    // The first paint after the VM started has reached the window.
    void firstPaintDone();

protected:
    void keyPressEvent(QKeyEvent* aEvent) override;
    void keyReleaseEvent(QKeyEvent* aEvent) override;
    void mousePressEvent(QMouseEvent* aEvent) override;
    void mouseReleaseEvent(QMouseEvent* aEvent) override;
    void mouseMoveEvent(QMouseEvent* aEvent) override;
    void showEvent(QShowEvent* aEvent) override;
    void hideEvent(QHideEvent* aEvent) override;

    int currentOrientation() const override { return orientationMode; }
    void drawBackBuffer(const QRegion& aClip) override;
    void painted() override;

private:
    // Runs one VM call unless the run is over; ends the run when it says so.
    void deliver(const std::function<void()>& aWork);
    void endRun(int aStatus);
    // Delivers foreground or background when visibility changed.
    void updateForeground();
    void deliverKeyEvent(QKeyEvent* aEvent, bool aPressed);
    // F11 and F12 (unless the keymap gives them to the program) and the
    // tilt keys.
    bool handleWindowKey(QKeyEvent* aEvent);
    // The tilt's mouse button.
    bool handleTiltMouse(QMouseEvent* aEvent);
    void updateSimulatedTilt();
    void deliverPointer(int aType, QMouseEvent* aEvent);

    // Declared first: destroyed after everything that refers to it.
    std::unique_ptr<vm::VirtualMachine> machine;
    Scheduler scheduler;
    TInt64 startTime = 0;
    CAppsString appDirectory;
    ApplicationFiles fileServices;  // the file operations, by the path rule
    TInt32 orientationMode = 2;
    std::shared_ptr<KELVAR::FileOutputStream> logStream;
    TUint8 windowActive = 0;
    TUint8 displayOn = 1;
    ExtensionRegistry extensions;

    int status = -1;
    bool firstPaintReported = false;
    KeyMap keyMap;
    bool windowed = false;
    int windowScale = 1;
    std::optional<Tilt> tilt;
    std::unique_ptr<PositionSource> positionSource;
    std::optional<uint64_t> memoryLimit;
};
