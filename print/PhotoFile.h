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
// header and the file's stamp as read; logs why not otherwise.
std::optional<std::pair<JpegHeader, FileStamp>> checkPhoto(const QString &path);

// Decodes the photo at `path`, `stored` pixels as checked at load, at eighths/8 of its size,
// straight from the file so that its bytes are not held in memory beside the pixels; null
// when the file no longer has `stamp`, or cannot be decoded.
QImage decodePhoto(const QString &path, const FileStamp &stamp, QSize stored, int eighths);

// How many times photo pixels have been decoded since the program started.
quint64 photoDecodeCount();
