#pragma once

#include "Imaging.h"
#include "PhotoStamp.h"

#include <QHash>
#include <QString>

#include <list>
#include <optional>

// Thumbnails already decoded: the small rendering of each photo, never the photo at full size,
// one per path with the stamp of the file it was decoded from, so that a changed or replaced
// file is decoded again. A photo found unreadable is kept as well, without a rendering, so
// that showing it again reads nothing. Once the entries pass the budget, the least recently
// used go first. Images loaded from an entry share its pixels, so evicting an entry that is
// on screen frees its memory only when the viewer lets the image go.
class ThumbCache
{
public:
    // About 2,400 thumbnails of a 100 x 67 box: more than the largest job shows.
    static constexpr qint64 DefaultBudget = 64ll << 20;
    // What an entry costs beside its pixels: the path, the image's state, the list and hash.
    static constexpr qint64 EntryOverhead = 512;

    explicit ThumbCache(qint64 budgetBytes = DefaultBudget);

    // The rendering kept for the file at `path` with `stamp`: a snapshot, null for a photo
    // found unreadable, or nullopt when nothing is kept for that version. A hit counts as use.
    std::optional<ImageSnapshot> find(const QString &path, const PhotoStamp &stamp);
    // Whether anything is kept for `path`, of whatever version; does not count as use.
    bool contains(const QString &path) const { return index.contains(path); }
    // Keeps `snapshot` (null: unreadable) for `path` at `stamp` as the most recently used,
    // replacing what was kept for the path, then evicts down to the budget.
    void insert(const QString &path, const PhotoStamp &stamp, ImageSnapshot snapshot);
    // Whether an entry of `pixelBytes` fits without evicting anything.
    bool hasRoomFor(qint64 pixelBytes) const;
    void clear();

    qint64 budget() const { return budgetBytes; }
    void setBudget(qint64 bytes);
    qint64 bytesHeld() const { return held; }
    int count() const { return int(entries.size()); }

private:
    struct Entry
    {
        QString path;
        PhotoStamp stamp;
        ImageSnapshot snapshot;
        qint64 bytes = 0;
    };
    void evict(std::list<Entry>::iterator entry);
    void evictToBudget();

    qint64 budgetBytes;
    qint64 held = 0;
    std::list<Entry> entries; // most recently used first
    QHash<QString, std::list<Entry>::iterator> index;
};
