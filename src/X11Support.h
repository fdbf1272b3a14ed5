// The X11 side of the host: window-manager properties of the Hildon desktop
// and the watch on the root window. Only X11Support.cpp includes Xlib (its
// macros and typedefs clash with Qt's names). Every function does nothing
// (and reports so) when the application does not run on xcb.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QtGlobal>
#include <functional>

namespace x11 {

// True when running on xcb with an Xlib display.
bool available();

// True when the X display named by $DISPLAY accepts a connection (tried
// before the application object exists, which would abort without one).
bool canOpenDisplay();

// Asks the compositor not to composite: _HILDON_NON_COMPOSITED_WINDOW = 1
// (INTEGER, format 32) on the root window, when that atom exists.
void setNonComposited();

// _HILDON_PORTRAIT_MODE_REQUEST (CARDINAL, format 32) on the window: 1 to ask
// for portrait, 0 for landscape. Nothing is done when the atom does not
// exist. Returns false only when the property could not be changed.
bool setPortraitRequest(quintptr aWindow, bool aPortrait);

// The root window's _MB_CURRENT_APP_WINDOW (type WINDOW): false when it is
// not set, that is when no Hildon window manager runs.
bool currentAppWindow(unsigned long& aWindow);

// Watches PropertyNotify (new value) of _MB_CURRENT_APP_WINDOW on the root
// window and reports the property's first value. Never swallows an event.
class RootWindowWatch : public QAbstractNativeEventFilter {
public:
    explicit RootWindowWatch(std::function<void(unsigned long)> aOnChange);
    bool nativeEventFilter(const QByteArray& aEventType, void* aMessage, qintptr* aResult) override;

private:
    std::function<void(unsigned long)> onChange;
    unsigned long atom = 0;  // interned once
    unsigned long root = 0;
};

}  // namespace x11
