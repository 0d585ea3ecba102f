#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <cmath>

// Window geometry is kept in twips, as the layouts were drawn; a screen pixel is 15 twips.
constexpr int TwipsPerPixel = 15;

inline int twipsToPixels(double twips)
{
    return int(std::nearbyint(twips / TwipsPerPixel));
}

inline double pixelsToTwips(int pixels)
{
    return double(pixels) * TwipsPerPixel;
}

inline QRect twipsRect(double left, double top, double width, double height)
{
    return { twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height) };
}
