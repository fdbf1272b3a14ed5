// The runtime executable: runs index.mcb of the application directory in a
// window (full screen with the device's window manager), or off-screen.
// The command line is CommandLine.h's; exit statuses: RunGuard.h, and 2 for
// a mistake on the command line or no display.
//
// Environment hooks for tests and measurements (off unless set):
//  MCB_SCREENSHOT=file       the window is grabbed into the file (PNG) when
//                            the event loop has ended;
//  MCB_REPORT_FIRST_PAINT=1  after the first paint of the program's picture
//                            "first-paint-ns <CLOCK_REALTIME ns>" is printed
//                            on standard output and the run ends (status 0).
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "CommandLine.h"
#include "Containers/CAppsString.h"
#include "EventScript.h"
#include "KeyMap.h"
#include "MainView.h"
#include "Platform.h"
#include "PositionSource.h"
#include "QtClientApplication.h"
#include "RunControl.h"
#include "RunGuard.h"
#include "TraceRecorder.h"
#include "VirtualMachineExtensions/Accelerometer/Accelerometer.h"
#include "X11Support.h"

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    char byte = 1;
    ssize_t written = write(signalPipe[1], &byte, 1);
    (void)written;
}

// SIGTERM and SIGINT end the event loop, so the run ends in order (status 0).
void handleTerminationSignals(QObject* aContext)
{
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, aContext);
    QObject::connect(notifier, &QSocketNotifier::activated, aContext, [] {
        char byte;
        while (read(signalPipe[0], &byte, 1) > 0) {
        }
        QCoreApplication::exit(host::EExitOk);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

CAppsString fromQString(const QString& aText)
{
    return CAppsString(std::u16string_view(reinterpret_cast<const char16_t*>(aText.utf16()), size_t(aText.size())));
}

long long realtimeNanoseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Everything a run needs besides the application directory.
struct RunSetup {
    cli::Options options;
    KeyMap keyMap;
    std::vector<ScriptEvent> events;
    QByteArray nmeaLog;  // --location-nmea
};

int usageError(const std::string& aMessage)
{
    std::fprintf(stderr, "%s\n", aMessage.c_str());
    return host::EExitUsage;
}

// The whole file, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::string& aPath)
{
    QFile file(QString::fromStdString(aPath));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// Settings file, keymap and events file; a mistake gives its message.
std::optional<std::string> readRunFiles(RunSetup& aSetup)
{
    cli::Options& options = aSetup.options;
    std::string config = cli::configPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (!config.empty() && QFileInfo::exists(QString::fromStdString(config))) {
        std::optional<std::string> text = readFile(config);
        if (!text)
            return "mcbrun: cannot read the settings file " + config;
        std::string directory = QFileInfo(QString::fromStdString(config)).absolutePath().toStdString();
        if (std::optional<std::string> error = cli::applyConfig(*text, config, directory, options))
            return error;
    }
    if (options.keymap) {
        std::optional<std::string> text = readFile(*options.keymap);
        if (!text)
            return "mcbrun: cannot read the keymap file " + *options.keymap;
        if (std::optional<std::string> error = aSetup.keyMap.parse(*text, *options.keymap))
            return "mcbrun: " + *error;
    }
    if (!options.events.empty()) {
        std::optional<std::string> text = readFile(options.events);
        if (!text)
            return "mcbrun: cannot read the events file " + options.events;
        if (std::optional<std::string> error = parseEventScript(*text, options.events, aSetup.events))
            return "mcbrun: " + *error;
    }
    if (!options.locationNmea.empty()) {
        std::optional<std::string> text = readFile(options.locationNmea);
        if (!text)
            return "mcbrun: cannot read the NMEA file " + options.locationNmea;
        aSetup.nmeaLog = QByteArray(text->data(), qsizetype(text->size()));
        if (!NmeaPositionSource::holdsDatedFix(aSetup.nmeaLog))
            return "mcbrun: no NMEA fix with a date (an RMC sentence) in " + options.locationNmea;
    }
    return std::nullopt;
}

// Window or full screen, scale, orientation and keymap, before the window
// is shown.
void setUpWindow(MainView& aView, const RunSetup& aSetup, const QString& aTitle)
{
    const cli::Options& options = aSetup.options;
    aView.setWindowTitle(aTitle);
    aView.setKeyMap(aSetup.keyMap);
    bool fullscreen = options.window == cli::WindowMode::Fullscreen;
    if (options.window == cli::WindowMode::Default) {
        unsigned long appWindow = 0;
        fullscreen = x11::currentAppWindow(appWindow);  // the device's window manager runs
    }
    // The picture takes the scale given, else the largest that fits; a
    // window starts at the scale given, else at 1.
    aView.setScaleRequest(options.scale.value_or(screen::kScaleFit));
    if (options.portrait)
        aView.setInitialOrientation(1);
    if (options.tiltKeys)
        aView.useTiltControls();
    if (!fullscreen) {
        std::optional<QPoint> position;
        if (options.position)
            position = QPoint(options.position->x, options.position->y);
        aView.useWindow(position, options.scale.value_or(1));
    }
}

RunPlan runPlan(RunSetup& aSetup)
{
    const cli::Options& options = aSetup.options;
    RunPlan plan;
    plan.screenshot = QString::fromStdString(options.screenshot);
    plan.screenshotAfter = options.after.value_or(0);
    plan.framesDirectory = QString::fromStdString(options.frames);
    plan.frameInterval = options.every.value_or(cli::kDefaultFrameInterval);
    plan.runFor = options.runFor;
    plan.events = std::move(aSetup.events);
    return plan;
}

int runApplication(QtClientApplication& aApp, const CAppsString& aDirectory, const QString& aTitle,
                   RunSetup& aSetup)
{
    MainView view(aDirectory);
    setUpWindow(view, aSetup, aTitle);
    view.setMemoryLimit(aSetup.options.memoryLimit);
    if (const std::optional<cli::Reading3>& tilt = aSetup.options.tiltReading)
        ext::Accelerometer::setSimulatedReading(ext::Accelerometer::Reading{tilt->x, tilt->y, tilt->z});
    if (const std::optional<cli::Location>& location = aSetup.options.location)
        view.usePositionSource(std::make_unique<FixedPositionSource>(
            PositionFix{location->latitude, location->longitude, location->altitude, 0, QDateTime()}));
    else if (!aSetup.nmeaLog.isEmpty())
        view.usePositionSource(std::make_unique<NmeaPositionSource>(aSetup.nmeaLog));
    RunControl control(view, runPlan(aSetup));
    {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.connect("com.nokia.mce", "/com/nokia/mce/signal", "com.nokia.mce.signal", "display_status_ind",
                         "s", &view, SLOT(displaySignal(QString)))) {
            std::fputs("FATAL: Failed to connect to dbus\n", stderr);
            std::fflush(stderr);
        }
    }
    aApp.mainView = &view;
    handleTerminationSignals(&view);
    if (qEnvironmentVariableIsSet("MCB_REPORT_FIRST_PAINT")) {
        QObject::connect(&view, &MainView::firstPaintDone, &view, [] {
            std::printf("first-paint-ns %lld\n", realtimeNanoseconds());
            std::fflush(stdout);
            QCoreApplication::exit(host::EExitOk);
        });
    }
    view.setVisible(true);
    int status = view.startVirtualMachine();
    if (status == host::KRunGoesOn) {
        control.start();
        status = aApp.exec();
    }
    QString screenshot = qEnvironmentVariable("MCB_SCREENSHOT");
    if (!screenshot.isEmpty())
        view.grab().save(screenshot, "PNG");
    aApp.mainView = nullptr;
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    RunSetup setup;
    cli::Options& options = setup.options;
    if (std::optional<std::string> error = cli::parseArguments(std::vector<std::string>(argv + 1, argv + argc), options))
        return usageError(*error);
    if (options.help || options.version) {
        std::fputs((options.help ? cli::helpText() : cli::versionText()).c_str(), stdout);
        return host::EExitOk;
    }
    std::string directoryPath;
    if (std::optional<cli::StartError> error =
            cli::applicationDirectory(options, argv[0], QDir::currentPath().toStdString(), directoryPath)) {
        std::fprintf(stderr, "%s\n", error->message.c_str());
        return error->status;
    }
    if (std::optional<std::string> error = readRunFiles(setup))
        return usageError(*error);
    // The VM made for the run records; a relative path is taken from where mcbrun started.
    if (!options.trace.empty())
        vm::TraceRecorder::requestForNextMachine(
            QDir::current().absoluteFilePath(QString::fromStdString(options.trace)).toStdString());

    std::string offscreenFile;
    if (options.headless) {
        int scale = options.scale.value_or(1);
        QSize screen = MainView::logicalSizeFor(options.portrait ? 1 : 2) * (scale == screen::kScaleFit ? 1 : scale);
        offscreenFile = platform::useOffscreen(screen);
        if (offscreenFile.empty())
            return host::EExitError;
    } else if (std::optional<std::string> problem = platform::displayProblem()) {
        return usageError(*problem);
    }
    qDebug("starting main");
    // The runtime reads its command line itself: Qt sees none of it.
    static int appArgc = 1;
    static char* appArgv[] = {argv[0], nullptr};
    QtClientApplication app(appArgc, appArgv);
    if (!offscreenFile.empty())
        unlink(offscreenFile.c_str());  // read by the platform already

    // "/opt/<name>" is taken byte by byte, as on the device.
    CAppsString directory = options.autoDirectory ? CAppsString(directoryPath)
                                                  : fromQString(QString::fromStdString(directoryPath));
    QString title = QFileInfo(QString::fromStdString(directoryPath)).fileName();
    if (title.isEmpty())
        title = QString::fromStdString(directoryPath);
    int status = host::EExitError;
    int escaped = host::runGuarded([&] { status = runApplication(app, directory, title, setup); });
    return escaped == host::KRunGoesOn ? status : escaped;
}
