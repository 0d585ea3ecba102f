#pragma once

#include "ModConf.h"

#include <QFile>

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

// The settings globals as they are before a start-up, the program in `appPath`.
inline void resetSettings(const QString &appPath)
{
    ModConf::AppPath = appPath;
    ModConf::SystemFolder.clear();
    ModConf::PrintAll = false;
    ModConf::Printer10x15 = ModConf::Printer13x18 = ModConf::Printer15x23 = QString();
    for (float *size : { &ModConf::Width10x15, &ModConf::Height10x15, &ModConf::Width13x18,
                         &ModConf::Height13x18, &ModConf::Width15x23, &ModConf::Height15x23 })
        *size = 0;
}
