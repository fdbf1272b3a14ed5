// The Qt platform of a run, chosen before the application object exists
// (Qt aborts when its platform cannot start): the off-screen platform for
// headless runs, with a screen of the run's size, or a check that the
// window can be shown at all.
#pragma once

#include <QSize>
#include <optional>
#include <string>

namespace platform {

// The off-screen platform's settings for one screen of that size.
std::string offscreenConfig(QSize aScreen);

// Makes the run off-screen with a screen of that size: writes the settings
// to a temporary file and names it in QT_QPA_PLATFORM. Returns the file,
// to be removed once the application object exists; empty when it could
// not be written (the message is on standard error).
std::string useOffscreen(QSize aScreen);

// Why no window can be shown, or nothing when one can: a platform chosen in
// QT_QPA_PLATFORM other than xcb is taken as able to; otherwise the X
// display of $DISPLAY must answer (or, without $DISPLAY, a Wayland one be
// named).
std::optional<std::string> displayProblem();

}  // namespace platform
