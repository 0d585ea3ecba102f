#pragma once

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRect>

// Photos made by the tests: four flat quadrants, so that position, turn and proportions can
// be read back from any drawing of them.
namespace TestPhotos {

inline const QColor TopLeft = QColor(220, 30, 30); // red
inline const QColor TopRight = QColor(30, 180, 30); // green
inline const QColor BottomLeft = QColor(30, 30, 220); // blue
inline const QColor BottomRight = QColor(230, 210, 20); // yellow

inline QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    const int cx = width / 2;
    const int cy = height / 2;
    p.fillRect(0, 0, cx, cy, TopLeft);
    p.fillRect(cx, 0, width - cx, cy, TopRight);
    p.fillRect(0, cy, cx, height - cy, BottomLeft);
    p.fillRect(cx, cy, width - cx, height - cy, BottomRight);
    return image;
}

inline QByteArray jpegBytes(const QImage &image, int quality = 90, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline bool writeQuadrantJpeg(const QString &path, int width, int height)
{
    return writeFile(path, jpegBytes(quadrants(width, height)));
}

// Offset of the first entropy-coded byte after the first SOS segment, or -1.
inline qsizetype firstScanData(const QByteArray &jpeg)
{
    const qsizetype sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    if (sos < 0 || sos + 4 > jpeg.size())
        return -1;
    const int length = (uchar(jpeg[sos + 2]) << 8) | uchar(jpeg[sos + 3]);
    return sos + 2 + length;
}

// The same JPEG with its frame header declaring width x height.
inline QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0)
        return {};
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

inline bool near(const QColor &a, const QColor &b, int tolerance = 40)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

inline bool isWhite(QRgb pixel)
{
    return qRed(pixel) > 235 && qGreen(pixel) > 235 && qBlue(pixel) > 235;
}

// Bounding box of everything that is not white.
inline QRect inkBounds(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int left = rgb.width(), top = rgb.height(), right = -1, bottom = -1;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if (!isWhite(line[x])) {
                left = qMin(left, x);
                right = qMax(right, x);
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace TestPhotos
