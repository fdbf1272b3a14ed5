// What a run does besides the program, for developers and CI: a screenshot
// after some run time (then the run ends), numbered frames at an interval,
// an end after a fixed run time, and a script of input events. Times count
// from the start of the VM; screenshots, frames and the script wait for the
// program's first picture.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "EventScript.h"

class MainView;
class QTimer;

struct RunPlan {
    QString screenshot;  // empty: none
    int screenshotAfter = 0;
    QString framesDirectory;  // empty: none
    int frameInterval = 100;
    std::optional<int> runFor;
    std::vector<ScriptEvent> events;
};

class RunControl : public QObject {
    Q_OBJECT
public:
    RunControl(MainView& aView, RunPlan aPlan);

    // Called once the VM has started.
    void start();

    // The name of frame n (from 1): DIR/frame-00001.png.
    static QString frameName(const QString& aDirectory, int aNumber);

private:
    // Runs aWork now when a picture has been painted, else after the first.
    void afterFirstPicture(std::function<void()> aWork);
    void takeScreenshot();
    void writeFrame();
    void playFrom(size_t aIndex);
    void play(const ScriptEvent& aEvent);
    // A capture file could not be written: said on standard error, status 1.
    void failWriting(const QString& aPath);

    MainView& view;
    RunPlan plan;
    int framesWritten = 0;
    QTimer* frameTimer = nullptr;
    std::vector<std::function<void()>> waitingForPicture;
    Qt::MouseButtons buttons;
};
