#include "ModPrint.h"
#include "PageGeometry.h"
#include "PdfInspect.h"
#include "PrivateCups.h"
#include "SystemPrinterPort.h"
#include "TestPhotos.h"

#include <QDir>
#include <QTest>

#include <cups/cups.h>

#include <memory>
#include <unistd.h>

using namespace TestPhotos;

// Printing through a real CUPS scheduler that the test starts itself into cups-pdf queues whose
// PDFs land in folders of this run; the PDFs are read back with poppler.
class TestCupsPrinting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listsQueuesThenBuiltInPrinter();
    void printsOnTheRightQueue_data();
    void printsOnTheRightQueue();
    void rejectingQueueFailsTheDocument();
    void pausedQueueKeepsTheJob();
    void schedulerDownFailsTheDocument();

private:
    QString queue(char which) const { return m_prefix + QLatin1Char(which); }
    QString outFolder(char which) const { return m_root.filePath(QStringLiteral("out-") + which); }
    int pdfCount(char which) const { return QDir(outFolder(which)).entryList({ "*.pdf" }).size(); }
    static QString admin(const QString &program, const QStringList &arguments)
    {
        return PrivateCups::admin(program, arguments);
    }
    int waitForJob(char which, int jobId) { return PrivateCups::waitForJob(queue(which), jobId); }
    int activeJobs(char which) { return PrivateCups::activeJobs(queue(which)); }
    bool printDocument(char which, const QString &photo, int16_t copies);

    QTemporaryDir m_root;
    std::unique_ptr<PrivateCups> m_cups;
    QString m_prefix = QStringLiteral("zelvo_e2e_%1_").arg(::getpid());
    std::unique_ptr<SystemPrinterPort> m_port;
};

void TestCupsPrinting::initTestCase()
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

void TestCupsPrinting::cleanupTestCase()
{
    ModPrint::setPrinterPort(nullptr);
    m_cups.reset();
}

bool TestCupsPrinting::printDocument(char which, const QString &photo, int16_t copies)
{
    // Configured names match their queue whatever their letter case.
    ModPrint::SelectPrinter(queue(which).toUpper());
    if (!ModPrint::OpenPrintDocument(QFileInfo(photo).fileName()))
        return false;
    ModPrint::PrintPhoto(photo, copies);
    return ModPrint::EndPrintDocument();
}

void TestCupsPrinting::listsQueuesThenBuiltInPrinter()
{
    const QString builtIn = SystemPrinterPort::BuiltInPdfPrinter;
    QCOMPARE(m_port->installedPrinters(),
             QStringList({ queue('a'), queue('b'), queue('c'), builtIn }));
    QCOMPARE(m_port->defaultPrinter(), builtIn);
    QCOMPARE(admin("lpadmin", { "-d", queue('b') }), QString());
    QCOMPARE(m_port->currentPrinter(), queue('b'));
    // An unknown name never reaches Qt, which would quietly pick another queue.
    m_port->setCurrentPrinter(queue('z'));
    QCOMPARE(m_port->currentPrinter(), queue('b'));
    // The page is the queue's default paper; cups-pdf has no hardware margins.
    m_port->setCurrentPrinter(queue('a'));
    const double dpi = m_port->resolution();
    QVERIFY(qAbs(m_port->printableSize().width() - 420 * dpi / 72) <= 1);
    QVERIFY(qAbs(m_port->printableSize().height() - 595 * dpi / 72) <= 1);
}

void TestCupsPrinting::printsOnTheRightQueue_data()
{
    QTest::addColumn<char>("which");
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<QSizeF>("inches");
    QTest::addColumn<int>("copies");

    QTest::newRow("10x15, landscape photo, A5 queue")
        << 'a' << QSize(1500, 1000) << QSizeF(6.13, 4.13) << 1;
    QTest::newRow("13x18, portrait photo, A4 queue")
        << 'b' << QSize(1000, 1500) << QSizeF(7, 5) << 2;
    QTest::newRow("15x23, square photo wider than the Letter page")
        << 'c' << QSize(1200, 1200) << QSizeF(9, 6) << 3;
}

void TestCupsPrinting::printsOnTheRightQueue()
{
    QFETCH(char, which);
    QFETCH(QSize, photo);
    QFETCH(QSizeF, inches);
    QFETCH(int, copies);
    const QString file = m_root.filePath(QStringLiteral("photo-%1.jpg").arg(which));
    QVERIFY(writeJpeg(file, photo.width(), photo.height()));
    const QList<int> before { pdfCount('a'), pdfCount('b'), pdfCount('c') };

    ModPrint::TargetWidthIn = float(inches.width());
    ModPrint::TargetHeightIn = float(inches.height());
    QVERIFY(printDocument(which, file, int16_t(copies)));
    QCOMPARE(m_port->currentPrinter(), queue(which));
    QCOMPARE(waitForJob(which, m_port->lastJobId()), int(IPP_JSTATE_COMPLETED));
    for (char q : { 'a', 'b', 'c' })
        QCOMPARE(pdfCount(q), before[q - 'a'] + (q == which ? 1 : 0));
    const QDir out(outFolder(which));
    const QString pdf = out.filePath(out.entryList({ "*.pdf" }, QDir::Files, QDir::Time).value(0));
    QCOMPARE(PdfInspect::pageCount(pdf), copies);

    // Rendered at 100 dpi, each page shows the photo where the geometry puts it.
    const PhotoPlacement place
        = placePhoto(ModPrint::TargetWidthPx, ModPrint::TargetHeightPx, ModPrint::PageWidthPx,
                     ModPrint::PageHeightPx, photo.width(), photo.height());
    const IgRect &d = place.deviceRect;
    for (int page : { 1, copies }) {
        const QImage image = PdfInspect::render(pdf, page, 100);
        QCOMPARE(placementMismatch(image, QRect(QPoint(d.left, d.top), QPoint(d.right, d.bottom)),
                                   quartersAfterTurn(place.turnCode), 100 / ModPrint::PrinterDpi,
                                   2),
                 QString());
    }
}

void TestCupsPrinting::rejectingQueueFailsTheDocument()
{
    const QString photo = m_root.filePath("reject.jpg");
    QVERIFY(writeJpeg(photo, 600, 400));
    QCOMPARE(admin("cupsreject", { queue('a') }), QString());
    const int files = pdfCount('a');
    const int lastJob = m_port->lastJobId();
    QVERIFY(!printDocument('a', photo, 1));
    QCOMPARE(m_port->lastJobId(), lastJob);
    QCOMPARE(activeJobs('a'), 0);
    QCOMPARE(pdfCount('a'), files);
    QCOMPARE(admin("cupsaccept", { queue('a') }), QString());
}

void TestCupsPrinting::pausedQueueKeepsTheJob()
{
    // A stopped queue still takes jobs and prints them once started again: the document was
    // handed over, and printing it a second time would make a duplicate.
    const QString photo = m_root.filePath("paused.jpg");
    QVERIFY(writeJpeg(photo, 600, 400));
    QCOMPARE(admin("cupsdisable", { queue('b') }), QString());
    const int files = pdfCount('b');
    QVERIFY(printDocument('b', photo, 1));
    QCOMPARE(activeJobs('b'), 1);
    QCOMPARE(pdfCount('b'), files);
    QCOMPARE(admin("cupsenable", { queue('b') }), QString());
    QCOMPARE(waitForJob('b', m_port->lastJobId()), int(IPP_JSTATE_COMPLETED));
    QCOMPARE(pdfCount('b'), files + 1);
}

void TestCupsPrinting::schedulerDownFailsTheDocument()
{
    const QString photo = m_root.filePath("down.jpg");
    QVERIFY(writeJpeg(photo, 600, 400));
    ModPrint::SelectPrinter(queue('c'));
    QVERIFY(m_cups->stop());
    // Only the built-in printer is left to list; the current queue stays and cannot take
    // the document, and nothing falls through to the PDF folder.
    QCOMPARE(m_port->installedPrinters(), QStringList { SystemPrinterPort::BuiltInPdfPrinter });
    QVERIFY(!printDocument('c', photo, 1));
    QCOMPARE(m_port->currentPrinter(), queue('c'));
    QVERIFY(!QDir(m_root.filePath("pdf")).exists());
}

QTEST_MAIN(TestCupsPrinting)
#include "tst_cupsprinting.moc"
