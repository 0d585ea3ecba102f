#include "ModPrint.h"
#include "PdfInspect.h"
#include "PrivateCups.h"
#include "SystemPrinterPort.h"
#include "TestPhotos.h"
#include "TestStation.h"

#include <QTest>

#include <cups/cups.h>

#include <memory>
#include <unistd.h>

// The station's ticks against a real CUPS scheduler while printing breaks down the ways a shop
// meets: a queue that rejects jobs, the queue in use deleted, the scheduler stopped, a printer
// paused. Each outage is made with CUPS's own admin programs or by stopping the scheduler.
class TestPrintOutages : public QObject
{
    Q_OBJECT

public:
    enum Outage { QueueRejects, QueueDeleted, SchedulerStopped };
    Q_ENUM(Outage)

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void outageHoldsThePhotoUntilPrintingResumes_data();
    void outageHoldsThePhotoUntilPrintingResumes();
    void pausedPrinterKeepsEachDocumentOnce();
    void schedulerDownAtTheFirstPhotoWaitsForItsQueue();

private:
    QString queue(char which) const { return m_prefix + QLatin1Char(which); }
    QString outFolder(char which) const { return m_root.filePath(QStringLiteral("out-") + which); }
    QString addQueue(char which);
    // The PDFs that queue `which` wrote for the photo `image`.
    QStringList pdfsOf(char which, const QString &image) const;
    QString nextOrderId() { return QStringLiteral("SK%1").arg(10000 + ++m_orders); }

    QTemporaryDir m_root;
    std::unique_ptr<PrivateCups> m_cups;
    std::unique_ptr<SystemPrinterPort> m_port;
    std::unique_ptr<TestStation> m_station;
    std::unique_ptr<StationLogRecorder> m_log;
    QString m_prefix = QStringLiteral("zelvo_outage_%1_").arg(::getpid());
    QByteArray m_jpeg = TestPhotos::jpegBytes(600, 400);
    int m_orders = 0;
};

void TestPrintOutages::initTestCase()
{
    if (const QString reason = PrivateCups::unavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_cups = std::make_unique<PrivateCups>(m_root.path());
    const QString started = m_cups->start();
    QVERIFY2(started.isEmpty(), qPrintable(started));
    for (char which : { 'a', 'b' }) {
        const QString added = addQueue(which);
        QVERIFY2(added.isEmpty(), qPrintable(added));
    }
    m_port = std::make_unique<SystemPrinterPort>(m_root.filePath("pdf"));
    ModPrint::setPrinterPort(m_port.get());
}

void TestPrintOutages::cleanupTestCase()
{
    ModPrint::setPrinterPort(nullptr);
    m_cups.reset();
}

void TestPrintOutages::init()
{
    m_station = std::make_unique<TestStation>();
    setStationSettings(m_station->folder(), queue('a'), queue('b'), queue('b'));
    m_log = std::make_unique<StationLogRecorder>();
    StationLogRecorder::clear();
}

void TestPrintOutages::cleanup()
{
    m_log.reset();
    m_station.reset();
    // Printing back to normal for the next test, however this one ended.
    QCOMPARE(m_cups->start(), QString());
    for (char which : { 'a', 'b' })
        QCOMPARE(addQueue(which), QString());
}

QString TestPrintOutages::addQueue(char which)
{
    return m_cups->addPdfQueue(queue(which), which == 'a' ? "A5" : "A4", outFolder(which));
}

QStringList TestPrintOutages::pdfsOf(char which, const QString &image) const
{
    // cups-pdf names each file after the document's title, "Zelvo " + the photo's file name.
    const QString stem = image.chopped(4);
    QStringList found;
    for (const QString &name : QDir(outFolder(which)).entryList({ "*.pdf" }, QDir::Files)) {
        if (name.contains(stem))
            found << QDir(outFolder(which)).filePath(name);
    }
    return found;
}

void TestPrintOutages::outageHoldsThePhotoUntilPrintingResumes_data()
{
    QTest::addColumn<Outage>("outage");
    QTest::addColumn<QString>("reason"); // what the one log line of a failing tick says

    QTest::newRow("queue rejects jobs") << QueueRejects << "not accepting jobs";
    // The queue's name is listed no more, so it stays current and CUPS refuses the document.
    QTest::newRow("current queue deleted") << QueueDeleted << "CUPS has no queue named";
    QTest::newRow("scheduler stopped") << SchedulerStopped << "scheduler (localhost:";
}

void TestPrintOutages::outageHoldsThePhotoUntilPrintingResumes()
{
    QFETCH(Outage, outage);
    QFETCH(QString, reason);
    const QString orderId = nextOrderId();
    QVERIFY(m_station->addJob('1' + orderId + ".job", { { 0, 1 }, { 0, 2 } }, m_jpeg));

    // The first photo prints, which makes queue a the current printer.
    m_station->tick();
    QCOMPARE(m_station->store.printJobs[0].printedCount, int16_t(1));
    QCOMPARE(PrivateCups::waitForJob(queue('a'), m_port->lastJobId()), int(IPP_JSTATE_COMPLETED));
    const int lastJob = m_port->lastJobId();
    StationLogRecorder::clear();

    switch (outage) {
    case QueueRejects:
        QCOMPARE(PrivateCups::admin("cupsreject", { queue('a') }), QString());
        break;
    case QueueDeleted:
        QCOMPARE(PrivateCups::admin("lpadmin", { "-x", queue('a') }), QString());
        break;
    case SchedulerStopped:
        QVERIFY(m_cups->stop());
        break;
    }
    // One warning per failing tick says why; an unmatched name is mentioned once.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const qsizetype before = StationLogRecorder::warnings().size();
        m_station->tick();
        QCOMPARE(StationLogRecorder::warnings().size(), before + 1);
        QVERIFY2(StationLogRecorder::warnings().last().contains(reason),
                 qPrintable(StationLogRecorder::warnings().last()));
    }
    QVERIFY(StationLogRecorder::infos().size() <= 1);
    // Nothing counted, nothing moved, nothing submitted.
    const JobRecord &job = m_station->store.printJobs[0];
    QCOMPARE(m_station->store.jobCount, int16_t(1));
    QCOMPARE(job.printedCount, int16_t(1));
    QCOMPARE(job.photos[1].printed, int16_t(0));
    QVERIFY(QFile::exists(m_station->path("jobs/2" + orderId + ".job")));
    QCOMPARE(m_station->files("images"), 2);
    QCOMPARE(m_station->files("backup/jobs") + m_station->files("backup/images"), 0);
    QCOMPARE(m_port->lastJobId(), lastJob);

    switch (outage) {
    case QueueRejects:
        QCOMPARE(PrivateCups::admin("cupsaccept", { queue('a') }), QString());
        break;
    case QueueDeleted:
        QCOMPARE(addQueue('a'), QString());
        break;
    case SchedulerStopped:
        QCOMPARE(m_cups->start(), QString());
        break;
    }
    StationLogRecorder::clear();
    m_station->tick();
    QCOMPARE(StationLogRecorder::warnings(), QStringList());
    QVERIFY(StationLogRecorder::infos().join('\n').contains("Printing goes on"));
    QCOMPARE(m_station->store.jobCount, int16_t(0));
    QVERIFY(QFile::exists(m_station->path("backup/jobs/3" + orderId + ".job")));
    QCOMPARE(m_station->files("backup/images"), 2);
    QCOMPARE(m_station->files("jobs") + m_station->files("images"), 0);

    // Exactly one document per photo came out, with a page per copy.
    QCOMPARE(PrivateCups::waitForJob(queue('a'), m_port->lastJobId()), int(IPP_JSTATE_COMPLETED));
    for (int photo = 1; photo <= 2; ++photo) {
        const QStringList pdfs = pdfsOf('a', TestStation::imageName(orderId, photo));
        QCOMPARE(pdfs.size(), 1);
        QCOMPARE(PdfInspect::pageCount(pdfs[0]), photo);
    }
}

void TestPrintOutages::pausedPrinterKeepsEachDocumentOnce()
{
    // A paused queue takes documents and keeps them until it is started again, so the photos
    // count as handed over and the job is retired; later ticks must not send them again.
    const QString orderId = nextOrderId();
    QVERIFY(m_station->addJob('1' + orderId + ".job", { { 1, 1 }, { 2, 3 } }, m_jpeg));
    QCOMPARE(PrivateCups::admin("cupsdisable", { queue('b') }), QString());
    for (int tick = 0; tick < 4; ++tick)
        m_station->tick();
    QCOMPARE(m_station->store.jobCount, int16_t(0));
    QCOMPARE(m_station->files("backup/images"), 2);
    QCOMPARE(PrivateCups::activeJobs(queue('b')), 2);
    QVERIFY(pdfsOf('b', TestStation::imageName(orderId, 1)).isEmpty());

    QCOMPARE(PrivateCups::admin("cupsenable", { queue('b') }), QString());
    QVERIFY(PrivateCups::waitUntilIdle(120000));
    for (int photo = 1; photo <= 2; ++photo) {
        const QStringList pdfs = pdfsOf('b', TestStation::imageName(orderId, photo));
        QCOMPARE(pdfs.size(), 1);
        QCOMPARE(PdfInspect::pageCount(pdfs[0]), photo == 1 ? 1 : 3);
    }
    QCOMPARE(StationLogRecorder::warnings(), QStringList());
}

void TestPrintOutages::schedulerDownAtTheFirstPhotoWaitsForItsQueue()
{
    // A station that starts while CUPS is still starting (or stopped) has no printer chosen
    // yet, and the system's default then looks like the built-in PDF printer. The photo must
    // wait for its queue, not go into a PDF and count as printed.
    SystemPrinterPort fresh(m_root.filePath("pdf-fresh"));
    ModPrint::setPrinterPort(&fresh);
    const QString orderId = nextOrderId();
    QVERIFY(m_station->addJob('1' + orderId + ".job", { { 0, 1 } }, m_jpeg));
    QVERIFY(m_cups->stop());
    m_station->tick();
    m_station->tick();
    QCOMPARE(m_station->store.jobCount, int16_t(1));
    QCOMPARE(m_station->store.printJobs[0].printedCount, int16_t(0));
    QVERIFY(!QDir(m_root.filePath("pdf-fresh")).exists()
            || QDir(m_root.filePath("pdf-fresh")).isEmpty());
    QVERIFY(StationLogRecorder::warnings().join('\n').contains("is not answering"));

    QCOMPARE(m_cups->start(), QString());
    m_station->tick();
    ModPrint::setPrinterPort(m_port.get());
    QCOMPARE(m_station->store.jobCount, int16_t(0));
    QCOMPARE(PrivateCups::waitForJob(queue('a'), fresh.lastJobId()), int(IPP_JSTATE_COMPLETED));
    QCOMPARE(pdfsOf('a', TestStation::imageName(orderId, 1)).size(), 1);
}

QTEST_MAIN(TestPrintOutages)
#include "tst_printoutages.moc"
