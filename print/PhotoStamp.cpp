#include "PhotoStamp.h"

#include <QFile>

#include <sys/stat.h>

std::optional<PhotoStamp> photoStamp(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const auto ns = [](const timespec &t) { return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
    return PhotoStamp { qint64(info.st_size), ns(info.st_mtim), ns(info.st_ctim),
                        quint64(info.st_ino), quint64(info.st_dev) };
}
