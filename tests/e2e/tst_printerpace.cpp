#include "BackendCups.h"
#include "ConsoleLook.h"
#include "JobsTestSupport.h"
#include "NextModal.h"
#include "PrinterStrip.h"
#include "QueueListWidget.h"

#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include <unistd.h>

// The station's window feeding three queues of a test backend that takes a set time per page,
// stops its queue when told, and keeps each document: the printers' pace, printers that cannot
// print holding their photos in the station, Retomar, and a stand-in printer.
class TestPrinterPace : public QObject, BackendStationFixture
{
    Q_OBJECT

    QString queue(int i) const { return QStringLiteral("zelvo_%1_p%2").arg(::getpid()).arg(i); }
    [[nodiscard]] bool steer(int i, const QString &file, const QByteArray &text)
    {
        return m_cups.steer(queue(i), file, text);
    }
    int documents(int i) const { return m_cups.documents(queue(i)); }
    // Starts the window's station on settings with `pace` and, for 10x15, the stand-in queue 2.
    [[nodiscard]] bool startStation(const QString &pace, bool standIn = false)
    {
        if (!writePaceSettings(m_app->path(), pace,
                               { queue(0), queue(1), queue(1), standIn ? queue(2) : QString() }))
            return false;
        openStation();
        return true;
    }
    // The job `order` with one one-copy photo per paper size given.
    [[nodiscard]] bool addJob(const QString &order, const QList<int> &sizes)
    {
        return writeOrder(m_app->path(), order, sizes);
    }
    // The photos each queue was given, in the order CUPS took them.
    QStringList photosOn(int i) const
    {
        QMap<int, QString> byJob;
        for (const LedgerRow &row : ledger()) {
            if (row.printer == queue(i))
                byJob.insert(row.cupsJobId, row.photo.chopped(4));
        }
        return byJob.values();
    }
    PrinterStrip::Row row(int i) const { return m_window->StripPrinters->rows[i]; }

private slots:
    void initTestCase() { startScheduler(); }
    void cleanupTestCase() { m_cups.stop(); }
    void init()
    {
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_cups.freshQueue(queue(i)), QString());
            QVERIFY(steer(i, "delay", "0.3"));
        }
        m_app = std::make_unique<QTemporaryDir>();
        m_cups.port->refreshNow(); // the queues as they are now, not as the test before left them
        QVERIFY(waitUntilIdle(*m_cups.port));
        m_log = std::make_unique<StationLogRecorder>();
    }
    void cleanup() { closeStation(); }

    void printersPace_eachPrinterFedInPrintOrder()
    {
        QVERIFY(startStation("PRINTERS"));
        QVERIFY(addJob("PP10001", { 0, 0, 1, 0, 0 }));
        QVERIFY(addJob("PP10002", { 1, 0 }));
        int most[2] = { 0, 0 };
        QTimer probe;
        connect(&probe, &QTimer::timeout, [&] {
            for (int i : { 0, 1 })
                most[i] = std::max(most[i], PrivateCups::activeJobs(queue(i)));
        });
        probe.start(50);
        QVERIFY(tick()); // takes both jobs in; from then on CUPS's reports feed the printers

        // Far sooner than seven ticks of 15 s, and without one.
        QTRY_COMPARE_WITH_TIMEOUT(m_window->store.jobCount, int16_t(0), 20000);
        QTRY_COMPARE(documents(0) + documents(1), 7);
        QCOMPARE(photosOn(0),
                 (QStringList { "PP10001_0001", "PP10001_0002", "PP10001_0004", "PP10001_0005",
                                "PP10002_0002" }));
        QCOMPARE(photosOn(1), (QStringList { "PP10001_0003", "PP10002_0001" }));
        QCOMPARE(most[0], 2); // two in CUPS, never more
        QVERIFY(most[1] <= 2);
        QCOMPARE(m_log->warnings().filter("zelvo."), QStringList());
    }

    void printerThatCannotPrintHoldsItsPhotos_data()
    {
        QTest::addColumn<QString>("pace");
        QTest::addColumn<QString>("outage");
        QTest::addColumn<QString>("state"); // on the strip
        const auto row
            = [](const char *tag, const char *pace, const char *outage, const QString &state) {
                  QTest::newRow(tag) << QString(pace) << QString(outage) << state;
              };
        const QString deleted = "Sem impressora: não instalada no CUPS";
        row("paused, printers' pace", "PRINTERS", "cupsdisable", "Pausada");
        row("not accepting, 15 s pace", "15", "cupsreject", "Não aceita trabalhos");
        row("deleted, printers' pace", "PRINTERS", "delete", deleted);
        row("deleted, 15 s pace", "", "delete", deleted);
    }
    void printerThatCannotPrintHoldsItsPhotos()
    {
        QFETCH(QString, pace);
        QFETCH(QString, outage);
        QFETCH(QString, state);
        if (outage == "delete")
            QCOMPARE(PrivateCups::admin("lpadmin", { "-x", queue(0) }), QString());
        else
            QCOMPARE(PrivateCups::admin(outage, { queue(0) }), QString());
        QVERIFY(startStation(pace));
        QVERIFY(addJob("PH10001", { 0, 1, 0 }));
        for (int ticks = 0; ticks < 3; ++ticks)
            QVERIFY(tick());

        // The 13x18 photo prints; the 10x15 ones wait in the station, said once.
        QTRY_COMPARE(documents(1), 1);
        QCOMPARE(PrivateCups::activeJobs(queue(0)), 0);
        QCOMPARE(documents(0), 0);
        QCOMPARE(entryTexts(m_window->store.LstJobs), QStringList { "job 10001" });
        QTRY_COMPARE(row(0).state->text(), state);
        QCOMPARE(row(0).health, PrinterHealth::Stopped);
        QCOMPARE(m_log->warnings().filter("cannot print").size(), 1);
        const auto ready = [this] {
            const QListWidgetItem *entry = m_window->LstJobs->item(0);
            return entry ? entry->data(QueueListWidget::ReadyRole).toString() : QString();
        };
        QTRY_COMPARE(ready(), "—"); // no time while its printer cannot print
        QVERIFY(m_log->warnings().filter("cannot print").value(0).contains(queue(0)));

        if (outage == "delete")
            QCOMPARE(m_cups.addQueue(queue(0)), QString());
        else
            QCOMPARE(PrivateCups::admin(outage == "cupsdisable" ? "cupsenable" : "cupsaccept",
                                        { queue(0) }),
                     QString());
        // With the printers' pace the job may already be printed: a time shows until the tick.
        if (pace != "PRINTERS")
            QTRY_VERIFY(ready().startsWith('~'));
        for (int ticks = 0; ticks < 2; ++ticks)
            QVERIFY(tick());
        QTRY_COMPARE(m_window->store.jobCount, int16_t(0));
        QTRY_COMPARE(documents(0), 2);
        QCOMPARE(photosOn(0), (QStringList { "PH10001_0001", "PH10001_0003" }));
        QVERIFY(m_log->infos().join('\n').contains("'" + queue(0) + "' can print again"));
    }

    void retomarStartsAStoppedPrinterAgain()
    {
        QVERIFY(steer(0, "command", "stop"));
        QVERIFY(startStation("PRINTERS"));
        QVERIFY(addJob("PR10001", { 0, 0, 0 }));
        QVERIFY(tick());
        // The backend stopped the queue at the first document: one more may have gone in before
        // CUPS told, none after.
        QTRY_VERIFY(!row(0).resume->isHidden());
        QTest::qWait(1500);
        const int held = PrivateCups::activeJobs(queue(0));
        QVERIFY2(held >= 1 && held <= 2, qPrintable(QString::number(held)));
        QCOMPARE(m_window->store.jobCount, int16_t(1));

        QVERIFY(steer(0, "command", ""));
        bool asked = false;
        answerNextModal([&asked](QWidget *box) {
            asked = true;
            QTest::mouseClick(static_cast<QMessageBox *>(box)->button(QMessageBox::No),
                              Qt::LeftButton);
        });
        QTest::mouseClick(row(0).resume, Qt::LeftButton);
        QVERIFY(asked);
        QTest::qWait(1500);
        QCOMPARE(PrivateCups::activeJobs(queue(0)), held); // "Não": still stopped

        answerNextModal([](QWidget *box) {
            QTest::mouseClick(static_cast<QMessageBox *>(box)->button(QMessageBox::Yes),
                              Qt::LeftButton);
        });
        QTest::mouseClick(row(0).resume, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_window->store.jobCount, int16_t(0), 20000);
        QTRY_COMPARE(documents(0), 3);
        QTRY_VERIFY(row(0).resume->isHidden());
        QCOMPARE(QApplication::activeModalWidget(), nullptr); // no refusal to tell
    }

    void standInSharesAndTakesOver()
    {
        QVERIFY(startStation("PRINTERS", true));
        QTRY_COMPARE(row(0).printer->toolTip(),
                     ConsoleLook::plainToolTip(queue(0) + " + " + queue(2)));
        QVERIFY(addJob("PS10001", { 0, 0, 0, 0, 0, 0 }));
        QVERIFY(tick());
        QTRY_COMPARE_WITH_TIMEOUT(m_window->store.jobCount, int16_t(0), 20000);
        QVERIFY2(photosOn(0).size() >= 2 && photosOn(2).size() >= 2,
                 qPrintable(photosOn(0).join(',') + " / " + photosOn(2).join(',')));

        // The first printer paused: the stand-in takes them all, on either pace.
        QTRY_COMPARE(documents(0) + documents(2), 6);
        QCOMPARE(PrivateCups::admin("cupsdisable", { queue(0) }), QString());
        QTRY_COMPARE(row(0).health, PrinterHealth::Warning);
        const QStringList before = photosOn(0);
        QVERIFY(addJob("PS10002", { 0, 0 }));
        QVERIFY(tick());
        QTRY_COMPARE_WITH_TIMEOUT(m_window->store.jobCount, int16_t(0), 20000);
        ModConf::Pace = ModConf::PrintPace::Tick;
        QVERIFY(addJob("PS10003", { 0 }));
        QVERIFY(tick());
        QVERIFY(tick());
        QCOMPARE(m_window->store.jobCount, int16_t(0));
        QCOMPARE(photosOn(0), before);
        QVERIFY(photosOn(2).contains("PS10003_0001"));
        QTRY_COMPARE(documents(0) + documents(2), 9);
        QTRY_COMPARE(row(0).today->text(), QStringLiteral("Hoje: 9"));
    }

    void documentsInAStoppedPrinterMoveToTheStandIn()
    {
        QVERIFY(steer(0, "command", "stop")); // the first printer stops at its first document
        QVERIFY(startStation("PRINTERS", true));
        QVERIFY(addJob("PM10001", { 0, 0, 0, 0 }));
        QVERIFY(tick());
        QTRY_COMPARE_WITH_TIMEOUT(documents(2), 4, 20000);
        QCOMPARE(documents(0), 0);
        QTRY_COMPARE(photosOn(0), QStringList());
        QCOMPARE(photosOn(2).size(), 4);
        QCOMPARE(PrivateCups::activeJobs(queue(0)), 0);
        QCOMPARE(m_window->store.LstJobs.count(), 0); // moved, not printed again
        QVERIFY(m_log->infos().join('\n').contains("moved from '" + queue(0)));
    }

    // The real station killed while photos are in flight on two printers, and started again:
    // every photo comes out, and only those CUPS had taken without the station knowing could
    // come out twice.
    void killedWithPhotosInFlight_eachPhotoOnce()
    {
        QVERIFY(steer(0, "delay", "1"));
        QVERIFY(steer(1, "delay", "1"));
        const QString app = m_app->path();
        QVERIFY(QFile::copy(ZELVO_BINARY, app + "/zelvo"));
        QVERIFY(writePaceSettings(app, "PRINTERS", { queue(0), queue(1), queue(1) }));
        QVERIFY(QDir().mkpath(app + "/jobs") && QDir().mkpath(app + "/images"));
        QVERIFY(writeOrder(app, "PK10001", { 0, 1, 0, 1, 0, 1, 0, 1 }, {}, 60, 40));
        // Taken already (as by an earlier version), so the station lists it at its start.
        QVERIFY(QFile::rename(app + "/jobs/1PK10001.job", app + "/jobs/2PK10001.job"));
        QProcess station;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        station.setProcessEnvironment(environment);
        station.setProgram(app + "/zelvo");
        station.start();
        QTRY_VERIFY_WITH_TIMEOUT(PrivateCups::activeJobs(queue(0)) >= 2
                                     && PrivateCups::activeJobs(queue(1)) >= 2,
                                 30000);
        station.kill();
        QVERIFY(station.waitForFinished());

        station.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(app + "/backup/jobs/3PK10001.job"), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(PrivateCups::activeJobs(), 0, 30000);
        station.terminate();
        QVERIFY(station.waitForFinished());

        // Every photo marked in the retired job file, which happens only once CUPS has it, and
        // at most the four in flight printed twice. (The ledger row comes after the mark, so a
        // kill between them leaves a printed photo out of the ledger.)
        const QList<QByteArray> lines = readFile(app + "/backup/jobs/3PK10001.job").split('\n');
        QCOMPARE(std::count_if(lines.begin(), lines.end(),
                               [](const QByteArray &line) { return line.startsWith('1'); }),
                 8);
        const int documents = this->documents(0) + this->documents(1);
        QVERIFY2(documents >= 8 && documents <= 12, qPrintable(QString::number(documents)));
        qInfo("%d documents for 8 photos", documents);
    }
};

QTEST_MAIN(TestPrinterPace)
#include "tst_printerpace.moc"
