#include "ThumbLayout.h"

#include <cmath>
#include <cstdlib>

namespace ThumbLayout {

int rowCount(int photos)
{
    return photos <= 0 ? 0 : (photos + Columns - 1) / Columns;
}

int panelHeight(int photos, int boxHeight)
{
    return rowCount(photos) * (boxHeight + 600) + 400;
}

QPoint boxPlace(int index, int boxWidth, int boxHeight)
{
    const int column = index % Columns;
    const int row = index / Columns;
    return { (boxWidth + 30) * column + BoxLeft, BoxTop + row * (boxHeight + 600) };
}

QPoint labelPlace(QPoint box, int boxHeight)
{
    return { box.x(), box.y() + boxHeight + 50 };
}

QPoint printNowPlace(QPoint box, int boxHeight)
{
    return { box.x() + 1000, box.y() + boxHeight + 30 };
}

int firstVisiblePhoto(int top, int boxHeight)
{
    // Row r's box ends at top + BoxTop + r * pitch + boxHeight, below the viewport's top edge
    // once that is above 0.
    const int pitch = boxHeight + 600;
    const int hidden = -top - BoxTop - boxHeight;
    return hidden < 0 ? 0 : (hidden / pitch + 1) * Columns;
}

int panelTopAfterTick(int scroll, int top, int panelHeight, int viewportHeight, int boxHeight)
{
    const int step = boxHeight + 5;
    if (scroll == ScrollUp && top < 0)
        return top + step;
    // The limit is compared in single precision, as the panel's figures always were.
    if (scroll == ScrollDown && float((viewportHeight - panelHeight) + 100) < float(top))
        return top - step;
    return top;
}

int ballTop(int top, int panelHeight, int viewportHeight)
{
    const int range = panelHeight - viewportHeight;
    if (range <= 0)
        return BallRestTop;
    const double p
        = std::nearbyint(std::abs(double(top)) / range * (TrackBottom - TrackTop) + TrackTop);
    return p > TrackBottom ? BallLowestTop : int(p);
}

} // namespace ThumbLayout
