// Where the logical screen's picture sits in a window of any size: scaled by
// a whole factor (nearest neighbour) and centred, black around it. The
// "picture" is the logical screen as it is shown before scaling: the back
// buffer, transposed when the view is rotated. Pointer positions map back to
// picture coordinates by the inverse, so a window at scale 1 with the
// picture's size reports the widget coordinates unchanged.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace screen {

// A scale request: a whole factor from 1 to kMaxScale, or kScaleFit (the
// largest factor that fits).
constexpr int kScaleFit = 0;
constexpr int kMaxScale = 16;

// The largest whole k >= 1 with aPicture * k inside aArea (1 when even the
// picture itself does not fit).
int fitScale(QSize aPicture, QSize aArea);

struct Placement {
    int scale = 1;
    QPoint offset;  // the picture's top-left corner in the widget (>= 0)
    QSize picture;  // unscaled

    bool operator==(const Placement&) const = default;
};

// The requested scale, reduced to what fits the widget (never below 1);
// centred, or at the left/top edge when the picture is larger.
Placement place(QSize aPicture, QSize aWidget, int aRequestedScale);

// A picture rectangle on the widget.
QRect toWidget(const QRect& aPictureRect, const Placement& aPlacement);
// The picture pixels that a widget rectangle covers (partly covered pixels
// included), within the picture.
QRect toPicture(const QRect& aWidgetRect, const Placement& aPlacement);
// The picture pixel under a widget position; outside the picture the
// mapping goes on linearly (a drag beyond the edge gives coordinates beyond
// it, as an unscaled window does).
QPoint pointToPicture(QPoint aWidgetPoint, const Placement& aPlacement);
// The widget position of a picture pixel's top-left corner.
QPoint pointToWidget(QPoint aPicturePoint, const Placement& aPlacement);

}  // namespace screen
