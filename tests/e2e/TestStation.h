#pragma once

#include "Dispatcher.h"
#include "JobIntake.h"
#include "ModConf.h"
#include "StationLogRecorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// The station's main job without its window: a system folder with the job folders, the job
// store, and the polling timer's tick (take new job files in, then print the next photo), which
// the tests call directly instead of waiting 15 seconds.
class TestStation
{
public:
    struct Photo
    {
        int paperSize;
        int copies;
    };

    TestStation() { CreateFolderLayout(m_dir.path()); }

    QString folder() const { return m_dir.path(); }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    int files(const QString &relative) const
    {
        return int(QDir(path(relative)).entryList(QDir::Files | QDir::Hidden).size());
    }

    // The name of photo `number` (from 1) of the order `orderId`.
    static QString imageName(const QString &orderId, int number)
    {
        return orderId + QStringLiteral("_%1.jpg").arg(number, 4, 10, QLatin1Char('0'));
    }

    // Writes the job file `name` ("1SK00001.job") with one line per photo, and the photos
    // themselves with `jpeg` as their content.
    bool addJob(const QString &name, const QList<Photo> &photos, const QByteArray &jpeg) const
    {
        const QString orderId = name.mid(1, name.size() - 5);
        QByteArray text;
        for (int i = 0; i < photos.size(); ++i) {
            text += QStringLiteral("0%1%2%3%4\r\n")
                        .arg(i + 1, 4, 10, QLatin1Char('0'))
                        .arg(photos[i].paperSize)
                        .arg(photos[i].copies, 3, 10, QLatin1Char('0'))
                        .arg(1250, 8, 10, QLatin1Char('0'))
                        .toLatin1();
            if (!writeFile(path(QStringLiteral("images/") + imageName(orderId, i + 1)), jpeg))
                return false;
        }
        return writeFile(path(QStringLiteral("jobs/") + name), text);
    }

    void tick()
    {
        ScanNewJobs(store, folder(), ModConf::PrintAll);
        PrintNextPhoto(store, folder());
    }

    static bool writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    JobStore store;

private:
    QTemporaryDir m_dir;
};

// The settings the tests print with: one printer per paper size, the default sizes.
inline void setStationSettings(const QString &systemFolder, const QString &printer10x15,
                               const QString &printer13x18, const QString &printer15x23)
{
    ModConf::SystemFolder = systemFolder;
    ModConf::PrintAll = false;
    ModConf::Printer10x15 = printer10x15;
    ModConf::Printer13x18 = printer13x18;
    ModConf::Printer15x23 = printer15x23;
    ModConf::Width10x15 = 613;
    ModConf::Height10x15 = 413;
    ModConf::Width13x18 = 700;
    ModConf::Height13x18 = 500;
    ModConf::Width15x23 = 900;
    ModConf::Height15x23 = 600;
}
