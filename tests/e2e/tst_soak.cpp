#include "ModPrint.h"
#include "PdfInspect.h"
#include "PrivateCups.h"
#include "SystemPrinterPort.h"
#include "TestPhotos.h"
#include "TestStation.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <memory>
#include <unistd.h>

// A day at the counter in a few minutes: ZELVO_SOAK_JOBS orders (500 unless set) of one to five
// photos, on mixed paper sizes with one to three copies, go through the station's ticks into
// three cups-pdf queues of a private CUPS scheduler. Half the orders are waiting at the first
// tick, the rest arrive one every other tick while the queue prints. The ticks are driven
// directly; CUPS is given time to keep up, as printers do at the real pace of a tick every 15 s.
class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyOrderPrintsOnceAndIsRetired();

private:
    struct Expected
    {
        char queue;
        int copies;
    };

    QString queue(char which) const { return m_prefix + QLatin1Char(which); }
    QString outFolder(char which) const { return m_root.filePath(QStringLiteral("out-") + which); }

    QTemporaryDir m_root;
    std::unique_ptr<PrivateCups> m_cups;
    std::unique_ptr<SystemPrinterPort> m_port;
    QString m_prefix = QStringLiteral("zelvo_soak_%1_").arg(::getpid());
};

void TestSoak::initTestCase()
{
    if (const QString reason = PrivateCups::unavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_cups = std::make_unique<PrivateCups>(m_root.path());
    const QString started = m_cups->start();
    QVERIFY2(started.isEmpty(), qPrintable(started));
    for (const auto &[which, paper] :
         { std::pair { 'a', "A5" }, { 'b', "A4" }, { 'c', "Letter" } }) {
        const QString added = m_cups->addPdfQueue(queue(which), paper, outFolder(which));
        QVERIFY2(added.isEmpty(), qPrintable(added));
    }
    m_port = std::make_unique<SystemPrinterPort>(m_root.filePath("pdf"));
    ModPrint::setPrinterPort(m_port.get());
}

void TestSoak::cleanupTestCase()
{
    ModPrint::setPrinterPort(nullptr);
    m_cups.reset();
}

void TestSoak::everyOrderPrintsOnceAndIsRetired()
{
    const int orders = qEnvironmentVariableIsSet("ZELVO_SOAK_JOBS")
        ? qEnvironmentVariableIntValue("ZELVO_SOAK_JOBS")
        : 500;
    QVERIFY(orders > 0);
    TestStation station;
    setStationSettings(station.folder(), queue('a'), queue('b'), queue('c'));
    StationLogRecorder log;
    StationLogRecorder::clear();

    // The orders, fixed by the seed: photos by name with their queue and copies.
    QRandomGenerator random(20261206);
    const QList<QByteArray> jpegs { TestPhotos::jpegBytes(180, 120),
                                    TestPhotos::jpegBytes(120, 180),
                                    TestPhotos::jpegBytes(150, 150) };
    QList<QPair<QString, QList<TestStation::Photo>>> jobs;
    QHash<QString, Expected> expected;
    for (int order = 0; order < orders; ++order) {
        const QString orderId = QStringLiteral("SK%1").arg(20000 + order);
        QList<TestStation::Photo> photos;
        for (int n = 1 + int(random.bounded(5)); n > 0; --n) {
            const TestStation::Photo photo { int(random.bounded(3)), 1 + int(random.bounded(3)) };
            photos << photo;
            expected.insert(TestStation::imageName(orderId, int(photos.size())).chopped(4),
                            { char('a' + photo.paperSize), photo.copies });
        }
        jobs << qMakePair(QLatin1Char('1') + orderId + QStringLiteral(".job"), photos);
    }
    const int photos = int(expected.size());
    auto writeJob = [&](int order) {
        return station.addJob(jobs[order].first, jobs[order].second, jpegs[order % jpegs.size()]);
    };
    int written = 0;
    for (; written < orders / 2; ++written)
        QVERIFY(writeJob(written));

    QElapsedTimer total;
    total.start();
    qint64 ticking = 0;
    int ticks = 0;
    // One photo per tick, the job retired in the tick of its last photo: exactly one tick per
    // photo when nothing fails.
    while (written < orders || station.store.jobCount > 0) {
        QVERIFY2(ticks < photos, "more ticks than photos: a photo was printed twice or not at all");
        if (written < orders && (ticks % 2 == 0 || station.store.jobCount == 0))
            QVERIFY(writeJob(written++));
        while (PrivateCups::activeJobs() >= 6)
            QThread::msleep(10);
        QElapsedTimer tick;
        tick.start();
        station.tick();
        ticking += tick.nsecsElapsed();
        ++ticks;
    }
    QVERIFY(PrivateCups::waitUntilIdle(600000));
    const qint64 printed = total.elapsed();

    QCOMPARE(ticks, photos);
    QCOMPARE(StationLogRecorder::warnings(), QStringList());
    QCOMPARE(station.files("jobs") + station.files("images"), 0);
    QCOMPARE(station.files("backup/jobs"), orders);
    QCOMPARE(station.files("backup/images"), photos);
    for (const QString &retired : QDir(station.path("backup/jobs")).entryList(QDir::Files))
        QVERIFY2(retired.startsWith(QLatin1Char('3')), qPrintable(retired));

    // Every photo came out exactly once, on the queue of its paper size, a page per copy.
    const QRegularExpression photoName(QStringLiteral("SK\\d{5}_\\d{4}"));
    QHash<QString, int> seen;
    int pages = 0;
    for (char which : { 'a', 'b', 'c' }) {
        const QDir out(outFolder(which));
        for (const QString &pdf : out.entryList({ "*.pdf" }, QDir::Files)) {
            const QString name = photoName.match(pdf).captured();
            QVERIFY2(expected.contains(name), qPrintable(pdf));
            QCOMPARE(expected[name].queue, which);
            QCOMPARE(PdfInspect::pageCount(out.filePath(pdf)), expected[name].copies);
            pages += expected[name].copies;
            ++seen[name];
        }
    }
    QCOMPARE(seen.size(), photos);
    QVERIFY(std::all_of(seen.cbegin(), seen.cend(), [](int count) { return count == 1; }));

    qInfo("%d orders, %d photos, %d pages: printed in %.1f s (the station's ticks %.1f s, "
          "%.1f ms each), checked in %.1f s",
          orders, photos, pages, printed / 1000.0, ticking / 1e9, ticking / 1e6 / ticks,
          (total.elapsed() - printed) / 1000.0);
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
