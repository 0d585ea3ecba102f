#pragma once

#include "PhotoFault.h"
#include "PhotoStamp.h"

#include <QHash>
#include <QString>

#include <optional>

// Photos whose file could not be read when their turn came, by path. Such a photo waits without
// holding up the queue, and is tried again once its file has changed (appeared, been written
// again or replaced), as the file's stamp tells.
class PhotoWaits
{
public:
    struct Wait
    {
        std::optional<PhotoStamp> stamp; // of the file as it was before the failed read
        PhotoFault fault = PhotoFault::Unreadable;
    };

    // Whether the photo at `path` may be tried now: it does not wait, or its file has changed.
    bool mayTry(const QString &path) const;
    // The photo at `path`, whose file had `stamp` before it was read, could not be read for
    // `fault`. True when that is news (another fault or file state than before): worth telling.
    bool note(const QString &path, const std::optional<PhotoStamp> &stamp, PhotoFault fault);
    // The photo printed, or left the queue: it waits no more.
    void clear(const QString &path) { m_waits.remove(path); }
    const Wait *find(const QString &path) const;
    int count() const { return int(m_waits.size()); }

private:
    QHash<QString, Wait> m_waits;
};
