#pragma once

#include "ModConf.h"

#include <QDir>
#include <QFile>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A job file's text: `photos` lines of one copy each on 10x15, the amount `tag` (in cents), so
// that job files of different tags never have the same content.
inline QByteArray jobText(int photos, int tag = 100)
{
    QByteArray text;
    for (int i = 1; i <= photos; ++i)
        text += "0" + QByteArray::number(i).rightJustified(4, '0') + "0001"
            + QByteArray::number(tag).rightJustified(8, '0') + "\r\n";
    return text;
}

// Every file of `folder`, hidden ones too, by name.
inline QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// A tmpfs of `options` (such as "size=1m") mounted on `folder` while this lives; needs root.
struct TmpfsMount
{
    TmpfsMount(const QString &folder, const char *options)
        : path(QFile::encodeName(folder))
    {
        if (::mount("tmpfs", path.constData(), "tmpfs", 0, options) != 0)
            error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~TmpfsMount()
    {
        if (mounted())
            ::umount2(path.constData(), MNT_DETACH);
    }
    bool mounted() const { return error.isEmpty(); }

    const QByteArray path;
    QString error;
};

// The settings globals as they are before a start-up, the program in `appPath`.
inline void resetSettings(const QString &appPath)
{
    ModConf::AppPath = appPath;
    ModConf::SystemFolder.clear();
    ModConf::PrintAll = false;
    ModConf::Printer10x15 = ModConf::Printer13x18 = ModConf::Printer15x23 = QString();
    ModConf::StandIn10x15 = ModConf::StandIn13x18 = ModConf::StandIn15x23 = QString();
    ModConf::Pace = ModConf::PrintPace::Tick;
    for (float *size : { &ModConf::Width10x15, &ModConf::Height10x15, &ModConf::Width13x18,
                         &ModConf::Height13x18, &ModConf::Width15x23, &ModConf::Height15x23 })
        *size = 0;
}
