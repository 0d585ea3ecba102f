#include "PhotoWaits.h"

bool PhotoWaits::mayTry(const QString &path) const
{
    const auto it = m_waits.constFind(path);
    return it == m_waits.cend() || photoStamp(path) != it->stamp;
}

bool PhotoWaits::note(const QString &path, const std::optional<PhotoStamp> &stamp, PhotoFault fault)
{
    const auto it = m_waits.constFind(path);
    const bool news = it == m_waits.cend() || it->stamp != stamp || it->fault != fault;
    m_waits.insert(path, Wait { stamp, fault });
    return news;
}

const PhotoWaits::Wait *PhotoWaits::find(const QString &path) const
{
    const auto it = m_waits.constFind(path);
    return it == m_waits.cend() ? nullptr : &*it;
}
