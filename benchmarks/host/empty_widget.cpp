// Reference for the start-up measurement: an empty full-screen Qt 6 widget
// that paints once. After its first paint it prints "first-paint-ns
// <CLOCK_REALTIME ns>" and ends, as the runtime does with
// MCB_REPORT_FIRST_PAINT=1.
#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <ctime>

class Empty : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), Qt::black);
        if (!reported) {
            reported = true;
            struct timespec now;
            clock_gettime(CLOCK_REALTIME, &now);
            std::printf("first-paint-ns %lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
            std::fflush(stdout);
            QCoreApplication::exit(0);
        }
    }

private:
    bool reported = false;
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Empty widget;
    widget.setAttribute(Qt::WA_OpaquePaintEvent);
    if (QScreen* screen = widget.screen())
        widget.setGeometry(screen->geometry());
    widget.setWindowState(Qt::WindowFullScreen);
    widget.setVisible(true);
    return app.exec();
}
