#pragma once

#include "TestFiles.h"

#include <QBuffer>
#include <QDebug>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

// Photos made by the tests: four flat quarters, so that place, turn and proportions can be
// read back from any drawing of them.
namespace TestPhotos {

inline const QColor Red(220, 30, 30), Green(30, 180, 30), Blue(30, 30, 220), Yellow(230, 210, 20);
// Top left, top right, bottom left, bottom right of the photo as stored.
inline const QList<QColor> Upright { Red, Green, Blue, Yellow };

// The quarters' colours after the photo's quarter turn (code 1 clockwise, 3 anticlockwise).
inline QList<QColor> quartersAfterTurn(int code)
{
    return code == 1 ? QList<QColor> { Blue, Red, Yellow, Green }
        : code == 3  ? QList<QColor> { Green, Yellow, Red, Blue }
                     : Upright;
}

inline QImage quartersImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    const int cx = width / 2, cy = height / 2;
    p.fillRect(0, 0, cx, cy, Red);
    p.fillRect(cx, 0, width - cx, cy, Green);
    p.fillRect(0, cy, cx, height - cy, Blue);
    p.fillRect(cx, cy, width - cx, height - cy, Yellow);
    p.end();
    return image;
}

inline QByteArray encodeJpeg(const QImage &image, int quality = 90, bool progressive = false,
                             bool optimized = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.setOptimizedWrite(optimized);
    return writer.write(image) ? bytes : QByteArray();
}

inline QByteArray jpegBytes(int width, int height, int quality = 90, bool progressive = false,
                            bool grey = false)
{
    const QImage image = quartersImage(width, height);
    return encodeJpeg(grey ? image.convertToFormat(QImage::Format_Grayscale8) : image, quality,
                      progressive);
}

inline bool writeJpeg(const QString &path, int width, int height)
{
    return writeFile(path, jpegBytes(width, height));
}

// Offset of the first entropy-coded byte of a JPEG's first scan.
inline qsizetype scanDataOffset(const QByteArray &jpeg)
{
    const qsizetype sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    return sos + 2 + ((uchar(jpeg[sos + 2]) << 8) | uchar(jpeg[sos + 3]));
}

// The same JPEG with its frame header, baseline or progressive, declaring width x height.
inline QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0)
        sof = jpeg.indexOf(QByteArray("\xFF\xC2", 2));
    const char size[4] = { char(height >> 8), char(height), char(width >> 8), char(width) };
    return sof < 0 ? QByteArray() : jpeg.replace(sof + 5, 4, size, 4);
}

// The same JPEG with `count` zero bytes more of scan data before its EOI, so that it holds
// the bit per block that a photo of a larger declared size holds at least.
inline QByteArray withScanPadding(QByteArray jpeg, qsizetype count)
{
    return jpeg.insert(jpeg.size() - 2, QByteArray(count, '\0'));
}

inline bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 40 && qAbs(a.green() - b.green()) <= 40
        && qAbs(a.blue() - b.blue()) <= 40;
}

// Bounding box of everything that is not white.
inline QRect inkBounds(const QImage &page)
{
    const QImage image = page.convertToFormat(QImage::Format_RGB32);
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qRed(line[x]) < 236 || qGreen(line[x]) < 236 || qBlue(line[x]) < 236) {
                left = qMin(left, x), right = qMax(right, x);
                top = qMin(top, y), bottom = qMax(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// "" when `page` shows the photo exactly over `device` (clipped to the page, within
// `tolerance` pixels), white elsewhere, with `quarters` at the centres of its four quarters;
// otherwise what differs. `scale` maps device pixels to the page image's pixels.
inline QString placementMismatch(const QImage &page, const QRect &device,
                                 const QList<QColor> &quarters, double scale = 1.0,
                                 int tolerance = 1)
{
    const QRectF d(device.x() * scale, device.y() * scale, device.width() * scale,
                   device.height() * scale);
    const QRect expected = d.toRect() & page.rect();
    const QRect ink = inkBounds(page);
    const QMargins slack(tolerance, tolerance, tolerance, tolerance);
    if (!(expected + slack).contains(ink) || !(ink + slack).contains(expected)) {
        QString text;
        QDebug(&text) << "ink at" << ink << "expected" << expected;
        return text;
    }
    for (int i = 0; i < 4; ++i) {
        const QPointF centre(d.x() + d.width() * (i % 2 ? 0.75 : 0.25),
                             d.y() + d.height() * (i / 2 ? 0.75 : 0.25));
        if (!near(page.pixelColor(centre.toPoint()), quarters[i]))
            return QStringLiteral("quarter %1 has the wrong colour").arg(i);
    }
    return {};
}

} // namespace TestPhotos
