#pragma once

#include "Dispatcher.h"
#include "HeldFolders.h"
#include "JobIntake.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PhotoWaits.h"
#include "PrintTracker.h"
#include "PrinterPort.h"
#include "SentAhead.h"
#include "TestPhotos.h"

#include <QDir>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Lets the event loop run until `port` has answered every document and the snapshot asked for
// has come, as a tick in the window leaves it by the next one.
inline bool waitUntilIdle(PrinterPort &port, int timeoutMs = 60000)
{
    return QTest::qWaitFor([&port] { return port.idle(); }, timeoutMs);
}

// The station's main job without its window: a system folder with the job folders, the job
// store, the print tracker (its ledger and state file in the system folder), and the polling
// timer's tick (take new job files in, then print the next photo), which the tests call directly
// instead of waiting 15 seconds. Photos of 10x15, 13x18 and 15x23 go to the printers named, at
// the default sizes.
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
        store.programFolder = m_dir.path();
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
        return writeJob(folder(), name, photos, jpeg);
    }
    // The same into the system folder `systemFolder`.
    static bool writeJob(const QString &systemFolder, const QString &name,
                         const QList<Photo> &photos, const QByteArray &jpeg)
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
            if (!bytes.isNull() && !writeFile(systemFolder + "/images/" + image, bytes))
                return false;
        }
        return writeFile(systemFolder + "/jobs/" + name, text);
    }

    // Station "other", alive, holds the job file `name` from now on: taken over from this
    // station, or a delivery of its own.
    bool heldElsewhere(const QString &name) const
    {
        const QString owners = path(".zelvo/owners/"),
                      mine = owners + store.station.id + '/' + name;
        return QDir().mkpath(owners + "other") && writeFile(path(".zelvo/leases/other"), "")
            && (QFile::exists(mine) ? QFile::rename(mine, owners + "other/" + name)
                                    : writeFile(owners + "other/" + name, ""));
    }

    // With `settle`, the tick starts on a fresh snapshot of the print system and ends once the
    // document it handed over has been answered.
    void tick()
    {
        PrinterPort *port = ModPrint::printerPort();
        if (port && settle) {
            port->refreshNow();
            waitUntilIdle(*port);
        }
        ScanNewJobs(store, folder(), ModConf::PrintAll);
        PrintNextPhoto(store, tracker());
        if (port && settle)
            waitUntilIdle(*port);
    }

    // The tracker of the port printing now (made anew when the test changes ports).
    PrintTracker *tracker()
    {
        PrinterPort *port = ModPrint::printerPort();
        if (port && &port->events != m_trackedPort) {
            m_tracker.reset();
            m_tracker = std::make_unique<PrintTracker>(store, *port, folder());
            m_trackedPort = &port->events;
        }
        return port ? m_tracker.get() : nullptr;
    }

    // The station stopped and started again: a new job store lists the jobs it had taken, and
    // a new tracker follows what the earlier one followed. Returns the jobs listed.
    int restart()
    {
        m_tracker.reset();
        m_trackedPort = nullptr;
        photoWaits() = PhotoWaits(); // a new process knows of no waiting photo
        const Station same = store.station;
        std::destroy_at(&store);
        std::construct_at(&store);
        store.station = same;
        store.programFolder = folder();
        const int listed = LoadAllWaitingJobs(store, folder()) + RestoreSentAhead(store);
        if (PrintTracker *restarted = tracker())
            restarted->restore();
        return listed;
    }

    JobStore store;
    bool settle = true;

private:
    QTemporaryDir m_dir;
    QPointer<PrinterPortEvents> m_trackedPort; // gone with its port
    std::unique_ptr<PrintTracker> m_tracker; // goes before the store it points at
};
