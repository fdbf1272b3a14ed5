// Test double of the device's mode-control service: owns "com.nokia.mce" on
// the system bus and emits "display_status_ind" with each line read from
// standard input ("sent <line>" is printed after each signal).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.registerService("com.nokia.mce")) {
        std::fprintf(stderr, "mce_signal: no system bus or name taken\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[256];
        if (!std::fgets(line, sizeof line, stdin)) {
            app.quit();
            return;
        }
        QString state = QString::fromLocal8Bit(line).trimmed();
        QDBusMessage signal =
            QDBusMessage::createSignal("/com/nokia/mce/signal", "com.nokia.mce.signal", "display_status_ind");
        signal << state;
        bus.send(signal);
        std::printf("sent %s\n", qPrintable(state));
        std::fflush(stdout);
    });
    return app.exec();
}
