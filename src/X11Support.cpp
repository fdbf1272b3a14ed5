// The one file of the host that includes Xlib.
#include "X11Support.h"

#include <QGuiApplication>
#include <xcb/xcb.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace x11 {

namespace {

Display* display()
{
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->display() : nullptr;
}

// The atom if it exists already, else 0 (nothing is created).
Atom existingAtom(Display* aDisplay, const char* aName)
{
    return XInternAtom(aDisplay, aName, True);
}

}  // namespace

bool available()
{
    return display() != nullptr;
}

bool canOpenDisplay()
{
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return false;
    XCloseDisplay(dpy);
    return true;
}

void setNonComposited()
{
    Display* dpy = display();
    if (!dpy)
        return;
    Atom atom = existingAtom(dpy, "_HILDON_NON_COMPOSITED_WINDOW");
    if (atom == None)
        return;
    long value = 1;
    XChangeProperty(dpy, DefaultRootWindow(dpy), atom, XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&value), 1);
    XFlush(dpy);
}

bool setPortraitRequest(quintptr aWindow, bool aPortrait)
{
    Display* dpy = display();
    if (!dpy || aWindow == 0)
        return true;
    Atom atom = existingAtom(dpy, "_HILDON_PORTRAIT_MODE_REQUEST");
    if (atom == None)
        return true;
    long value = aPortrait ? 1 : 0;
    int result = XChangeProperty(dpy, Window(aWindow), atom, XA_CARDINAL, 32, PropModeReplace,
                                 reinterpret_cast<unsigned char*>(&value), 1);
    XFlush(dpy);
    return result != 0;
}

namespace {

bool readAppWindow(Display* aDisplay, Atom aAtom, unsigned long& aWindow)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(aDisplay, DefaultRootWindow(aDisplay), aAtom, 0, 1024, False, XA_WINDOW,
                                    &type, &format, &items, &after, &data);
    bool found = status == Success && type == XA_WINDOW && format == 32 && items >= 1 && data;
    if (found)
        aWindow = reinterpret_cast<unsigned long*>(data)[0] & 0xFFFFFFFFul;  // format 32 comes as longs
    if (data)
        XFree(data);
    return found;
}

}  // namespace

bool currentAppWindow(unsigned long& aWindow)
{
    Display* dpy = display();
    if (!dpy)
        return false;
    Atom atom = existingAtom(dpy, "_MB_CURRENT_APP_WINDOW");
    return atom != None && readAppWindow(dpy, atom, aWindow);
}

RootWindowWatch::RootWindowWatch(std::function<void(unsigned long)> aOnChange) : onChange(std::move(aOnChange))
{
    if (Display* dpy = display()) {
        // Interned (created if need be) so that a window manager started
        // later is still seen.
        atom = XInternAtom(dpy, "_MB_CURRENT_APP_WINDOW", False);
        root = DefaultRootWindow(dpy);
    }
}

bool RootWindowWatch::nativeEventFilter(const QByteArray& aEventType, void* aMessage, qintptr* aResult)
{
    (void)aResult;
    if (atom == 0 || aEventType != "xcb_generic_event_t" || !aMessage)
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(aMessage);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
    if (notify->window != root || notify->atom != atom || notify->state != XCB_PROPERTY_NEW_VALUE)
        return false;
    Display* dpy = display();
    unsigned long window = 0;
    if (dpy && readAppWindow(dpy, Atom(atom), window) && onChange)
        onChange(window);
    return false;
}

}  // namespace x11
