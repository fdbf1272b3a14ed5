#include "Tilt.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

int clampDegrees(int aDegrees)
{
    return std::clamp(aDegrees, -90, 90);
}

}  // namespace

TiltReading Tilt::reading(int aRollDegrees, int aPitchDegrees)
{
    const double toRadians = std::numbers::pi / 180.0;
    double roll = clampDegrees(aRollDegrees) * toRadians;
    double pitch = clampDegrees(aPitchDegrees) * toRadians;
    return TiltReading{int(std::lround(1000.0 * std::sin(roll) * std::cos(pitch))),
                       int(std::lround(1000.0 * std::sin(pitch))),
                       int(std::lround(-1000.0 * std::cos(roll) * std::cos(pitch)))};
}

int Tilt::roll() const
{
    if (!dragStart)
        return keyRoll;
    return clampDegrees(keyRoll + (dragNow.x() - dragStart->x()) / kPixelsPerDegree);
}

int Tilt::pitch() const
{
    // Pointer up (towards the top edge) tips the top edge down.
    if (!dragStart)
        return keyPitch;
    return clampDegrees(keyPitch + (dragStart->y() - dragNow.y()) / kPixelsPerDegree);
}

TiltReading Tilt::reading() const
{
    return reading(roll(), pitch());
}

bool Tilt::handleKey(const QKeyEvent& aEvent)
{
    if (!(aEvent.modifiers() & Qt::ControlModifier))
        return false;
    int roll = 0, pitch = 0;
    switch (aEvent.key()) {
    case Qt::Key_Left:
        roll = -kStepDegrees;
        break;
    case Qt::Key_Right:
        roll = kStepDegrees;
        break;
    case Qt::Key_Up:
        pitch = kStepDegrees;
        break;
    case Qt::Key_Down:
        pitch = -kStepDegrees;
        break;
    case Qt::Key_Space:
        break;
    default:
        return false;
    }
    if (aEvent.type() == QEvent::KeyPress) {
        if (aEvent.key() == Qt::Key_Space) {
            keyRoll = keyPitch = 0;
        } else {
            keyRoll = clampDegrees(keyRoll + roll);
            keyPitch = clampDegrees(keyPitch + pitch);
        }
    }
    return true;
}

bool Tilt::handleMouse(const QMouseEvent& aEvent, QPoint aPosition)
{
    switch (aEvent.type()) {
    case QEvent::MouseButtonPress:
        if (aEvent.button() != Qt::RightButton)
            return false;
        dragStart = dragNow = aPosition;
        return true;
    case QEvent::MouseMove:
        if (!dragStart || !(aEvent.buttons() & Qt::RightButton))
            return false;
        dragNow = aPosition;
        return true;
    case QEvent::MouseButtonRelease:
        if (aEvent.button() != Qt::RightButton)
            return false;
        dragStart.reset();
        return true;
    default:
        return false;
    }
}
