#pragma once

#include "JpegStructure.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QString>

#include <optional>
#include <utility>

// The imaging layer's access to photo files: the checks a load makes and the decoding at a
// libjpeg scale. Used by the imaging layer alone.

Q_DECLARE_LOGGING_CATEGORY(lcImaging)

// A JPEG of the largest accepted size at the highest quality stays well below this; anything
// bigger is not a photo and is not read into memory.
constexpr qint64 MaxPhotoFileBytes = 512ll * 1024 * 1024;

// What identifies the file a photo was loaded from, to notice when it is replaced.
struct FileStamp
{
    qint64 size = -1;
    QDateTime modified;

    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};

FileStamp stampOf(const QFileInfo &info);

// Raises the decoder's allocation limit and starts counting its damage warnings; once.
void prepareDecoder();

// Checks that the file at `path` is a whole JPEG of an acceptable size and returns its
// header and the file's stamp as read; logs why not otherwise, and sets *refusal to IgNoFile,
// IgTooLarge or IgUnreadable.
std::optional<std::pair<JpegHeader, FileStamp>> checkPhoto(const QString &path, int *refusal);

class SrgbTransform;

// How a four-component photo is decoded: its inks stored inverted (Adobe), and its profile.
struct CmykDecoding
{
    bool inverted = false;
    const SrgbTransform *transform = nullptr;
};

// Decodes the photo at `path`, `stored` pixels as checked at load, at eighths/8 of its size,
// straight from the file so that its bytes are not held in memory beside the pixels; null
// when the file no longer has `stamp`, or cannot be decoded. A CMYK photo (`cmyk` given)
// comes out in sRGB.
QImage decodePhoto(const QString &path, const FileStamp &stamp, QSize stored, int eighths,
                   const std::optional<CmykDecoding> &cmyk = std::nullopt);

// How many times photo pixels have been decoded since the program started.
quint64 photoDecodeCount();
