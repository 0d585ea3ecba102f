#include "ModConf.h"
#include "ModPrint.h"
#include "PageGeometry.h"
#include "PdfInspect.h"
#include "PrivateCups.h"
#include "SchedulerProxy.h"
#include "StationLogRecorder.h"
#include "SystemPrinterPort.h"
#include "TestStation.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <cups/cups.h>

#include <memory>

using namespace TestPhotos;

// The station's ticks printing through a real CUPS scheduler that the test starts itself, into
// cups-pdf queues whose PDFs land in folders of this run and are read back with poppler: each
// photo on the queue of its size with its geometry, printing while it breaks down the ways a
// shop meets (made with CUPS's own admin programs or by stopping the scheduler), and a day at
// the counter.
class TestCupsPrinting : public QObject
{
    Q_OBJECT

private:
    QString queue(char which) const { return m_cups->queue(which); }
    int waitForLastJob(char which)
    {
        return PrivateCups::waitForJob(queue(which), m_port->lastJobId());
    }

    QTemporaryDir m_root;
    std::unique_ptr<PrivateCups> m_cups;
    std::unique_ptr<SystemPrinterPort> m_port;
    std::unique_ptr<TestStation> m_station;
    std::unique_ptr<StationLogRecorder> m_log;
    QByteArray m_jpeg = jpegBytes(600, 400);

private slots:
    void initTestCase()
    {
        if (const QString reason = PrivateCups::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        m_cups = std::make_unique<PrivateCups>(m_root.path());
        QCOMPARE(m_cups->start("abc"), QString());
        m_port = std::make_unique<SystemPrinterPort>(m_root.filePath("pdf"));
        ModPrint::setPrinterPort(m_port.get());
    }
    void cleanupTestCase()
    {
        ModPrint::setPrinterPort(nullptr);
        m_cups.reset();
    }
    void init()
    {
        m_station = std::make_unique<TestStation>(queue('a'), queue('b'), queue('c'));
        m_log = std::make_unique<StationLogRecorder>();
    }
    void cleanup()
    {
        m_log.reset();
        m_station.reset();
        // Printing back to normal for the next test, however this one ended.
        QCOMPARE(m_cups->start("abc"), QString());
    }

    void eachPhotoPrintsOnTheQueueOfItsSize()
    {
        // A landscape photo on the A5 queue, a portrait one on A4 and a square one wider than
        // the Letter page, with one, two and three copies.
        const QList<QSize> sizes { { 1500, 1000 }, { 1000, 1500 }, { 1200, 1200 } };
        QList<TestStation::Photo> photos;
        for (int i = 0; i < 3; ++i)
            photos << TestStation::Photo { i, i + 1,
                                           jpegBytes(sizes[i].width(), sizes[i].height()) };
        QVERIFY(m_station->addJob("1SK00001.job", photos));
        for (int i = 0; i < 3; ++i) {
            const char which = char('a' + i);
            m_station->tick();
            QCOMPARE(waitForLastJob(which), int(IPP_JSTATE_COMPLETED));
            const QString stem = TestStation::imageName("SK00001", i + 1).chopped(4);
            for (char other : { 'a', 'b', 'c' })
                QCOMPARE(m_cups->pdfs(other, stem).size(), other == which ? 1 : 0);
            const QString pdf = m_cups->pdfs(which, stem).value(0);
            QCOMPARE(PdfInspect::pageCount(pdf), i + 1);

            // Rendered at 100 dpi, each page shows the photo where the geometry puts it.
            const PhotoPlacement place = placePhoto(
                ModPrint::TargetWidthPx, ModPrint::TargetHeightPx, ModPrint::PageWidthPx,
                ModPrint::PageHeightPx, sizes[i].width(), sizes[i].height());
            const IgRect &d = place.deviceRect;
            for (int page : { 1, i + 1 }) {
                QCOMPARE(placementMismatch(PdfInspect::render(pdf, page, 100),
                                           QRect(QPoint(d.left, d.top), QPoint(d.right, d.bottom)),
                                           quartersAfterTurn(place.turnCode),
                                           100 / ModPrint::PrinterDpi, 2),
                         QString());
            }
        }
        QCOMPARE(m_station->store.jobCount, 0);
        QCOMPARE(StationLogRecorder::warnings(), QStringList());
    }

    // A scheduler that stopped is tried at each tick, with a warning that says why; nothing is
    // counted, moved or submitted meanwhile, and once it answers again the photo prints once.
    // (Queues that reject jobs or were deleted: tst_printerpace.)
    void stoppedSchedulerHoldsThePhotoUntilItAnswers()
    {
        QVERIFY(m_station->addJob("1SK10002.job", { { 0, 1 }, { 0, 2 } }, m_jpeg));
        // The first photo prints, which makes queue a the current printer.
        m_station->tick();
        QCOMPARE(waitForLastJob('a'), int(IPP_JSTATE_COMPLETED));
        const int lastJob = m_port->lastJobId();
        QVERIFY(m_cups->stop());
        m_port->refreshNow();
        QVERIFY(waitUntilIdle(*m_port));
        StationLogRecorder::clear();
        for (int attempt = 1; attempt <= 3; ++attempt) {
            m_station->tick();
            QCOMPARE(StationLogRecorder::warnings().size(), attempt);
            QVERIFY2(StationLogRecorder::warnings().last().contains("is not answering"),
                     qPrintable(StationLogRecorder::warnings().last()));
        }
        QVERIFY(StationLogRecorder::infos().filter("zelvo.print:").size() <= 1);
        QCOMPARE(m_station->store.printJobs[0].printedCount, int16_t(1));
        QCOMPARE(m_station->files("jobs") + m_station->files("images"), 3);
        QCOMPARE(m_port->lastJobId(), lastJob);

        QCOMPARE(m_cups->start("a"), QString());
        StationLogRecorder::clear();
        m_station->tick();
        QCOMPARE(StationLogRecorder::warnings(), QStringList());
        QVERIFY(StationLogRecorder::infos().join('\n').contains("Printing goes on"));
        QCOMPARE(m_station->store.jobCount, int16_t(0));
        // Exactly one document per photo came out, with a page per copy.
        QCOMPARE(waitForLastJob('a'), int(IPP_JSTATE_COMPLETED));
        for (int photo = 1; photo <= 2; ++photo) {
            const QStringList pdfs = m_cups->pdfs('a', QStringLiteral("SK10002_000%1").arg(photo));
            QCOMPARE(pdfs.size(), 1);
            QCOMPARE(PdfInspect::pageCount(pdfs[0]), photo);
        }
    }

    void schedulerDownAtTheFirstPhotoWaitsForItsQueue()
    {
        // A station that starts while CUPS is still starting (or stopped) has no printer chosen
        // yet, and the system's default then looks like the built-in PDF printer. The photo must
        // wait for its queue, not go into a PDF and count as printed.
        SystemPrinterPort fresh(m_root.filePath("pdf-fresh"));
        ModPrint::setPrinterPort(&fresh);
        const auto restore = qScopeGuard([this] { ModPrint::setPrinterPort(m_port.get()); });
        QVERIFY(m_station->addJob("1SK30000.job", { { 0, 1 } }, m_jpeg));
        QVERIFY(m_cups->stop());
        m_station->tick();
        m_station->tick();
        QCOMPARE(m_station->store.printJobs[0].printedCount, int16_t(0));
        QVERIFY(QDir(m_root.filePath("pdf-fresh")).isEmpty());
        QVERIFY(StationLogRecorder::warnings().join('\n').contains("is not answering"));

        // Until a photo's printer matches, the current printer is the system's default.
        QCOMPARE(m_cups->start(), QString());
        QCOMPARE(PrivateCups::admin("lpadmin", { "-d", queue('b') }), QString());
        fresh.refreshNow();
        QVERIFY(waitUntilIdle(fresh));
        QCOMPARE(fresh.currentPrinter(), queue('b'));
        // A new default is noticed at the link's next round, without a forced refresh.
        QCOMPARE(PrivateCups::admin("lpadmin", { "-d", queue('c') }), QString());
        QTRY_COMPARE_WITH_TIMEOUT(fresh.currentPrinter(), queue('c'), 3000);
        m_station->tick();
        QCOMPARE(m_station->store.jobCount, int16_t(0));
        QCOMPARE(PrivateCups::waitForJob(queue('a'), fresh.lastJobId()), int(IPP_JSTATE_COMPLETED));
        QCOMPARE(m_cups->pdfs('a', "SK30000").size(), 1);
    }

    // A submission CUPS is slow to answer is waited for; one whose answer is lost is looked for
    // in CUPS before the photo goes again: each photo is submitted and printed once.
    void slowOrLostSubmissionPrintsOnce_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("actCode");
        const int late = int(SchedulerProxy::Act::Delay), lost = int(SchedulerProxy::Act::Drop);
        QTest::newRow("Create-Job answered late") << int(IPP_OP_CREATE_JOB) << late;
        QTest::newRow("Send-Document answered late") << int(IPP_OP_SEND_DOCUMENT) << late;
        QTest::newRow("Create-Job answer lost") << int(IPP_OP_CREATE_JOB) << lost;
        QTest::newRow("Send-Document answer lost") << int(IPP_OP_SEND_DOCUMENT) << lost;
        // A restarted scheduler closed the link's connection: it connects again at once.
        QTest::newRow("connection closed") << int(IPP_OP_CUPS_GET_PRINTERS) << lost;
        // Successful, with an attribute ignored or substituted: no refusal.
        const int ignored = int(SchedulerProxy::Act::Status);
        QTest::newRow("Create-Job ignored an attribute") << int(IPP_OP_CREATE_JOB) << ignored;
        QTest::newRow("Send-Document ignored an attribute") << int(IPP_OP_SEND_DOCUMENT) << ignored;
    }
    void slowOrLostSubmissionPrintsOnce()
    {
        QFETCH(int, op);
        QFETCH(int, actCode);
        const auto act = SchedulerProxy::Act(actCode);
        SchedulerProxy proxy(m_root.filePath("proxy.sock"), qEnvironmentVariable("CUPS_SERVER"));
        SystemPrinterPort port(m_root.filePath("pdf-proxy"), proxy.path());
        ModPrint::setPrinterPort(&port);
        const auto restore = qScopeGuard([this] { ModPrint::setPrinterPort(m_port.get()); });
        const QString name
            = QStringLiteral("SK5%1%2").arg(op, 4, 16, QLatin1Char('0')).arg(actCode);
        const bool lost = act == SchedulerProxy::Act::Drop && op != IPP_OP_CUPS_GET_PRINTERS;
        QVERIFY(m_station->addJob('1' + name + ".job", { { 0, 1 } }, m_jpeg));
        port.refreshNow();
        QVERIFY(waitUntilIdle(port));

        proxy.set(ipp_op_t(op), act, 1, 2000, IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED);
        m_station->tick();
        if (lost) {
            QCOMPARE(m_station->store.jobCount, int16_t(1)); // not known yet: waits
            m_station->tick();
        }
        QCOMPARE(m_station->store.jobCount, int16_t(0));
        QCOMPARE(StationLogRecorder::warnings().size(), lost);
        QCOMPARE(proxy.seen(IPP_OP_CREATE_JOB), 1);
        QCOMPARE(PrivateCups::waitForJob(queue('a'), port.lastJobId()), int(IPP_JSTATE_COMPLETED));
        QCOMPARE(m_cups->pdfs('a', name).size(), 1);
    }

    // Only CUPS's "not found" means it forgot a job; an answer without the job's state for
    // another reason leaves the job followed.
    void jobAnsweredWithoutItsStateIsFollowedOn_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("ledgerState");
        QTest::newRow("busy") << int(IPP_STATUS_ERROR_BUSY) << "enviado";
        QTest::newRow("unavailable") << int(IPP_STATUS_ERROR_SERVICE_UNAVAILABLE) << "enviado";
        QTest::newRow("not found") << int(IPP_STATUS_ERROR_NOT_FOUND) << "desconhecido";
    }
    void jobAnsweredWithoutItsStateIsFollowedOn()
    {
        QFETCH(int, status);
        QFETCH(QString, ledgerState);
        SchedulerProxy proxy(m_root.filePath("proxy.sock"), qEnvironmentVariable("CUPS_SERVER"));
        SystemPrinterPort port(m_root.filePath("pdf-proxy"), proxy.path());
        ModPrint::setPrinterPort(&port);
        const auto restore = qScopeGuard([this] { ModPrint::setPrinterPort(m_port.get()); });
        QVERIFY(m_station->addJob("1SK60000.job", { { 0, 1 } }, m_jpeg));
        m_station->tick();
        QCOMPARE(PrivateCups::waitForJob(queue('a'), port.lastJobId()), int(IPP_JSTATE_COMPLETED));
        const auto stateNow = [&] {
            port.refreshNow();
            return waitUntilIdle(port)
                ? m_station->tracker()->ledger().rows(QDate::currentDate()).value(0).state
                : QString();
        };
        proxy.set(IPP_OP_GET_JOB_ATTRIBUTES, SchedulerProxy::Act::Busy, 1000, 0,
                  ipp_status_t(status));
        QCOMPARE(stateNow(), ledgerState);
        QCOMPARE(stateNow(), ledgerState);
        proxy.set(IPP_OP_GET_JOB_ATTRIBUTES, SchedulerProxy::Act::Pass);
        QCOMPARE(stateNow(), ledgerState == "enviado" ? "concluido" : ledgerState);
    }

    // Printers left empty in the settings, as scripts/run writes them, are chosen at the first
    // photo by what CUPS answers; the built-in PDF printer only when CUPS has no queue at all.
    void emptyPrintersFollowWhatCupsAnswers_data()
    {
        QTest::addColumn<QString>("cups");
        QTest::addColumn<QString>("chosen"); // a queue's letter, or "pdf"
        QTest::newRow("not answering: the photo waits, then the default queue") << "stopped"
                                                                                << "b";
        QTest::newRow("queues, none marked default: the first listed") << "no default"
                                                                       << "a";
        QTest::newRow("no queue at all: the built-in printer") << "no queue"
                                                               << "pdf";
    }
    void emptyPrintersFollowWhatCupsAnswers()
    {
        QFETCH(QString, cups);
        QFETCH(QString, chosen);
        m_station = std::make_unique<TestStation>(QString(), QString(), QString());
        const QString orderId
            = QStringLiteral("SK4000%1")
                  .arg(QStringList { "stopped", "no default", "no queue" }.indexOf(cups));
        QVERIFY(m_station->addJob('1' + orderId + ".job", { { 0, 1 } }, m_jpeg));
        // Queues added anew are none of them the default.
        for (char which : { 'a', 'b', 'c' })
            QCOMPARE(PrivateCups::admin("lpadmin", { "-x", queue(which) }), QString());
        if (cups == "no default")
            QCOMPARE(m_cups->start("abc"), QString());
        if (cups == "stopped") {
            QVERIFY(m_cups->stop());
            m_station->tick();
            QCOMPARE(ModConf::Printer10x15, QString());
            QVERIFY(StationLogRecorder::warnings().join('\n').contains("not answering"));
            QCOMPARE(m_cups->start("abc"), QString());
            QCOMPARE(PrivateCups::admin("lpadmin", { "-d", queue('b') }), QString());
        }
        m_station->tick();

        const QString printer
            = chosen == "pdf" ? SystemPrinterPort::BuiltInPdfPrinter : queue(chosen[0].toLatin1());
        QCOMPARE(
            QStringList({ ModConf::Printer10x15, ModConf::Printer13x18, ModConf::Printer15x23 }),
            QStringList(3, printer));
        if (chosen == "pdf") {
            QVERIFY(m_port->lastPdfFile().contains(orderId));
        } else {
            QCOMPARE(waitForLastJob(chosen[0].toLatin1()), int(IPP_JSTATE_COMPLETED));
            QCOMPARE(m_cups->pdfs(chosen[0].toLatin1(), orderId).size(), 1);
        }
    }

    // A day at the counter in a few minutes, run alone by ctest as tst_soak: ZELVO_SOAK_JOBS
    // orders of one to five photos, on mixed paper sizes with one to three copies. Half the
    // orders are waiting at the first tick, the rest arrive one every other tick while the queue
    // prints. CUPS is given time to keep up, as printers do at the real pace of a tick every 15 s.
    void soak_everyOrderPrintsOnceAndIsRetired()
    {
        const int orders = qEnvironmentVariableIntValue("ZELVO_SOAK_JOBS");
        if (orders <= 0)
            QSKIP("runs as tst_soak, with ZELVO_SOAK_JOBS orders");
        // The orders, fixed by the seed; each photo's paper size and copies by its name.
        QRandomGenerator random(20261206);
        const QList<QByteArray> jpegs { jpegBytes(180, 120), jpegBytes(120, 180),
                                        jpegBytes(150, 150) };
        QHash<QString, TestStation::Photo> expected;
        int written = 0;
        const auto writeJob = [&] {
            const QString orderId = QStringLiteral("SO%1").arg(10000 + written);
            QList<TestStation::Photo> photos;
            for (int n = 1 + int(random.bounded(5)); n > 0; --n) {
                photos << TestStation::Photo { int(random.bounded(3)), 1 + int(random.bounded(3)) };
                expected.insert(TestStation::imageName(orderId, int(photos.size())).chopped(4),
                                photos.last());
            }
            return m_station->addJob('1' + orderId + ".job", photos, jpegs[written++ % 3]);
        };
        while (written < orders / 2)
            QVERIFY(writeJob());

        QElapsedTimer total;
        total.start();
        int ticks = 0;
        // One photo per tick, the job retired in the tick of its last photo: exactly one tick per
        // photo when nothing fails.
        while (written < orders || m_station->store.jobCount > 0) {
            if (written < orders && (ticks % 2 == 0 || m_station->store.jobCount == 0))
                QVERIFY(writeJob());
            QVERIFY2(ticks < expected.size(), "more ticks than photos: one was printed twice");
            while (PrivateCups::activeJobs() >= 6)
                QThread::msleep(10);
            m_station->tick();
            ++ticks;
        }
        QTRY_COMPARE_WITH_TIMEOUT(PrivateCups::activeJobs(), 0, 600000);
        const qint64 printed = total.elapsed();
        const int photos = int(expected.size());
        QCOMPARE(ticks, photos);

        QCOMPARE(StationLogRecorder::warnings(), QStringList());
        QCOMPARE(m_station->files("jobs") + m_station->files("images"), 0);
        QCOMPARE(m_station->files("backup/jobs"), orders);
        QCOMPARE(m_station->files("backup/images"), photos);

        // Every photo came out exactly once, on the queue of its paper size, a page per copy.
        const QRegularExpression photoName(QStringLiteral("SO\\d{5}_\\d{4}"));
        QHash<QString, int> seen;
        int pages = 0;
        for (char which : { 'a', 'b', 'c' }) {
            for (const QString &pdf : m_cups->pdfs(which, "SO")) {
                const QString name = photoName.match(pdf).captured();
                QVERIFY2(expected.contains(name) && ++seen[name] == 1, qPrintable(pdf));
                QCOMPARE(char('a' + expected[name].paperSize), which);
                QCOMPARE(PdfInspect::pageCount(pdf), expected[name].copies);
                pages += expected[name].copies;
            }
        }
        QCOMPARE(seen.size(), photos);

        qInfo("%d orders, %d photos, %d pages: printed in %.1f s, checked in %.1f s", orders,
              photos, pages, printed / 1000.0, (total.elapsed() - printed) / 1000.0);
    }
};

QTEST_MAIN(TestCupsPrinting)
#include "tst_cupsprinting.moc"
