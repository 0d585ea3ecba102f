#pragma once

#include "Dispatcher.h"
#include "JobIntake.h"
#include "ModConf.h"
#include "TestPhotos.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

// The station's main job without its window: a system folder with the job folders, the job
// store, and the polling timer's tick (take new job files in, then print the next photo), which
// the tests call directly instead of waiting 15 seconds. Photos of 10x15, 13x18 and 15x23 go
// to the printers named, at the default sizes.
class TestStation
{
public:
    struct Photo
    {
        Photo(int size = 0, int copyCount = 1, const QByteArray &bytes = {})
            : paperSize(size)
            , copies(copyCount)
            , jpeg(bytes)
        { }
        int paperSize;
        int copies;
        QByteArray jpeg; // null: the bytes addJob is given
    };

    TestStation(const QString &printer10x15, const QString &printer13x18,
                const QString &printer15x23)
    {
        CreateFolderLayout(m_dir.path());
        resetSettings(m_dir.path());
        ModConf::Printer10x15 = printer10x15;
        ModConf::Printer13x18 = printer13x18;
        ModConf::Printer15x23 = printer15x23;
        ModConf::ApplySettingsDefaults(m_dir.path(), printer10x15);
    }

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

    // Writes the job file `name` ("1SK00001.job") with one line per photo, and the photos with
    // their own bytes or else `jpeg`; none when both are null.
    bool addJob(const QString &name, const QList<Photo> &photos,
                const QByteArray &jpeg = TestPhotos::jpegBytes(300, 200)) const
    {
        QByteArray text;
        for (int i = 0; i < photos.size(); ++i) {
            text += QStringLiteral("0%1%2%3%4\r\n")
                        .arg(i + 1, 4, 10, QLatin1Char('0'))
                        .arg(photos[i].paperSize)
                        .arg(photos[i].copies, 3, 10, QLatin1Char('0'))
                        .arg(1250, 8, 10, QLatin1Char('0'))
                        .toLatin1();
            const QByteArray &bytes = photos[i].jpeg.isNull() ? jpeg : photos[i].jpeg;
            const QString image = imageName(name.mid(1, name.size() - 5), i + 1);
            if (!bytes.isNull() && !writeFile(path("images/" + image), bytes))
                return false;
        }
        return writeFile(path(QStringLiteral("jobs/") + name), text);
    }

    void tick()
    {
        ScanNewJobs(store, folder(), ModConf::PrintAll);
        PrintNextPhoto(store);
    }

    // The station stopped and started again: a new job store lists the jobs it had taken.
    int restart()
    {
        const Station same = store.station;
        std::destroy_at(&store);
        std::construct_at(&store);
        store.station = same;
        return LoadWaitingJobs(store, folder());
    }

    JobStore store;

private:
    QTemporaryDir m_dir;
};
