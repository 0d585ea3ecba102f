#pragma once

#include "FIni.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PrivateCups.h"
#include "StationLogRecorder.h"
#include "SystemPrinterPort.h"
#include "TestFiles.h"
#include "TestPhotos.h"
#include "TestStation.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

// A private scheduler whose queues print through the test backend, each into a device folder of
// the test's own: the backend reads how to behave from files there ("delay", "command",
// "report"...) and keeps each document in its "out" folder. The station's printer port talks to
// that scheduler.
class BackendCups
{
public:
    QTemporaryDir root;
    std::unique_ptr<PrivateCups> cups;
    std::unique_ptr<SystemPrinterPort> port;

    // Starts the scheduler with the backend, and the station's port on it; "" or what went wrong.
    QString start()
    {
        cups = std::make_unique<PrivateCups>(root.path());
        QString error = cups->start();
        if (error.isEmpty())
            error = cups->installBackend("zelvotest", ZELVO_TEST_BACKEND);
        port = std::make_unique<SystemPrinterPort>(root.filePath("pdf"));
        ModPrint::setPrinterPort(port.get());
        return error;
    }
    void stop()
    {
        ModPrint::setPrinterPort(nullptr);
        port.reset();
        cups.reset();
    }

    QString device(const QString &queue, const QString &file = {}) const
    {
        return root.filePath("device-" + queue + "/" + file);
    }
    // Adds `queue` on its device folder, enabled and accepting; "" or why not.
    QString addQueue(const QString &queue) const
    {
        return PrivateCups::admin("lpadmin",
                                  { "-p", queue, "-v", "zelvotest:" + device(queue), "-P",
                                    ZELVO_TEST_PPD, "-o", "printer-error-policy=abort-job", "-E" });
    }
    // `queue` afresh, on an empty device folder: no reasons, markers, jobs or documents of a test
    // before. "" or why not.
    QString freshQueue(const QString &queue) const
    {
        PrivateCups::admin("lpadmin", { "-x", queue });
        if (!QDir(device(queue)).removeRecursively() || !QDir().mkpath(device(queue, "out")))
            return "no device folder for " + queue;
        for (const QString &folder : { device(queue), device(queue, "out") })
            QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));
        return addQueue(queue);
    }
    // Tells the backend of `queue` how to behave: its `file` holds `text`.
    [[nodiscard]] bool steer(const QString &queue, const QString &file,
                             const QByteArray &text) const
    {
        return writeFile(device(queue, file), text)
            && QFile::setPermissions(device(queue, file),
                                     QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }
    // The documents `queue`'s printer has put out.
    int documents(const QString &queue) const
    {
        return int(QDir(device(queue, "out")).entryList({ "job-*.pdf" }, QDir::Files).size());
    }
};

// The window's station of a test on a BackendCups scheduler, in a program folder of its own, and
// what is logged meanwhile. The test class calls startScheduler() in initTestCase and
// closeStation() after each test.
class BackendStationFixture
{
protected:
    BackendCups m_cups;
    std::unique_ptr<QTemporaryDir> m_app;
    std::unique_ptr<FIni> m_window;
    std::unique_ptr<StationLogRecorder> m_log;

    // The scheduler for the whole test class, which is skipped where none can run.
    void startScheduler()
    {
        if (const QString reason = PrivateCups::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        QCOMPARE(m_cups.start(), QString());
    }
    // The window's station on the program folder, its ticks run by hand.
    void openStation()
    {
        m_window = std::make_unique<FIni>(*m_cups.port, m_app->path());
        m_window->load();
        m_window->Timer1.stop();
    }
    // A tick of the window on the queues as they are now, and CUPS's answers to it in.
    [[nodiscard]] bool tick()
    {
        m_cups.port->refreshNow();
        if (!waitUntilIdle(*m_cups.port))
            return false;
        m_window->onTimer1Tick();
        return waitUntilIdle(*m_cups.port);
    }
    QList<LedgerRow> ledger() const
    {
        return m_window->tracker.ledger().rows(QDate::currentDate());
    }
    void closeStation()
    {
        m_window.reset();
        m_log.reset();
    }
};

// Settings in the program folder `app` with `pace` and the queues: 10x15 on `printers[0]` (and
// its stand-in `printers[3]` when given), 13x18 on `printers[1]`, 15x23 on `printers[2]`.
[[nodiscard]] inline bool writePaceSettings(const QString &app, const QString &pace,
                                            const QStringList &printers)
{
    return writeFile(
        ModConf::settingsFilePath(app),
        QStringLiteral("[General]\nPRINT_ALL=True\nPRINT_PACE=%1\n[Printers]\n"
                       "10x15=%2\n13x18=%3\n15x23=%4\n10x15_2=%5\n")
            .arg(pace, printers.value(0), printers.value(1), printers.value(2), printers.value(3))
            .toUtf8());
}

// The job `order` delivered into the program folder `app`: a `width` x `height` photo per paper
// size in `sizes`, of `copies` copies each (one when not given).
[[nodiscard]] inline bool writeOrder(const QString &app, const QString &order,
                                     const QList<int> &sizes, const QList<int> &copies = {},
                                     int width = 300, int height = 200)
{
    QList<TestStation::Photo> photos;
    for (int i = 0; i < sizes.size(); ++i)
        photos << TestStation::Photo { sizes[i], copies.value(i, 1) };
    return TestStation::writeJob(app, '1' + order + ".job", photos,
                                 TestPhotos::jpegBytes(width, height));
}
