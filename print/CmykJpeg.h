#pragma once

#include <QImage>
#include <QString>

class SrgbTransform;

// Decodes the four-component (CMYK) JPEG at `path` at eighths/8 of its size straight into sRGB
// RGB32, as Qt's reader cannot give its inks: through `transform` (the photo's CMYK profile) or
// the plain ink formula, the bytes read as Adobe's inverted ones when `inverted`. Null, with a
// warning, when the file cannot be decoded or its data is cut short or corrupt.
QImage decodeCmykJpeg(const QString &path, int eighths, bool inverted,
                      const SrgbTransform *transform);
