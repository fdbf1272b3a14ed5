// A stand-in for the device's accelerometer on a desktop (--tilt): the
// device is tilted by a roll (right edge down is positive) and a pitch (top
// edge down is positive), and the accelerometer reads gravity in thousandths
// of g, the way the device does: lying flat it reads (0, 0, -1000).
//
// Tilt by keys: Ctrl+Left/Right/Up/Down tilt the device towards that side by
// kStepDegrees per press (auto-repeat included, up to 90 degrees), Ctrl+Space
// lays it flat. Tilt by the mouse: with the right button held, moving the
// pointer tilts it by one degree per kPixelsPerDegree pixels from where the
// button went down; letting go returns to the keys' tilt. These keys and the
// right button then belong to the tilt and do not reach the program.
#pragma once

#include <QPoint>
#include <optional>

class QKeyEvent;
class QMouseEvent;

struct TiltReading {
    int x = 0, y = 0, z = -1000;
    bool operator==(const TiltReading&) const = default;
};

class Tilt {
public:
    static constexpr int kStepDegrees = 10;
    static constexpr int kPixelsPerDegree = 4;

    // Gravity in thousandths of g at that roll and pitch (degrees).
    static TiltReading reading(int aRollDegrees, int aPitchDegrees);
    // The reading now (the mouse's tilt while its button is held).
    TiltReading reading() const;
    int roll() const;
    int pitch() const;

    // Takes the key event when it is a tilt key; true when taken.
    bool handleKey(const QKeyEvent& aEvent);
    // Takes the mouse event when it is the tilt button's; aPosition in
    // widget coordinates. True when taken.
    bool handleMouse(const QMouseEvent& aEvent, QPoint aPosition);

private:
    int keyRoll = 0, keyPitch = 0;
    std::optional<QPoint> dragStart;
    QPoint dragNow;
};
