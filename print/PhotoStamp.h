#pragma once

#include <QString>

#include <optional>

// What tells one version of a photo file from another: a file replaced by a rename has another
// inode, one written again another size or modification time (to the nanosecond), one whose
// permissions changed (an unreadable photo made readable) another status change time.
struct PhotoStamp
{
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    quint64 inode = 0;
    quint64 device = 0;

    friend bool operator==(const PhotoStamp &, const PhotoStamp &) = default;
};

// The stamp of the regular file at `path`; nullopt when there is none (no file, a folder).
std::optional<PhotoStamp> photoStamp(const QString &path);
