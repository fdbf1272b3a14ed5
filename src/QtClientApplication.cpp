#include "QtClientApplication.h"

#include "MainView.h"
#include "X11Support.h"

QtClientApplication::QtClientApplication(int& aArgc, char** aArgv) : QApplication(aArgc, aArgv)
{
    if (x11::available()) {
        rootWatch = std::make_unique<x11::RootWindowWatch>([this](unsigned long window) {
            if (mainView)
                mainView->windowManagerChanged(window);
        });
        installNativeEventFilter(rootWatch.get());
    }
}

QtClientApplication::~QtClientApplication()
{
    if (rootWatch)
        removeNativeEventFilter(rootWatch.get());
}
