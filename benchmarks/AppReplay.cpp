// The bundled game under a steady stream of its own events, headless: for a
// fixed time (10 s unless the first argument gives seconds), every round
// fires each of the game's timers once and paints the window once (a draw
// event), and every 50 rounds presses Return so a finished game starts
// again. Prints the events delivered per second of wall time and per second
// of the process's processor time (steadier on a busy machine); the events are
// the game's real work (falling pieces, rows, score, the full picture), not
// a loop written for the benchmark. "--plain" runs without superinstructions.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Assembler.h"
#include "MainView.h"
#include "RunGuard.h"
#include "Scheduler.h"
#include "VirtualMachine.h"

namespace {

bool copyGame(const QString& from, const QString& to)
{
    QDir assets(from);
    for (const QString& name : assets.entryList({"*.png", "*.raw"}, QDir::Files))
        if (!QFile::copy(assets.filePath(name), QDir(to).filePath(name)))
            return false;
    QFile source(assets.filePath("blocks.mcbs"));
    if (!source.open(QIODevice::ReadOnly))
        return false;
    std::vector<uint8_t> bytes = mcb::assemble(source.readAll().toStdString(), "blocks.mcbs");
    QFile out(QDir(to).filePath("index.mcb"));
    return out.open(QIODevice::WriteOnly) &&
           out.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

void pressReturn(QWidget* view)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QCoreApplication::sendEvent(view, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r");
    QCoreApplication::sendEvent(view, &release);
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 10.0;
    bool plain = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--plain")
            plain = true;
        else
            seconds = std::atof(argv[i]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !copyGame(QString(MCB_SOURCE_DIR) + "/examples/blocks", dir.path())) {
        std::fprintf(stderr, "cannot install the game\n");
        return 1;
    }
    QString path = dir.path();
    auto view = std::make_unique<MainView>(CAppsString(std::u16string_view(
        reinterpret_cast<const char16_t*>(path.utf16()), size_t(path.size()))));
    view->resize(800, 480);
    if (int status = view->startVirtualMachine(); status != host::KRunGoesOn) {
        std::fprintf(stderr, "the game did not start (%d)\n", status);
        return 1;
    }
    if (plain)
        view->virtualMachine()->setSuperinstructions(false);
    Scheduler& timers = view->timerScheduler();
    long timerEvents = 0, drawEvents = 0, rounds = 0;
    QElapsedTimer clock;
    clock.start();
    std::clock_t cpuStart = std::clock();
    while (clock.elapsed() < qint64(seconds * 1000)) {
        if (rounds++ % 50 == 0)
            pressReturn(view.get());
        for (int id = 10; id < Timer::nextTimerId; ++id) {
            if (Timer* t = timers.find(id)) {
                t->timeout();
                ++timerEvents;
            }
        }
        view->grab();
        ++drawEvents;
        QCoreApplication::processEvents();
    }
    double elapsed = double(clock.nsecsElapsed()) * 1e-9;
    double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    if (timerEvents == 0) {
        std::fprintf(stderr, "the game registered no timer\n");
        return 1;
    }
    std::printf("timer events %ld, draw events %ld in %.2f s (%.2f s processor): %.0f events/s, %.0f per "
                "processor second\n",
                timerEvents, drawEvents, elapsed, cpu, double(timerEvents + drawEvents) / elapsed,
                double(timerEvents + drawEvents) / cpu);
    return 0;
}
