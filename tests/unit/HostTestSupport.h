// Helpers for tests of the Qt host: the application object (offscreen), an
// application directory with an assembled index.mcb, and a started window.
#pragma once

#include "VmTestSupport.h"

#ifdef MCB_HAVE_HOST

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "Assembler.h"
#include "MainView.h"
#include "RunGuard.h"
#include "VirtualMachine.h"

namespace hosttest {

// The process's QApplication, made on first use (offscreen, 800 x 480 screen
// unless a platform was chosen). False when another kind of application
// object exists already (widgets are then impossible).
inline bool ensureApplication()
{
    if (QCoreApplication::instance())
        return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    static QTemporaryDir configDir;
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        QString config = configDir.filePath("screen.json");
        QFile file(config);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(R"({ "synchronousWindowSystemEvents": false, "windowFrameMargins": false,
                "screens": [ { "name": "s0", "x": 0, "y": 0, "width": 800, "height": 480,
                "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1 } ] })");
            file.close();
            qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toUtf8());
        }
    }
    static int argc = 1;
    static char name[] = "mcb_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the process
    return true;
}

// Runs the event loop for about aMilliseconds.
inline void processEventsFor(int aMilliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < aMilliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline std::string readAll(const QString& aPath)
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly))
        return "";
    QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

inline bool writeAll(const QString& aPath, const std::string& aBytes)
{
    QFile file(aPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(aBytes.data(), qint64(aBytes.size())) == qint64(aBytes.size());
}

inline CAppsString toCAppsString(const QString& aText)
{
    return CAppsString(std::u16string_view(reinterpret_cast<const char16_t*>(aText.utf16()), size_t(aText.size())));
}

// Class Throwable and the two exception entry methods (VmTestSupport.h).
inline const char* const kExceptionMethods = kExceptionPrelude;

// A window on a fresh application directory, not shown, 800 x 480.
struct HostFixture : ::testing::Test {
    QTemporaryDir dir;
    std::unique_ptr<MainView> view;

    void SetUp() override
    {
        if (!ensureApplication())
            GTEST_SKIP() << "another application object exists";
        ASSERT_TRUE(dir.isValid());
        MainView::lastForeground = false;
        view = std::make_unique<MainView>(toCAppsString(dir.path()));
        view->setWindowState(Qt::WindowNoState);
        view->resize(800, 480);
    }
    void TearDown() override
    {
        view.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QString path(const char* aName) const { return dir.filePath(aName); }

    // Assembles the program into index.mcb; a mistake fails the test.
    bool install(const std::string& aSource)
    {
        try {
            std::vector<uint8_t> bytes = mcb::assemble(aSource, "test");
            return writeAll(path("index.mcb"), std::string(bytes.begin(), bytes.end()));
        } catch (const mcb::AsmError& e) {
            ADD_FAILURE() << e.what();
            return false;
        }
    }

    // Installs and starts the program; returns the start's status.
    int start(const std::string& aSource)
    {
        if (!install(aSource))
            return -100;
        return view->startVirtualMachine();
    }

    vm::VirtualMachine& machine() { return *view->virtualMachine(); }

    // The window as painted now (a draw event runs).
    QImage grab() { return view->grab().toImage(); }
};

inline QRgb pixel(const QImage& aImage, int aX, int aY)
{
    return aImage.pixel(aX, aY) | 0xFF000000u;
}

}  // namespace hosttest

#endif  // MCB_HAVE_HOST
