#include "Platform.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "X11Support.h"

namespace platform {

std::string offscreenConfig(QSize aScreen)
{
    return "{ \"synchronousWindowSystemEvents\": false, \"windowFrameMargins\": false,\n"
           "  \"screens\": [ { \"name\": \"mcbrun\", \"x\": 0, \"y\": 0, \"width\": " +
           std::to_string(aScreen.width()) + ", \"height\": " + std::to_string(aScreen.height()) +
           ",\n                 \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1 } ] }\n";
}

std::string useOffscreen(QSize aScreen)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/mcbrun-screen-XXXXXX";
    int fd = mkstemp(path.data());
    std::string text = offscreenConfig(aScreen);
    bool written = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0)
        close(fd);
    if (!written) {
        if (fd >= 0)
            unlink(path.c_str());
        std::fprintf(stderr, "mcbrun: cannot write the off-screen settings %s\n", path.c_str());
        return "";
    }
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).c_str(), 1);
    return path;
}

std::optional<std::string> displayProblem()
{
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    std::string platformName = chosen ? chosen : "";
    platformName = platformName.substr(0, platformName.find_first_of(":;"));
    if (!platformName.empty() && platformName != "xcb")
        return std::nullopt;
    const char* display = std::getenv("DISPLAY");
    if (!display || !display[0]) {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (platformName.empty() && wayland && wayland[0])
            return std::nullopt;
        return std::string("mcbrun: no display to open a window on (DISPLAY is not set); "
                           "use --headless to run without one");
    }
    if (!x11::canOpenDisplay())
        return "mcbrun: cannot open the display " + std::string(display) + "; use --headless to run without one";
    return std::nullopt;
}

}  // namespace platform
