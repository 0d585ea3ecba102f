#include "ThumbCache.h"

ThumbCache::ThumbCache(qint64 budgetBytes)
    : budgetBytes(budgetBytes)
{ }

std::optional<ImageSnapshot> ThumbCache::find(const QString &path, const PhotoStamp &stamp)
{
    const auto it = index.constFind(path);
    if (it == index.cend() || (*it)->stamp != stamp)
        return std::nullopt;
    entries.splice(entries.begin(), entries, *it);
    return entries.front().snapshot;
}

void ThumbCache::insert(const QString &path, const PhotoStamp &stamp, ImageSnapshot snapshot)
{
    if (const auto it = index.constFind(path); it != index.cend())
        evict(*it);
    const qint64 bytes = snapshotPixelBytes(snapshot) + EntryOverhead;
    entries.push_front({ path, stamp, std::move(snapshot), bytes });
    index.insert(path, entries.begin());
    held += bytes;
    evictToBudget();
}

bool ThumbCache::hasRoomFor(qint64 pixelBytes) const
{
    return held + pixelBytes + EntryOverhead <= budgetBytes;
}

void ThumbCache::clear()
{
    entries.clear();
    index.clear();
    held = 0;
}

void ThumbCache::setBudget(qint64 bytes)
{
    budgetBytes = bytes;
    evictToBudget();
}

void ThumbCache::evict(std::list<Entry>::iterator entry)
{
    held -= entry->bytes;
    index.remove(entry->path);
    entries.erase(entry);
}

void ThumbCache::evictToBudget()
{
    while (held > budgetBytes && !entries.empty())
        evict(std::prev(entries.end()));
}
