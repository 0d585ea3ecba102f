#include "CupsScheduler.h"
#include "ModPrint.h"
#include "PageGeometry.h"
#include "PdfInspect.h"
#include "SystemPrinterPort.h"
#include "TestPhotos.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTest>
#include <QThread>

#include <cups/cups.h>

#include <memory>
#include <unistd.h>

using namespace TestPhotos;

// Printing through a real CUPS scheduler started by the test, into cups-pdf queues, read back
// with poppler: the right queue gets one PDF per document, one page per copy, and the photo
// lands where the geometry says, turned and in its proportions.
class TestCupsPrinting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listsQueuesThenBuiltInPrinter();
    void laysPagesOutOnQueuePaper_data();
    void laysPagesOutOnQueuePaper();
    void printsOnTheRightQueue_data();
    void printsOnTheRightQueue();
    void rejectingQueueFailsTheDocument();
    void pausedQueueKeepsTheJob();
    void schedulerDownFailsTheDocument();

private:
    QString queue(char which) const { return m_prefix + QLatin1Char(which); }
    QStringList pdfsIn(const QString &queueName) const;
    // Waits until the job leaves the queue; its final state, or 0 on timeout.
    int waitForJob(const QString &queueName, int jobId);
    int activeJobs(const QString &queueName);
    bool printDocument(const QString &printerName, const QString &photo, int16_t copies);

    std::unique_ptr<CupsScheduler> m_cups;
    std::unique_ptr<SystemPrinterPort> m_port;
    QTemporaryDir m_dir;
    QString m_prefix;
};

void TestCupsPrinting::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("Starting a private CUPS scheduler with the cups-pdf backend needs root; run as root "
              "(CI does) to print end to end");
    QVERIFY(m_dir.isValid());
    m_cups = std::make_unique<CupsScheduler>();
    const QString error = m_cups->start();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // Before anything in this process talks to CUPS: libcups reads it once.
    qputenv("CUPS_SERVER", m_cups->server().toUtf8());

    m_prefix = QStringLiteral("zelvo_e2e_%1_").arg(::getpid());
    for (const auto &[which, paper] :
         { std::pair { 'a', "A5" }, { 'b', "A4" }, { 'c', "Letter" } }) {
        const QString added = m_cups->addPdfQueue(queue(which), QLatin1String(paper));
        QVERIFY2(added.isEmpty(), qPrintable(added));
    }
    m_port = std::make_unique<SystemPrinterPort>(m_dir.filePath("pdf"));
    ModPrint::setPrinterPort(m_port.get());
}

void TestCupsPrinting::cleanupTestCase()
{
    ModPrint::setPrinterPort(nullptr);
    m_port.reset();
    m_cups.reset();
}

QStringList TestCupsPrinting::pdfsIn(const QString &queueName) const
{
    QDir dir(m_cups->outputFolder(queueName));
    QStringList files;
    for (const QString &name : dir.entryList({ "*.pdf" }, QDir::Files))
        files << dir.filePath(name);
    return files;
}

int TestCupsPrinting::waitForJob(const QString &queueName, int jobId)
{
    const QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired()) {
        cups_job_t *jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queueName.toUtf8().constData(), 0,
                                       CUPS_WHICHJOBS_ALL);
        int state = 0;
        for (int i = 0; i < count; ++i) {
            if (jobs[i].id == jobId)
                state = jobs[i].state;
        }
        cupsFreeJobs(count, jobs);
        if (state >= IPP_JSTATE_CANCELED)
            return state;
        QThread::msleep(100);
    }
    return 0;
}

int TestCupsPrinting::activeJobs(const QString &queueName)
{
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queueName.toUtf8().constData(), 0,
                                   CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(count, jobs);
    return qMax(count, 0);
}

bool TestCupsPrinting::printDocument(const QString &printerName, const QString &photo,
                                     int16_t copies)
{
    ModPrint::SelectPrinter(printerName);
    if (!ModPrint::OpenPrintDocument(QFileInfo(photo).fileName()))
        return false;
    ModPrint::PrintPhoto(photo, copies);
    return ModPrint::EndPrintDocument();
}

void TestCupsPrinting::listsQueuesThenBuiltInPrinter()
{
    QCOMPARE(
        m_port->installedPrinters(),
        (QStringList { queue('a'), queue('b'), queue('c'), SystemPrinterPort::BuiltInPdfPrinter }));
    QCOMPARE(m_port->defaultPrinter(), SystemPrinterPort::BuiltInPdfPrinter);
    const QString madeDefault = m_cups->run("lpadmin", { "-d", queue('b') });
    QVERIFY2(madeDefault.isEmpty(), qPrintable(madeDefault));
    QCOMPARE(m_port->defaultPrinter(), queue('b'));
    QCOMPARE(m_port->currentPrinter(), queue('b'));
    // A name that is not installed is never handed to Qt, which would pick another queue.
    m_port->setCurrentPrinter(queue('z'));
    QCOMPARE(m_port->currentPrinter(), queue('b'));
}

void TestCupsPrinting::laysPagesOutOnQueuePaper_data()
{
    QTest::addColumn<char>("which");
    QTest::addColumn<QSizeF>("paperPt");

    // Qt measures ISO sizes in whole points.
    QTest::newRow("A5") << 'a' << QSizeF(420, 595);
    QTest::newRow("A4") << 'b' << QSizeF(595, 842);
    QTest::newRow("Letter") << 'c' << QSizeF(612, 792);
}

void TestCupsPrinting::laysPagesOutOnQueuePaper()
{
    QFETCH(char, which);
    QFETCH(QSizeF, paperPt);
    // cups-pdf has no hardware margins: the printable area is the whole default paper.
    m_port->setCurrentPrinter(queue(which));
    const float dpi = m_port->resolution();
    QVERIFY(dpi >= 72);
    const QSizeF printable = m_port->printableSize();
    QVERIFY2(qAbs(printable.width() - paperPt.width() * dpi / 72) <= 2
                 && qAbs(printable.height() - paperPt.height() * dpi / 72) <= 2,
             qPrintable(QStringLiteral("%1 x %2 at %3 dpi")
                            .arg(printable.width())
                            .arg(printable.height())
                            .arg(dpi)));
}

void TestCupsPrinting::printsOnTheRightQueue_data()
{
    QTest::addColumn<char>("which");
    QTest::addColumn<QSize>("photoSize");
    QTest::addColumn<QSizeF>("inches");
    QTest::addColumn<int>("copies");

    QTest::newRow("10x15 landscape photo on the A5 queue")
        << 'a' << QSize(1500, 1000) << QSizeF(6.13, 4.13) << 1;
    QTest::newRow("13x18 portrait photo on the A4 queue")
        << 'b' << QSize(1000, 1500) << QSizeF(7.0, 5.0) << 2;
    QTest::newRow("15x23 square photo on the Letter queue, wider than the page")
        << 'c' << QSize(1200, 1200) << QSizeF(9.0, 6.0) << 3;
}

void TestCupsPrinting::printsOnTheRightQueue()
{
    QFETCH(char, which);
    QFETCH(QSize, photoSize);
    QFETCH(QSizeF, inches);
    QFETCH(int, copies);
    const QString photo = m_dir.filePath(QStringLiteral("photo_%1.jpg").arg(which));
    QVERIFY(writeQuadrantJpeg(photo, photoSize.width(), photoSize.height()));
    QMap<QString, QStringList> before;
    for (char q : { 'a', 'b', 'c' })
        before[queue(q)] = pdfsIn(queue(q));

    ModPrint::TargetWidthIn = float(inches.width());
    ModPrint::TargetHeightIn = float(inches.height());
    // Configured names match the queue whatever their letter case.
    QVERIFY(printDocument(queue(which).toUpper(), photo, int16_t(copies)));
    QCOMPARE(m_port->currentPrinter(), queue(which));
    QCOMPARE(waitForJob(queue(which), m_port->lastJobId()), int(IPP_JSTATE_COMPLETED));

    for (char q : { 'a', 'b', 'c' })
        QCOMPARE(pdfsIn(queue(q)).size(), before[queue(q)].size() + (q == which ? 1 : 0));
    QStringList added = pdfsIn(queue(which));
    for (const QString &old : before[queue(which)])
        added.removeAll(old);
    const QString pdf = added.value(0);
    QCOMPARE(PdfInspect::info(pdf).pages, copies);

    // Where the photo must be, in pixels of a 100 dpi rendering.
    const float dpi = ModPrint::PrinterDpi;
    const PhotoPlacement place
        = placePhoto(ModPrint::TargetWidthPx, ModPrint::TargetHeightPx, ModPrint::PageWidthPx,
                     ModPrint::PageHeightPx, photoSize.width(), photoSize.height());
    const double scale = 100.0 / dpi;
    const QRectF device = QRectF(QPointF(place.deviceRect.left, place.deviceRect.top),
                                 QPointF(place.deviceRect.right + 1, place.deviceRect.bottom + 1));
    const QRectF onPage = device & QRectF(0, 0, ModPrint::PageWidthPx, ModPrint::PageHeightPx);
    const QRect expected(qRound(onPage.left() * scale), qRound(onPage.top() * scale),
                         qRound(onPage.width() * scale), qRound(onPage.height() * scale));
    const QList<QColor> corners = place.turnCode == 0
        ? QList<QColor> { TopLeft, TopRight, BottomLeft, BottomRight }
        : place.turnCode == 1 ? QList<QColor> { BottomLeft, TopLeft, BottomRight, TopRight }
                              : QList<QColor> { TopRight, BottomRight, TopLeft, BottomLeft };
    for (int page : { 1, copies }) {
        const QImage image = PdfInspect::render(pdf, page, 100);
        QVERIFY(!image.isNull());
        const QRect ink = inkBounds(image);
        QVERIFY2(qAbs(ink.left() - expected.left()) <= 2 && qAbs(ink.top() - expected.top()) <= 2
                     && qAbs(ink.right() - expected.right()) <= 2
                     && qAbs(ink.bottom() - expected.bottom()) <= 2,
                 qPrintable(QStringLiteral("page %1: ink %2,%3 %4x%5, expected %6,%7 %8x%9")
                                .arg(page)
                                .arg(ink.x())
                                .arg(ink.y())
                                .arg(ink.width())
                                .arg(ink.height())
                                .arg(expected.x())
                                .arg(expected.y())
                                .arg(expected.width())
                                .arg(expected.height())));
        const double qx = device.width() / 4 * scale;
        const double qy = device.height() / 4 * scale;
        const QList<QPointF> centres { { device.left() * scale + qx, device.top() * scale + qy },
                                       { device.right() * scale - qx, device.top() * scale + qy },
                                       { device.left() * scale + qx, device.bottom() * scale - qy },
                                       { device.right() * scale - qx,
                                         device.bottom() * scale - qy } };
        for (int i = 0; i < 4; ++i)
            QVERIFY2(near(image.pixelColor(centres[i].toPoint()), corners[i]),
                     qPrintable(QStringLiteral("page %1, quarter %2").arg(page).arg(i)));
    }
}

void TestCupsPrinting::rejectingQueueFailsTheDocument()
{
    const QString photo = m_dir.filePath("reject.jpg");
    QVERIFY(writeQuadrantJpeg(photo, 600, 400));
    QVERIFY(m_cups->run("cupsreject", { queue('a') }).isEmpty());
    const int files = pdfsIn(queue('a')).size();
    const int lastJob = m_port->lastJobId();

    QVERIFY(!printDocument(queue('a'), photo, 1));
    QCOMPARE(m_port->lastJobId(), lastJob);
    QCOMPARE(activeJobs(queue('a')), 0);
    QCOMPARE(pdfsIn(queue('a')).size(), files);
    QVERIFY(m_cups->run("cupsaccept", { queue('a') }).isEmpty());
}

void TestCupsPrinting::pausedQueueKeepsTheJob()
{
    // A stopped queue still accepts jobs and prints them once started again: the document
    // was handed over, and printing it a second time would make a duplicate.
    const QString photo = m_dir.filePath("paused.jpg");
    QVERIFY(writeQuadrantJpeg(photo, 600, 400));
    QVERIFY(m_cups->run("cupsdisable", { queue('b') }).isEmpty());
    const int files = pdfsIn(queue('b')).size();

    QVERIFY(printDocument(queue('b'), photo, 1));
    QCOMPARE(activeJobs(queue('b')), 1);
    QCOMPARE(pdfsIn(queue('b')).size(), files);
    QVERIFY(m_cups->run("cupsenable", { queue('b') }).isEmpty());
    QCOMPARE(waitForJob(queue('b'), m_port->lastJobId()), int(IPP_JSTATE_COMPLETED));
    QCOMPARE(pdfsIn(queue('b')).size(), files + 1);
}

void TestCupsPrinting::schedulerDownFailsTheDocument()
{
    const QString photo = m_dir.filePath("down.jpg");
    QVERIFY(writeQuadrantJpeg(photo, 600, 400));
    ModPrint::SelectPrinter(queue('c'));
    QCOMPARE(m_port->currentPrinter(), queue('c'));
    m_cups->stop();

    // Only the built-in printer is left to list; the current queue stays and cannot take
    // the document.
    QCOMPARE(m_port->installedPrinters(), QStringList { SystemPrinterPort::BuiltInPdfPrinter });
    QVERIFY(!printDocument(queue('c'), photo, 1));
    QCOMPARE(m_port->currentPrinter(), queue('c'));
    QVERIFY(QDir(m_dir.filePath("pdf")).entryList(QDir::Files).isEmpty());
}

QTEST_MAIN(TestCupsPrinting)
#include "tst_cupsprinting.moc"
