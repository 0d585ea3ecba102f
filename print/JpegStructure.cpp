#include "JpegStructure.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t SOI = 0xD8;
constexpr uint8_t EOI = 0xD9;
constexpr uint8_t SOS = 0xDA;
constexpr qsizetype MaxIccProfileBytes = 4 << 20;

bool isRestart(uint8_t marker)
{
    return marker >= 0xD0 && marker <= 0xD7;
}

// Frame headers the decoder handles: baseline, extended and progressive, Huffman or
// arithmetic. Lossless and hierarchical frames are refused.
bool isSupportedFrame(uint8_t marker)
{
    return marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA;
}

// Segments with a length field that may stand between or after scans.
bool isTableOrMisc(uint8_t marker)
{
    return marker == 0xC4 // DHT
        || marker == 0xCC // DAC
        || marker == 0xDB // DQT
        || marker == 0xDC // DNL
        || marker == 0xDD // DRI
        || (marker >= 0xE0 && marker <= 0xEF) // APPn
        || marker == 0xFE; // COM
}

uint16_t readBigEndian16(const uint8_t *p)
{
    return uint16_t((p[0] << 8) | p[1]);
}

// Skips entropy-coded data from `pos`; returns the offset of the 0xFF that starts the next
// marker, or size when the data ends first. Adds the restart markers passed to *restarts.
std::size_t skipEntropyData(const uint8_t *data, std::size_t size, std::size_t pos,
                            std::size_t *restarts)
{
    while (pos < size) {
        const void *hit = std::memchr(data + pos, 0xFF, size - pos);
        if (!hit)
            return size;
        const std::size_t ff = std::size_t(static_cast<const uint8_t *>(hit) - data);
        std::size_t next = ff + 1;
        while (next < size && data[next] == 0xFF)
            ++next;
        if (next >= size)
            return size;
        const uint8_t byte = data[next];
        if (byte == 0x00 || isRestart(byte)) {
            *restarts += isRestart(byte) ? 1 : 0;
            pos = next + 1;
            continue;
        }
        return ff;
    }
    return size;
}

// Counts the frame's blocks from its components' sampling factors (1 to 4 each; the decoder
// refuses others): a component sampled at h/hMax across has ceil(width * h / hMax) columns.
bool countBlocks(const uint8_t *frameBody, JpegHeader *header)
{
    const uint8_t *component = frameBody + 6;
    int hMax = 0, vMax = 0;
    for (int i = 0; i < header->components; ++i) {
        const int h = component[3 * i + 1] >> 4, v = component[3 * i + 1] & 0x0F;
        if (h < 1 || h > 4 || v < 1 || v > 4)
            return false;
        hMax = std::max(hMax, h);
        vMax = std::max(vMax, v);
    }
    const auto ceilDiv = [](qint64 a, qint64 b) { return (a + b - 1) / b; };
    header->blocks = 0;
    for (int i = 0; i < header->components; ++i) {
        const int h = component[3 * i + 1] >> 4, v = component[3 * i + 1] & 0x0F;
        header->blocks += ceilDiv(ceilDiv(qint64(header->width) * h, hMax), 8)
            * ceilDiv(ceilDiv(qint64(header->height) * v, vMax), 8);
    }
    return true;
}

// Keeps what the APPn segment `marker` says about the photo's colours: an ICC profile chunk
// (APP2 "ICC_PROFILE", numbered from 1) or Adobe's segment (APP14 "Adobe").
void noteColourSegment(uint8_t marker, const uint8_t *body, std::size_t length,
                       std::vector<QByteArray> *iccChunks, JpegHeader *header)
{
    static const char IccTag[] = "ICC_PROFILE"; // with its terminating zero: 12 bytes
    if (marker == 0xE2 && length > 14 && std::memcmp(body, IccTag, sizeof IccTag) == 0) {
        const int number = body[12], count = body[13];
        if (number < 1 || number > count)
            return;
        iccChunks->resize(std::max(iccChunks->size(), std::size_t(count)));
        (*iccChunks)[std::size_t(number - 1)]
            = QByteArray(reinterpret_cast<const char *>(body + 14), qsizetype(length - 14));
    } else if (marker == 0xEE && length >= 12 && std::memcmp(body, "Adobe", 5) == 0) {
        header->adobe = true;
    }
}

} // namespace

std::optional<JpegHeader> checkJpegStructure(const uint8_t *data, std::size_t size)
{
    if (!data || size < 4 || data[0] != 0xFF || data[1] != SOI)
        return std::nullopt;

    JpegHeader header;
    bool haveFrame = false;
    bool haveScan = false;
    qint64 entropyBytes = 0;
    std::vector<QByteArray> iccChunks;
    std::size_t pos = 2;
    for (;;) {
        if (pos >= size || data[pos] != 0xFF)
            return std::nullopt;
        while (pos < size && data[pos] == 0xFF)
            ++pos; // fill bytes before a marker
        if (pos >= size)
            return std::nullopt;
        const uint8_t marker = data[pos++];
        if (marker == EOI) {
            if (!haveScan || entropyBytes * 8 < header.blocks)
                return std::nullopt;
            if (std::none_of(iccChunks.begin(), iccChunks.end(),
                             [](const QByteArray &chunk) { return chunk.isEmpty(); })) {
                for (const QByteArray &chunk : iccChunks)
                    header.iccProfile += chunk;
            }
            // Real profiles stay far below this; a larger one is taken as no profile.
            if (header.iccProfile.size() > MaxIccProfileBytes)
                header.iccProfile.clear();
            return header;
        }
        if (!isSupportedFrame(marker) && !isTableOrMisc(marker) && marker != SOS)
            return std::nullopt; // SOI again, stray RSTn, reserved or unsupported frame types

        if (pos + 2 > size)
            return std::nullopt;
        const std::size_t length = readBigEndian16(data + pos);
        if (length < 2 || pos + length > size)
            return std::nullopt;
        const uint8_t *body = data + pos + 2;
        const std::size_t bodyLength = length - 2;

        if (isSupportedFrame(marker)) {
            if (haveFrame || bodyLength < 6)
                return std::nullopt;
            header.height = readBigEndian16(body + 1);
            header.width = readBigEndian16(body + 3);
            header.components = body[5];
            header.progressive = marker == 0xC2 || marker == 0xCA;
            if (header.width == 0 || header.height == 0 // height 0 defers to DNL: not supported
                || (header.components != 1 && header.components != 3 && header.components != 4)
                || bodyLength != 6 + 3 * std::size_t(header.components))
                return std::nullopt;
            if (!countBlocks(body, &header))
                return std::nullopt;
            haveFrame = true;
            pos += length;
        } else if (marker == SOS) {
            if (!haveFrame || bodyLength < 1)
                return std::nullopt;
            const std::size_t scanComponents = body[0];
            if (scanComponents < 1 || scanComponents > 4 || bodyLength != 4 + 2 * scanComponents)
                return std::nullopt;
            std::size_t restarts = 0;
            const std::size_t start = pos + length;
            pos = skipEntropyData(data, size, start, &restarts);
            if (pos >= size)
                return std::nullopt; // the data stops inside a scan
            entropyBytes += qint64(pos - start) - 2 * qint64(restarts);
            haveScan = true;
        } else {
            noteColourSegment(marker, body, bodyLength, &iccChunks, &header);
            pos += length;
        }
    }
}

int jpegScaleEighths(const QSizeF &region, const QSize &needed)
{
    for (int eighths = 1; eighths < 8; ++eighths) {
        if (region.width() * eighths >= qreal(needed.width()) * 8
            && region.height() * eighths >= qreal(needed.height()) * 8)
            return eighths;
    }
    return 8;
}
