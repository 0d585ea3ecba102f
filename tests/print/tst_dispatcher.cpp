#include "Imaging.h"
#include "JobsTestSupport.h"
#include "ModPrint.h"
#include "QueueCommands.h"
#include "ReadyTimes.h"
#include "RecordingPrinterPort.h"
#include "StationLogRecorder.h"
#include "TestStation.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// PrintNextPhoto on real job files, printing on a recording port.
class TestDispatcher : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingPrinterPort> port;
    std::unique_ptr<TestStation> station;
    QStringList titles() const { return port->titles().replaceInStrings("Zelvo ", ""); }

private slots:
    void init()
    {
        port = std::make_unique<RecordingPrinterPort>(
            QList<RecordingPrinterPort::Printer> { { "Landscape" },
                                                   { "Portrait", 300, QSizeF(1200, 1800) },
                                                   { "Big", 300, QSizeF(2700, 1800) } });
        ModPrint::setPrinterPort(port.get());
        // Configured names match installed ones whatever their letter case.
        station = std::make_unique<TestStation>("Landscape", "portrait", "BIG");
    }
    void cleanup() { ModPrint::setPrinterPort(nullptr); }

    void onePhotoPerTickOnThePrinterOfItsSize()
    {
        station->tick();
        QVERIFY(port->documents.isEmpty());
        QVERIFY(station->addJob("1AB12345.job", { { 0, 1 }, { 2, 1 }, { 1, 1 } }));
        station->tick(); // taken and printed from in the same tick
        station->tick();
        QCOMPARE(ModPrint::TargetWidthPx, 2700.f); // 9 in at 300 dpi fits the Big page
        QCOMPARE(station->store.jobCount, 1);
        station->tick();
        QCOMPARE(port->noted(&RecordingPrinterPort::Document::printer),
                 (QStringList { "Landscape", "Big", "Portrait" }));
        QCOMPARE(station->store.jobCount, 0); // retired in the tick of its last photo
    }

    void unknownSizeKeepsTheCurrentPrinterAndUnmatchedNameWaits()
    {
        ModConf::Printer13x18 = "portrait "; // blanks: no installed printer matches
        QVERIFY(station->addJob("1AB00001.job", { { 2, 1 }, { 1, 1 }, { 5, 1 } }));
        station->tick();
        const float width = ModPrint::TargetWidthPx;
        ModConf::Width15x23 = 400; // not read for the size-5 photo
        station->tick();
        QCOMPARE(ModPrint::TargetWidthPx, width);
        QVERIFY(port->documents.last().drawn);
        // The 13x18 photo waits in the station rather than print on another printer's paper.
        station->tick();
        QCOMPARE(port->noted(&RecordingPrinterPort::Document::printer),
                 (QStringList { "Big", "Big" }));
        QCOMPARE(station->store.jobCount, 1);
        ModConf::Printer13x18 = "portrait";
        station->tick();
        QCOMPARE(port->documents.last().printer, "Portrait");
        QCOMPARE(station->store.jobCount, 0);
    }

    void platformFailureLeavesThePhotoForTheNextTick_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("no printer port") << "port";
        QTest::newRow("no printer at all") << "printers";
        QTest::newRow("document cannot be opened") << "begin";
        QTest::newRow("second page cannot be started") << "newPage";
        QTest::newRow("print system refuses the document") << "end";
    }
    void platformFailureLeavesThePhotoForTheNextTick()
    {
        QFETCH(QString, failure);
        QVERIFY(station->addJob("1AB00001.job", { { 0, 2 } }));
        const QList<RecordingPrinterPort::Printer> printers = port->printers;
        const auto fail = [&](bool on) {
            ModPrint::setPrinterPort(on && failure == "port" ? nullptr : port.get());
            port->printers
                = on && failure == "printers" ? QList<RecordingPrinterPort::Printer>() : printers;
            port->failBegin = on && failure == "begin";
            port->failNewPage = on && failure == "newPage";
            port->failEnd = on && failure == "end";
        };
        fail(true);
        station->tick();
        station->tick();
        QCOMPARE(station->store.printJobs[0].printedCount, int16_t(0));
        QCOMPARE(station->store.printJobs[0].photos[0].printed, int16_t(0));
        QCOMPARE(station->files("images") + station->files("jobs"), 2);
        QCOMPARE(liveImageCount(), 0);
        fail(false);
        station->tick(); // the platform is back: printed and retired
        QCOMPARE(station->store.jobCount, 0);
    }

    // Each accepted photo is marked in the job file at once; a refused one is not.
    void progressSurvivesARestart()
    {
        QVERIFY(station->addJob("1AB00001.job", { {}, {}, {} }));
        station->tick();
        port->failEnd = true;
        station->tick();
        port->failEnd = false;
        QCOMPARE(readFile(station->path("jobs/2AB00001.job")).left(19), "10001000100001250\r\n");
        QCOMPARE(station->restart(), 1);
        station->tick();
        station->tick(); // its last photo: retired at once, the one marked before counted
        QCOMPARE(titles(),
                 QStringList({ "AB00001_0001.jpg", "AB00001_0002.jpg", "AB00001_0002.jpg",
                               "AB00001_0003.jpg" }));
        QCOMPARE(station->store.jobCount, 0);
        QCOMPARE(readFile(station->path("backup/jobs/3AB00001.job")).count("\n1"), 2);
    }

    // Print now records the photo only once its urgent copy is accepted, in the source's file;
    // a copy not yet accepted is listed again after a restart, even once its job has retired.
    // Two copies of one photo both print, whichever of them is kept first.
    void printNow_printedOnceAcrossARestart_data()
    {
        QTest::addColumn<QString>("restart");
        QTest::addColumn<int>("copies");
        QTest::addColumn<QStringList>("titles");
        const QStringList ahead { "AB00001_0002u0.jpg", "AB00001_0001.jpg" };
        QTest::newRow("after the urgent copy printed") << "after" << 1 << ahead;
        QTest::newRow("before") << "before" << 1 << ahead;
        QTest::newRow("after its job retired")
            << "retired" << 1 << QStringList({ "AB00001_0001.jpg", "AB00001_0002u0.jpg" });
        QTest::newRow("two copies, after their job retired")
            << "retired" << 2
            << QStringList({ "AB00001_0001.jpg", "AB00001_0002u0.jpg", "AB00001_0002u1.jpg" });
        // The removal moves the copy made last into the removed job's slot: the copies still
        // come back, and print, in the order they had in the queue.
        QTest::newRow("two copies, another job removed, one more copy")
            << "removed" << 2
            << QStringList({ "AB00001_0002u0.jpg", "AB00001_0002u1.jpg", "AB00001_0001u0.jpg" });
        // The later copy, counted printed in its job when made, comes back first: the earlier
        // one still waits for its printer.
        QTest::newRow("two copies, the later moved up, one more copy")
            << "reordered" << 2
            << QStringList({ "AB00001_0002u1.jpg", "AB00001_0001u0.jpg", "AB00001_0002u0.jpg" });
        QTest::newRow("of a printed photo, before")
            << "printed" << 1
            << QStringList({ "AB00001_0001.jpg", "AB00001_0001u0.jpg", "AB00001_0002.jpg" });
    }
    void printNow_printedOnceAcrossARestart()
    {
        QFETCH(QString, restart);
        QFETCH(int, copies);
        QFETCH(QStringList, titles);
        QVERIFY(station->addJob("1AB00001.job", { {}, {} }));
        QVERIFY(restart != "removed" || station->addJob("1AB00002.job", { {} }));
        ScanNewJobs(station->store, station->folder(), false);
        const auto select = [this](const QString &entry) {
            station->store.LstJobs.select(entryTexts(station->store.LstJobs).indexOf(entry));
        };
        if (restart == "printed")
            PrintNextPhoto(station->store);
        for (int c = 0; c < copies; ++c) {
            select("job 00001");
            QCOMPARE(PrintNow(station->store, restart == "printed" ? 0 : 1), PrintNowResult::Made);
        }
        if (restart == "retired") { // the operator moves the job above the urgent copies
            select("job 00001");
            while (MoveSelectedJob(station->store, QueueMove::Up)) { }
        }
        if (restart == "removed") {
            select("job 00002");
            QVERIFY(RemoveJob(station->store, SelectedJobSerial(station->store)));
        }
        if (restart == "reordered") { // the copy made second, first in the queue
            station->store.LstJobs.select(1);
            QVERIFY(MoveSelectedJob(station->store, QueueMove::Up));
        }
        if (restart == "removed" || restart == "reordered") {
            select("job 00001");
            QCOMPARE(PrintNow(station->store, 0), PrintNowResult::Made);
        }
        if (restart == "after" || restart == "retired")
            PrintNextPhoto(station->store);
        station->restart();
        for (int i = 0; i < 4; ++i)
            station->tick();
        QCOMPARE(this->titles(), titles);
        QCOMPARE(station->store.jobCount, 0);
        QCOMPARE(station->files("images"), 0);
        QCOMPARE(station->files("backup/images"),
                 2 + titles.filter("u").size() + (restart == "removed"));
    }

    // A system folder kept under another spelling than the settings' is one folder: its jobs
    // are listed once.
    void folderKeptUnderAnotherSpelling_jobsListedOnce()
    {
        QVERIFY(station->addJob("1AB00001.job", { {} }));
        ScanNewJobs(station->store, station->folder(), false);
        QVERIFY(writeFile(station->path(HeldFoldersFileName), station->folder().toUtf8() + "/\n"));
        QCOMPARE(station->restart(), 1);
    }

    // A job file or a photo that is a symbolic link is never followed: what it points at is
    // not read, printed, copied or moved, and the link stays where it is.
    void symbolicLinksAreNeverFollowed()
    {
        QTemporaryDir outside;
        const QString secret = outside.filePath("secret.jpg");
        const QByteArray secretBytes = TestPhotos::jpegBytes(300, 200);
        QVERIFY(writeFile(secret, secretBytes));
        QVERIFY(writeFile(outside.filePath("1CD00002.job"), "00001000100001250\r\n"));
        QVERIFY(QFile::link(outside.filePath("1CD00002.job"), station->path("jobs/1CD00002.job")));
        QVERIFY(station->addJob("1AB00001.job", { {}, {} }));
        const QString linked = station->path("images/AB00001_0001.jpg");
        QVERIFY(QFile::remove(linked) && QFile::link(secret, linked));
        StationLogRecorder log;

        ScanNewJobs(station->store, station->folder(), false);
        QCOMPARE(entryTexts(station->store.LstJobs), QStringList { "job 00001" });
        QCOMPARE(PrintNow(station->store, 0), PrintNowResult::CopyFailed);
        for (int i = 0; i < 3; ++i)
            station->tick();
        // As a bad photo: not printed, and its job waits until the operator removes it.
        QCOMPARE(titles(), QStringList { "AB00001_0002.jpg" });
        QCOMPARE(station->store.jobCount, 1);
        RemoveJob(station->store, SelectedJobSerial(station->store));
        QCOMPARE(station->store.jobCount, 0);
        QVERIFY(QFileInfo(linked).isSymLink());
        QVERIFY(QFileInfo(station->path("jobs/1CD00002.job")).isSymLink());
        QCOMPARE(filesIn(station->path("backup/images")), QStringList { "AB00001_0002.jpg" });
        QCOMPARE(filesIn(outside.path()), (QStringList { "1CD00002.job", "secret.jpg" }));
        QCOMPARE(readFile(secret), secretBytes);
        // Intake, print now, print and retirement each said why, once.
        QCOMPARE(log.warnings().filter("symbolic link").size(), 4);
    }

    // Another station took the job over (this one could not renew its lease meanwhile): it
    // leaves this queue unprinted, its files left to that station.
    void jobHeldByAnotherStation_leavesTheQueueUnprinted()
    {
        QVERIFY(station->addJob("1AB00001.job", { {}, {} }));
        ScanNewJobs(station->store, station->folder(), false);
        QVERIFY(station->heldElsewhere("2AB00001.job"));
        station->tick();
        QVERIFY(port->documents.isEmpty());
        QCOMPARE(station->store.jobCount, 0);
        QCOMPARE(station->files("jobs") + station->files("images"), 3);
    }

    // Each job's photos on the lane of their size that is free first, in print order.
    void readyTimesFollowThePrintersAndTheQueue()
    {
        QVERIFY(station->addJob("1AB00001.job", { { 0, 1 }, { 0, 1 } }));
        QVERIFY(station->addJob("1AB00002.job", { { 1, 1 } }));
        QVERIFY(station->addJob("1AB00003.job", { { 0, 1 } }));
        ScanNewJobs(station->store, station->folder(), false);
        const auto ready = [this](QList<PrinterLane> lanes, double tick = 0) {
            const std::vector<double> seconds = estimateReadySeconds(
                station->store, lanes, tick, 3, [](quint64, int) { return false; });
            return QList<double>(seconds.begin(), seconds.end());
        };
        const PrinterLane small { "A", { 0 }, 10, 5 };
        const PrinterLane large { "B", { 1 }, 14, 0 };
        QCOMPARE(ready({ small, large }), (QList<double> { 25, 14, 35 }));
        QCOMPARE(ready({ small, large }, 15), (QList<double> { 28, 47, 58 }));
        QCOMPARE(ready({ large }), (QList<double> { -1, 14, -1 })); // no printer for 10x15
        // A job is ready when its slowest photo is, not its last.
        QCOMPARE(ready({ { "A", { 0 }, 10, 0 }, { "B", { 0 }, 1, 0 } }),
                 (QList<double> { 10, -1, 2 }));
        // Moved to the top, the third job goes first.
        station->store.LstJobs.select(2);
        QVERIFY(MoveSelectedJob(station->store, QueueMove::ToTop));
        QCOMPARE(ready({ small, large }), (QList<double> { 35, 14, 15 }));
    }
};

QTEST_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
