#include "PageGeometry.h"

#include "LocaleNumber.h"

#include <utility>

PageMetrics computePageMetrics(float dpi, float pageWidthPx, float pageHeightPx,
                               float targetWidthIn, float targetHeightIn)
{
    PageMetrics m;
    m.dpi = dpi;
    m.pageWidthPx = pageWidthPx;
    m.pageHeightPx = pageHeightPx;

    // A is the extent along the page's width, B along its height.
    const bool portraitPage = pageHeightPx > pageWidthPx;
    const float a = portraitPage ? targetHeightIn : targetWidthIn;
    const float b = portraitPage ? targetWidthIn : targetHeightIn;
    m.targetWidthPx = dpi * a;
    m.targetHeightPx = dpi * b;

    const float x = m.targetWidthPx * pageHeightPx;
    const float y = m.targetHeightPx * pageWidthPx;
    if (y >= x) {
        if (m.targetWidthPx > pageWidthPx) {
            m.targetHeightPx = pageWidthPx * b / a;
            m.targetWidthPx = pageWidthPx;
        }
    } else if (m.targetHeightPx > pageHeightPx) {
        m.targetWidthPx = pageHeightPx * a / b;
        m.targetHeightPx = pageHeightPx;
    }
    return m;
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

int findPrinterByName(const QStringList &installed, const QString &printerName)
{
    const QString wanted = printerName.toLower();
    for (int i = 0; i < installed.size(); ++i) {
        if (trimBlanks(installed.at(i)).toLower() == wanted)
            return i;
    }
    return -1;
}

PhotoPlacement placePhoto(float targetWidthPx, float targetHeightPx, float pageWidthPx,
                          float pageHeightPx, int32_t photoWidth, int32_t photoHeight)
{
    PhotoPlacement p;
    float tW = targetWidthPx;
    float tH = targetHeightPx;
    int32_t w = photoWidth;
    int32_t h = photoHeight;

    if (tH > tW && w >= h) {
        p.turnCode = 3;
        std::swap(w, h);
    } else if (tW >= tH && h > w) {
        p.turnCode = 1;
        std::swap(w, h);
    }

    // Products of a single and a pixel count are formed in double; the grown side is stored
    // back in single precision before it is used again.
    const int32_t a = roundNearest(double(tW) * h);
    const int32_t b = roundNearest(double(tH) * w);
    int32_t cw = w;
    int32_t ch = h;
    if (a > b) {
        tH = float(double(tW) * h / w);
        cw = roundNearest(double(tW) * h / tH);
    } else if (a < b) {
        tW = float(double(tH) * w / h);
        ch = roundNearest(double(tH) * w / tW);
    }

    p.targetWidthPx = tW;
    p.targetHeightPx = tH;
    p.imageRect.left = roundNearest((w - cw) / 2.0);
    p.imageRect.top = roundNearest((h - ch) / 2.0);
    p.imageRect.right = p.imageRect.left + cw - 1;
    p.imageRect.bottom = p.imageRect.top + ch - 1;
    p.deviceRect.left = roundNearest(double(pageWidthPx - tW) / 2);
    p.deviceRect.top = roundNearest(double(pageHeightPx - tH) / 2);
    p.deviceRect.right = roundNearest(tW) + p.deviceRect.left - 1;
    p.deviceRect.bottom = roundNearest(tH) + p.deviceRect.top - 1;
    return p;
}
