#pragma once

#include <QByteArray>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <optional>

// What the frame header of a whole JPEG file declares.
struct JpegHeader
{
    int width = 0;
    int height = 0;
    int components = 0; // 1 grey, 3 colour, 4 CMYK
    bool progressive = false;
    // 8x8 blocks of all components together, as the decoder holds them.
    qint64 blocks = 0;
    // The embedded ICC profile, its chunks joined in order; empty when there is none or a
    // chunk is missing.
    QByteArray iccProfile;
    // An Adobe segment is present: its CMYK data is stored inverted, as Photoshop writes it.
    bool adobe = false;
};

// Walks the marker sequence of a JPEG file without decoding it: SOI first, every segment
// with a length that stays inside the data, exactly one supported frame header, at least one
// scan whose entropy-coded data holds 0xFF only as a stuffed 0xFF00, a restart marker or the
// start of the next marker, and EOI at the end (bytes after EOI are ignored, as cameras append
// data there). The scans must also hold at least one bit per block, the least any coded block
// takes, so that a few bytes cannot declare a huge photo. Truncated and structurally corrupt
// files give nullopt, so they can be refused before the decoder quietly paints their missing
// part grey.
std::optional<JpegHeader> checkJpegStructure(const uint8_t *data, std::size_t size);

// The libjpeg DCT scale, as N of N/8 (1 to 8), that decodes the fewest pixels while `region`
// of the stored image, decoded at that scale, still has at least `needed` pixels along both
// axes. libjpeg-turbo scales by any eighth while decoding, and Qt's JPEG reader uses it when
// asked for exactly that size.
int jpegScaleEighths(const QSizeF &region, const QSize &needed);
