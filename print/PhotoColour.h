#pragma once

#include <QByteArray>
#include <QImage>

#include <memory>

// Colours as a photo's embedded ICC profile means them, brought to sRGB, which the printed page
// and the screen take its pixels to be. A photo without a profile is sRGB already.
class SrgbTransform;

// The transform from the ICC profile `icc` (RGB, grey or CMYK, as the photo's `components`
// say) to sRGB; null when there is no profile, it does not fit the photo or cannot be read, or
// it is sRGB's own. Transforms are shared by every photo with the same profile. Any thread.
std::shared_ptr<const SrgbTransform> transformToSrgb(const QByteArray &icc, int components);

// `image` (RGB32 or Grayscale8, as a photo with the transform's profile decodes) in sRGB: RGB32
// converted in place, grey made RGB32.
QImage convertToSrgb(QImage image, const SrgbTransform &transform);

// Converts `pixels` CMYK pixels of `cmyk` (4 bytes each; `inverted`: stored as 255 minus each
// ink, as Adobe writes them) to sRGB RGB32 in `out`: through `transform` when the photo has a
// CMYK profile (null otherwise), else by the plain ink formula.
void cmykToSrgb(const uchar *cmyk, QRgb *out, int pixels, bool inverted,
                const SrgbTransform *transform);
