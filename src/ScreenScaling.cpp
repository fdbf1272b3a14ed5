#include "ScreenScaling.h"

#include <algorithm>

namespace screen {

namespace {

// Division rounding towards minus infinity.
int floorDiv(int aValue, int aDivisor)
{
    int q = aValue / aDivisor;
    return (aValue % aDivisor != 0 && aValue < 0) ? q - 1 : q;
}

}  // namespace

int fitScale(QSize aPicture, QSize aArea)
{
    if (aPicture.width() <= 0 || aPicture.height() <= 0)
        return 1;
    int k = std::min(aArea.width() / aPicture.width(), aArea.height() / aPicture.height());
    return std::clamp(k, 1, kMaxScale);
}

Placement place(QSize aPicture, QSize aWidget, int aRequestedScale)
{
    Placement placement;
    placement.picture = aPicture;
    int fit = fitScale(aPicture, aWidget);
    placement.scale = aRequestedScale == kScaleFit ? fit : std::clamp(std::min(aRequestedScale, fit), 1, kMaxScale);
    int x = (aWidget.width() - aPicture.width() * placement.scale) / 2;
    int y = (aWidget.height() - aPicture.height() * placement.scale) / 2;
    placement.offset = QPoint(std::max(x, 0), std::max(y, 0));
    return placement;
}

QRect toWidget(const QRect& aPictureRect, const Placement& aPlacement)
{
    int k = aPlacement.scale;
    return QRect(aPlacement.offset.x() + aPictureRect.x() * k, aPlacement.offset.y() + aPictureRect.y() * k,
                 aPictureRect.width() * k, aPictureRect.height() * k);
}

QRect toPicture(const QRect& aWidgetRect, const Placement& aPlacement)
{
    if (aWidgetRect.isEmpty())
        return QRect();
    int k = aPlacement.scale;
    QPoint o = aPlacement.offset;
    int left = floorDiv(aWidgetRect.left() - o.x(), k);
    int top = floorDiv(aWidgetRect.top() - o.y(), k);
    int right = floorDiv(aWidgetRect.right() - o.x(), k);
    int bottom = floorDiv(aWidgetRect.bottom() - o.y(), k);
    return QRect(QPoint(left, top), QPoint(right, bottom)) & QRect(QPoint(0, 0), aPlacement.picture);
}

QPoint pointToPicture(QPoint aWidgetPoint, const Placement& aPlacement)
{
    int k = aPlacement.scale;
    return QPoint(floorDiv(aWidgetPoint.x() - aPlacement.offset.x(), k),
                  floorDiv(aWidgetPoint.y() - aPlacement.offset.y(), k));
}

QPoint pointToWidget(QPoint aPicturePoint, const Placement& aPlacement)
{
    return aPlacement.offset + aPicturePoint * aPlacement.scale;
}

}  // namespace screen
