/* Test helper: window-manager properties on an X server.
 *   x11_property intern NAME             create the atom
 *   x11_property set-root NAME VALUE     root window NAME = VALUE (type WINDOW, format 32)
 *   x11_property root NAME               print the root window's NAME (first item), or "none"
 *   x11_property find NAME               print NAME (first item) of the first top-level
 *                                        window that has it, or "none"
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int first_item(Display *dpy, Window w, Atom atom, unsigned long *value)
{
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char *data = NULL;
    int found = XGetWindowProperty(dpy, w, atom, 0, 1, False, AnyPropertyType, &type, &format, &items, &after,
                                   &data) == Success &&
                type != None && format == 32 && items >= 1;
    if (found)
        *value = ((unsigned long *)data)[0] & 0xFFFFFFFFul;
    if (data)
        XFree(data);
    return found;
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    Display *dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fprintf(stderr, "x11_property: no display\n");
        return 1;
    }
    Window root = DefaultRootWindow(dpy);
    Atom atom = XInternAtom(dpy, argv[2], False);
    unsigned long value;
    if (strcmp(argv[1], "intern") == 0) {
    } else if (strcmp(argv[1], "set-root") == 0 && argc > 3) {
        long v = (long)strtoul(argv[3], NULL, 0);
        XChangeProperty(dpy, root, atom, XA_WINDOW, 32, PropModeReplace, (unsigned char *)&v, 1);
    } else if (strcmp(argv[1], "root") == 0) {
        if (first_item(dpy, root, atom, &value))
            printf("%lu\n", value);
        else
            printf("none\n");
    } else if (strcmp(argv[1], "find") == 0) {
        Window r, parent, *children = NULL;
        unsigned int n = 0, i;
        int found = 0;
        if (XQueryTree(dpy, root, &r, &parent, &children, &n)) {
            for (i = 0; i < n && !found; ++i)
                if (first_item(dpy, children[i], atom, &value)) {
                    printf("%lu\n", value);
                    found = 1;
                }
            if (children)
                XFree(children);
        }
        if (!found)
            printf("none\n");
    } else {
        return 2;
    }
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return 0;
}
