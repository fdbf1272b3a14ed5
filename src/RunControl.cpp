#include "RunControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <cstdio>

#include "MainView.h"
#include "RunGuard.h"

RunControl::RunControl(MainView& aView, RunPlan aPlan) : view(aView), plan(std::move(aPlan))
{
    connect(&view, &MainView::firstPaintDone, this, [this] {
        std::vector<std::function<void()>> works;
        works.swap(waitingForPicture);
        for (const auto& work : works)
            work();
    });
}

QString RunControl::frameName(const QString& aDirectory, int aNumber)
{
    return QDir(aDirectory).filePath(QStringLiteral("frame-%1.png").arg(aNumber, 5, 10, QLatin1Char('0')));
}

void RunControl::start()
{
    if (plan.runFor)
        QTimer::singleShot(*plan.runFor, this, [this] { view.finish(host::EExitOk); });
    if (!plan.screenshot.isEmpty())
        QTimer::singleShot(plan.screenshotAfter, this, [this] { afterFirstPicture([this] { takeScreenshot(); }); });
    if (!plan.framesDirectory.isEmpty()) {
        if (!QDir().mkpath(plan.framesDirectory)) {
            failWriting(plan.framesDirectory);
            return;
        }
        frameTimer = new QTimer(this);
        frameTimer->setInterval(plan.frameInterval);
        connect(frameTimer, &QTimer::timeout, this, &RunControl::writeFrame);
        afterFirstPicture([this] {
            writeFrame();
            frameTimer->start();
        });
    }
    if (!plan.events.empty())
        afterFirstPicture([this] { playFrom(0); });
}

void RunControl::afterFirstPicture(std::function<void()> aWork)
{
    if (view.hasPainted())
        aWork();
    else
        waitingForPicture.push_back(std::move(aWork));
}

void RunControl::failWriting(const QString& aPath)
{
    std::fprintf(stderr, "mcbrun: cannot write %s\n", aPath.toLocal8Bit().constData());
    std::fflush(stderr);
    if (frameTimer)
        frameTimer->stop();
    view.finish(host::EExitError);
}

void RunControl::takeScreenshot()
{
    if (view.saveScreen(plan.screenshot))
        view.finish(host::EExitOk);
    else
        failWriting(plan.screenshot);
}

void RunControl::writeFrame()
{
    QString name = frameName(plan.framesDirectory, framesWritten + 1);
    if (!view.saveScreen(name)) {
        failWriting(name);
        return;
    }
    ++framesWritten;
}

void RunControl::playFrom(size_t aIndex)
{
    if (aIndex >= plan.events.size() || view.terminationStatus() != host::KRunGoesOn)
        return;
    const ScriptEvent& event = plan.events[aIndex];
    if (event.kind == ScriptEvent::Wait) {
        QTimer::singleShot(event.milliseconds, this, [this, aIndex] { playFrom(aIndex + 1); });
        return;
    }
    play(event);
    // The loop runs between two events, so what one of them asked for (a
    // repaint, a timer) happens before the next.
    QTimer::singleShot(0, this, [this, aIndex] { playFrom(aIndex + 1); });
}

void RunControl::play(const ScriptEvent& aEvent)
{
    switch (aEvent.kind) {
    case ScriptEvent::KeyPress:
    case ScriptEvent::KeyRelease: {
        QKeyEvent key(aEvent.kind == ScriptEvent::KeyPress ? QEvent::KeyPress : QEvent::KeyRelease, aEvent.key.key,
                      aEvent.key.modifiers, aEvent.text);
        QCoreApplication::sendEvent(&view, &key);
        break;
    }
    case ScriptEvent::PointerDown:
    case ScriptEvent::PointerMove:
    case ScriptEvent::PointerUp: {
        QEvent::Type type = QEvent::MouseMove;
        Qt::MouseButton button = Qt::NoButton;
        if (aEvent.kind == ScriptEvent::PointerDown) {
            type = QEvent::MouseButtonPress;
            button = Qt::LeftButton;
            buttons |= Qt::LeftButton;
        } else if (aEvent.kind == ScriptEvent::PointerUp) {
            type = QEvent::MouseButtonRelease;
            button = Qt::LeftButton;
            buttons &= ~Qt::LeftButton;
        }
        QPointF local = screen::pointToWidget(QPoint(aEvent.x, aEvent.y), view.placement());
        QMouseEvent mouse(type, local, view.mapToGlobal(local), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &mouse);
        break;
    }
    case ScriptEvent::Screenshot:
        if (!view.saveScreen(aEvent.file))
            failWriting(aEvent.file);
        break;
    case ScriptEvent::Quit:
        view.finish(host::EExitOk);
        break;
    case ScriptEvent::Wait:
        break;
    }
}
