#include "JobsTestSupport.h"
#include "PrintTracker.h"
#include "QueueCommands.h"
#include "RecordingPrinterPort.h"
#include "StationLogRecorder.h"
#include "TestStation.h"

#include <QFile>
#include <QTest>

#include <memory>

// The tracker between the dispatcher and a printer that answers later, as CUPS does: the photo
// in flight, the operator acting meanwhile, every job followed to its end and reprinted once,
// the ledger and the log, and a restart in between.
class TestPrintTracker : public QObject
{
    Q_OBJECT

    std::unique_ptr<RecordingPrinterPort> port;
    std::unique_ptr<TestStation> station;
    std::unique_ptr<StationLogRecorder> log;

    PrintTracker &tracker() { return *station->tracker(); }
    JobStore &store() { return station->store; }
    QList<LedgerRow> ledger() { return tracker().ledger().rows(QDate::currentDate()); }
    // Ticks once; the document goes out, CUPS takes it as `jobId` (0: refuses it).
    void printAs(int jobId)
    {
        station->tick();
        port->answer(jobId);
    }

private slots:
    void init()
    {
        port = std::make_unique<RecordingPrinterPort>(
            QList<RecordingPrinterPort::Printer> { { "dnp" } });
        port->answerLater = true;
        port->snap.queues = { "dnp" };
        port->snap.status.insert("dnp", QueueStatus {});
        ModPrint::setPrinterPort(port.get());
        station = std::make_unique<TestStation>("dnp", "dnp", "dnp");
        station->settle = false;
        log = std::make_unique<StationLogRecorder>();
    }
    void cleanup()
    {
        log.reset();
        station.reset();
        ModPrint::setPrinterPort(nullptr);
    }

    void photoCountsOnlyOnceCupsTakesIt_data()
    {
        QTest::addColumn<int>("jobId");
        QTest::newRow("taken") << 41;
        QTest::newRow("refused") << 0;
    }
    void photoCountsOnlyOnceCupsTakesIt()
    {
        QFETCH(int, jobId);
        QVERIFY(station->addJob("1AB00001.job", { { 0, 2 }, { 1, 1 } }));
        station->tick();
        QVERIFY(tracker().photoInFlight());
        // Meanwhile a tick takes new jobs in and prints nothing.
        QVERIFY(station->addJob("1AB00002.job", { { 0, 1 } }));
        station->tick();
        QCOMPARE(store().jobCount, int16_t(2));
        QCOMPARE(port->documents.size(), 1);

        port->answer(jobId);
        QVERIFY(!tracker().photoInFlight());
        QCOMPARE(store().printJobs[0].photos[0].printed, int16_t(jobId > 0));
        station->tick();
        QCOMPARE(port->titles().last(),
                 jobId > 0 ? "Zelvo AB00001_0002.jpg" : "Zelvo AB00001_0001.jpg");
        if (jobId == 0) {
            QVERIFY(ledger().isEmpty());
            return;
        }
        const LedgerRow row = ledger().value(0);
        QCOMPARE(QStringList({ row.job, row.photo, row.paperSize, row.printer, row.state }),
                 QStringList({ "AB00001", "AB00001_0001.jpg", "10x15", "dnp", "enviado" }));
        QCOMPARE(row.copies, 2);
        QCOMPARE(row.cupsJobId, 41);
    }

    void ledgerRowAtMidnightHasTheDayOfItsTime()
    {
        const QDateTime midnight(QDate(2026, 12, 8), QTime(0, 0));
        int readings = 0;
        tracker().now = [&] { return readings++ == 0 ? midnight.addMSecs(-1) : midnight; };
        QVERIFY(station->addJob("1AB00001.job", { {} }));
        printAs(41);
        const QList<LedgerRow> rows = tracker().ledger().rows(midnight.date().addDays(-1));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].time, QTime(23, 59, 59));
        QVERIFY(tracker().ledger().rows(midnight.date()).isEmpty());
    }

    void operatorActsWhileTheAnswerIsAwaited_data()
    {
        QTest::addColumn<bool>("remove"); // else print now of the photo in flight
        QTest::newRow("job removed") << true;
        QTest::newRow("photo sent by print now") << false;
    }
    void operatorActsWhileTheAnswerIsAwaited()
    {
        QFETCH(bool, remove);
        QVERIFY(station->addJob("1AB00001.job", { { 0, 1 }, { 0, 1 } }));
        station->tick();
        if (remove)
            QVERIFY(RemoveJob(store(), SelectedJobSerial(store())));
        else
            QCOMPARE(PrintNow(store(), 0), PrintNowResult::OnItsWay);
        port->answer(41);

        QCOMPARE(ledger().size(), 1);
        if (remove) {
            QCOMPARE(store().jobCount, int16_t(0));
            station->tick();
            QCOMPARE(port->documents.size(), 1);
            return;
        }
        // Printed once: the job ends with its second photo.
        QCOMPARE(store().printJobs[0].printedCount, int16_t(1));
        printAs(42);
        QCOMPARE(port->titles(),
                 QStringList({ "Zelvo AB00001_0001.jpg", "Zelvo AB00001_0002.jpg" }));
        QCOMPARE(store().jobCount, int16_t(0));
    }

    void endedJobIsReprintedOnce_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("photos"); // 1: retired when CUPS took it
        QTest::addColumn<bool>("photoGone");
        QTest::addColumn<QString>("ledgerState");
        QTest::addColumn<QString>("notice");

        QTest::newRow("completed") << int(JobCompleted) << 1 << false << "concluido"
                                   << "";
        QTest::newRow("aborted, job still queued") << int(JobAborted) << 2 << false << "abortado"
                                                   << "Reimpressão automática";
        QTest::newRow("cancelled, job retired") << int(JobCanceled) << 1 << false << "cancelado"
                                                << "Reimpressão automática";
        QTest::newRow("aborted, photo gone") << int(JobAborted) << 1 << true << "abortado"
                                             << "Não reimpressa";
        QTest::newRow("forgotten by CUPS") << int(JobUnknown) << 1 << false << "desconhecido"
                                           << "";
    }
    void endedJobIsReprintedOnce()
    {
        QFETCH(int, state);
        QFETCH(int, photos);
        QFETCH(bool, photoGone);
        QFETCH(QString, ledgerState);
        QFETCH(QString, notice);
        QVERIFY(station->addJob("1AB00001.job", QList<TestStation::Photo>(photos)));
        printAs(41);
        QCOMPARE(store().jobCount, int16_t(photos == 1 ? 0 : 1));
        QCOMPARE(tracker().sizeLines().value(0).printedToday, 0); // CUPS holds it: not yet
        if (photoGone)
            QVERIFY(QFile::remove(station->path("backup/images/AB00001_0001.jpg")));

        port->publish(41, state);
        QCOMPARE(ledger().value(0).state, ledgerState);
        QCOMPARE(tracker().notice().left(notice.size()), notice);
        QCOMPARE(tracker().isAlert(), photoGone);
        QCOMPARE(tracker().sizeLines().value(0).printedToday,
                 state == JobAborted || state == JobCanceled ? 0 : 1);
        const bool reprinted = notice.startsWith("Reimpressão");
        QCOMPARE(entryTexts(store().LstJobs).value(0),
                 reprinted         ? "Urgente 1"
                     : photos == 2 ? "job 00001"
                                   : "");
        if (!reprinted)
            return;

        // The reprint prints first, from a copy of the photo wherever it was, and is followed
        // too; when it fails as well, the operator is told and it is not tried again.
        QVERIFY(QFile::exists(station->path("images/AB00001_0001u0.jpg")));
        QString shown;
        store().showJobThumbnails = [&shown](const QString &key) { shown = key; };
        store().LstJobs.select(0);
        QCOMPARE(shown, "Urgente 1");
        printAs(42);
        QCOMPARE(port->titles().last(), "Zelvo AB00001_0001u0.jpg");
        port->publish(42, JobAborted);
        QVERIFY(tracker().isAlert()); // its words on the strip: tst_printerwatch
        tracker().acknowledge();
        QVERIFY(!tracker().isAlert());
    }

    // CUPS lost a photo of a job that another station holds by its name now: its reprint is
    // printed here, as the photo is marked printed in its file and no station prints it else.
    void reprintOfAJobHeldElsewhereIsPrinted_data()
    {
        QTest::addColumn<int>("photos"); // 1: retired, its name then another delivery's
        QTest::newRow("job taken over") << 2;
        QTest::newRow("a later delivery of the order") << 1;
    }
    void reprintOfAJobHeldElsewhereIsPrinted()
    {
        QFETCH(int, photos);
        QVERIFY(station->addJob("1AB00001.job", QList<TestStation::Photo>(photos)));
        printAs(41);
        QVERIFY(photos == 2
                || writeFile(station->path("jobs/2AB00001.job"), "00001000100001250\r\n"));
        QVERIFY(station->heldElsewhere("2AB00001.job"));
        port->publish(41, JobAborted);
        station->tick();
        QCOMPARE(port->titles().value(1), "Zelvo AB00001_0001u0.jpg");
    }

    void restartFollowsJobsAndReprintsAgain()
    {
        QVERIFY(station->addJob("1AB00001.job", { { 0, 1 }, { 0, 1 } }));
        printAs(41);
        printAs(42);
        port->publish(41, JobAborted); // its reprint waits in the queue
        QCOMPARE(entryTexts(store().LstJobs), QStringList { "Urgente 1" });

        station->restart();
        QCOMPARE(port->followed, QList<int> { 42 });
        // The reprint is listed again from its copy, not copied anew.
        QCOMPARE(entryTexts(store().LstJobs), QStringList { "Urgente 1" });
        QCOMPARE(station->files("images"), 1);
        port->publish(42, JobCanceled);
        QCOMPARE(entryTexts(store().LstJobs), QStringList({ "Urgente 2", "Urgente 1" }));
        QCOMPARE(ledger().value(1).state, "cancelado");

        // Reprints the operator removed are not listed again at the next start, even when the
        // station stopped before the tracker saw them go: their copies are in backup.
        for (int i = 0; i < 2; ++i) {
            store().LstJobs.select(0);
            QVERIFY(RemoveJob(store(), SelectedJobSerial(store())));
        }
        station->restart();
        QCOMPARE(store().jobCount, int16_t(0));
    }

    void unwritableLedgerAndStateFileAreLoggedAndTheJobFollowed()
    {
        // A file where the tracker's folder should be: nothing can be written there.
        QVERIFY(writeFile(station->path("station"), "a file"));
        PrintTracker tracker(store(), *port, station->path("station/folder"));
        tracker.photoAccepted(
            PrintedPhoto { 1, "2AB00001.job", "00001", "AB", false, 0, {}, {}, "dnp" }, 41);
        const QString warnings = log->warnings().join('\n');
        QVERIFY(warnings.contains("Cannot write the print ledger"));
        QVERIFY(warnings.contains("Cannot write '" + tracker.stateFile()));
        QCOMPARE(port->followed, QList<int> { 41 });
    }

    void logsEachStateChangeOfAPrinterInUseOnce()
    {
        tracker(); // listening from now on
        QueueStatus &dnp = port->snap.status["dnp"];
        port->publish();
        dnp.state = 5;
        dnp.reasons = QStringList { "media-empty-error", "paused" };
        port->publish();
        port->publish();
        port->snap.answering = false;
        port->publish();
        QCOMPARE(
            log->infos().filter("zelvo.printers:"),
            QStringList({ "zelvo.printers: Printer 'dnp': Pronta [none]",
                          "zelvo.printers: Printer 'dnp': Parada: sem papel/mídia "
                          "[media-empty-error,paused]",
                          "zelvo.printers: Printer 'dnp': CUPS não responde [no answer from ]" }));
    }

    void ledgerKeepsOddFieldsAndOtherColumns()
    {
        const QString folder = station->folder();
        const QDate day(2026, 12, 6);
        QVERIFY(writeFile(folder + "/impressoes-2026-12-06.csv",
                          "hora;job;foto;tamanho;copias;impressora;job_cups;estado;nota\r\n"
                          "09:00:00;AB1;AB1_0001.jpg;10x15;1;dnp;7;enviado;\"pago; ok\"\r\n"));
        PrintLedger ledger(folder);
        // CUPS job ids repeat on two printers once a spool was wiped.
        QVERIFY(
            ledger.add(day, { QTime(9, 5), "A\"B", "x;y.jpg", "13x18", 2, "q 1", 7, "enviado" }));
        QVERIFY(ledger.setState(day, "q 1", 7, "concluido"));
        QVERIFY(!ledger.setState(day, "dnp", 9, "concluido"));
        QCOMPARE(readFile(folder + "/impressoes-2026-12-06.csv"),
                 "hora;job;foto;tamanho;copias;impressora;job_cups;estado;nota\r\n"
                 "09:00:00;AB1;AB1_0001.jpg;10x15;1;dnp;7;enviado;\"pago; ok\"\r\n"
                 "09:05:00;\"A\"\"B\";\"x;y.jpg\";13x18;2;q 1;7;concluido\r\n");
        QCOMPARE(ledger.rows(day).value(1).photo, "x;y.jpg");
    }
};

QTEST_MAIN(TestPrintTracker)
#include "tst_printtracker.moc"
