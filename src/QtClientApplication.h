// The Qt application object of the runtime. On X11 it watches the root
// window's _MB_CURRENT_APP_WINDOW (the Hildon window manager's current
// application) and tells the window, which turns it into foreground and
// background events.
#pragma once

#include <QApplication>
#include <memory>

class MainView;

namespace x11 {
class RootWindowWatch;
}

class QtClientApplication : public QApplication {
    Q_OBJECT
public:
    QtClientApplication(int& aArgc, char** aArgv);
    ~QtClientApplication() override;

    // Set by main once the window exists; null otherwise.
    MainView* mainView = nullptr;

private:
    std::unique_ptr<x11::RootWindowWatch> rootWatch;
};
