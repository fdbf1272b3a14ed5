// The runtime executable: one full-screen window running index.mcb from the
// application directory ("/opt/<executable name>" with "--auto", else the
// current directory). Exit statuses: see RunGuard.h.
//
// Environment hooks for tests and measurements (off unless set):
//  MCB_SCREENSHOT=file       the window is grabbed into the file (PNG) when
//                            the event loop has ended;
//  MCB_REPORT_FIRST_PAINT=1  after the first paint of the program's picture
//                            "first-paint-ns <CLOCK_REALTIME ns>" is printed
//                            on standard output and the run ends (status 0).
#include <QDBusConnection>
#include <QDir>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "Containers/CAppsString.h"
#include "MainView.h"
#include "QtClientApplication.h"
#include "RunGuard.h"

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

const char* baseName(const char* aPath)
{
    const char* slash = std::strrchr(aPath, '/');
    return slash ? slash + 1 : aPath;
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

int runApplication(QtClientApplication& aApp, const CAppsString& aDirectory)
{
    MainView view(aDirectory);
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
    if (status == host::KRunGoesOn)
        status = aApp.exec();
    QString screenshot = qEnvironmentVariable("MCB_SCREENSHOT");
    if (!screenshot.isEmpty())
        view.grab().save(screenshot, "PNG");
    aApp.mainView = nullptr;
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    qDebug("starting main");
    QtClientApplication app(argc, argv);

    CAppsString directory;
    if (argc > 1 && std::strcmp(argv[1], "--auto") == 0) {
        const char* base = baseName(argv[0]);
        char buffer[4097];
        int length = std::snprintf(buffer, sizeof buffer, "/opt/%s", base);
        if (length < 0 || length > 4096) {
            std::fprintf(stderr, "%s: VM basename too long\n", base);
            return host::EExitError;
        }
        directory = CAppsString(buffer);
    } else {
        directory = fromQString(QDir::currentPath());
    }

    int status = host::EExitError;
    int escaped = host::runGuarded([&] { status = runApplication(app, directory); });
    return escaped == host::KRunGoesOn ? status : escaped;
}
