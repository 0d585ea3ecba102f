#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

// What the fuzz targets share: a broken property ends the run, and a folder for the files made
// from each input.
namespace FuzzSupport {

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

// A folder that lives as long as the run, on tmpfs where there is one, so that each input costs
// no disk I/O.
inline QString tempFolder()
{
    static std::unique_ptr<QTemporaryDir> dir = [] {
        const QString shm = QStringLiteral("/dev/shm");
        auto made = std::make_unique<QTemporaryDir>(
            QFileInfo(shm).isWritable() ? shm + QStringLiteral("/zelvo-fuzz-XXXXXX")
                                        : QDir::tempPath() + QStringLiteral("/zelvo-fuzz-XXXXXX"));
        check(made->isValid());
        return made;
    }();
    return dir->path();
}

} // namespace FuzzSupport
