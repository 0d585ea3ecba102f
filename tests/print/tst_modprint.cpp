#include "Imaging.h"
#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "TestPhotos.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace TestPhotos;

class TestModPrint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { ModPrint::setPrinterPort(nullptr); }
    void selectPrinter_data();
    void selectPrinter();
    void photoFillsTarget_data();
    void photoFillsTarget();
    void copiesMakePages_data();
    void copiesMakePages();
    void unprintablePhotosDrawNothing_data();
    void unprintablePhotosDrawNothing();
    void platformFailuresReachTheCaller_data();
    void platformFailuresReachTheCaller();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // What the dispatcher does for one 10x15 photo; whether the document was accepted.
    bool printDocument(const QString &printer, const QString &file, int16_t copies)
    {
        ModPrint::SelectPrinter(printer);
        if (!ModPrint::OpenPrintDocument("photo"))
            return false;
        ModPrint::PrintPhoto(file, copies);
        return ModPrint::EndPrintDocument();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<RecordingPrinterPort> m_port;
};

void TestModPrint::initTestCase()
{
    QVERIFY(writeJpeg(path("landscape.jpg"), 600, 400));
    QVERIFY(writeJpeg(path("portrait.jpg"), 400, 600));
    QVERIFY(writeJpeg(path("square.jpg"), 600, 600));
    QVERIFY(writeJpeg(path(".hidden.jpg"), 600, 400));
    QVERIFY(writeFile(path("truncated.jpg"), jpegBytes(600, 400).left(1000)));
    QVERIFY(QDir(m_dir.path()).mkpath("folder.jpg"));
}

void TestModPrint::init()
{
    m_port = std::make_unique<RecordingPrinterPort>();
    m_port->printers = { { "Photo10x15", 300, QSizeF(1800, 1200) },
                         { "  Photo13x18 ", 300, QSizeF(1200, 1800) },
                         { "A4", 300, QSizeF(2480, 3508) } };
    m_port->systemDefault = "A4";
    ModPrint::setPrinterPort(m_port.get());
    ModPrint::TargetWidthIn = 6.13f;
    ModPrint::TargetHeightIn = 4.13f;
}

void TestModPrint::selectPrinter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QList<float>>("metrics"); // dpi, page, target

    QTest::newRow("installed name with blanks, taken as listed")
        << "photo13x18"
        << "  Photo13x18 " << QList<float> { 300, 1200, 1800, 1212.72f, 1800 };
    QTest::newRow("unknown: the default stays, measured")
        << "Photo15x23"
        << "A4" << QList<float> { 300, 2480, 3508, 1239, 1839 };
}

void TestModPrint::selectPrinter()
{
    QFETCH(QString, name);
    QFETCH(QString, current);
    QFETCH(QList<float>, metrics);
    ModPrint::SelectPrinter(name);
    QCOMPARE(m_port->currentPrinter(), current);
    for (const QString &made : m_port->madeCurrent)
        QVERIFY(m_port->installedPrinters().contains(made));
    const QList<float> actual { ModPrint::PrinterDpi, ModPrint::PageWidthPx, ModPrint::PageHeightPx,
                                ModPrint::TargetWidthPx, ModPrint::TargetHeightPx };
    for (int i = 0; i < 5; ++i)
        QVERIFY2(qAbs(actual[i] - metrics[i]) < 0.005, qPrintable(QString::number(actual[i])));
}

void TestModPrint::photoFillsTarget_data()
{
    QTest::addColumn<QString>("printer");
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QRect>("device");
    QTest::addColumn<int>("turn");

    QTest::newRow("landscape") << "Photo10x15"
                               << "landscape.jpg" << QRect(QPoint(-10, -6), QPoint(1808, 1206))
                               << 0;
    QTest::newRow("portrait, code 1")
        << "Photo10x15"
        << "portrait.jpg" << QRect(QPoint(-10, -6), QPoint(1808, 1206)) << 1;
    QTest::newRow("square, cut top and bottom")
        << "Photo10x15"
        << "square.jpg" << QRect(QPoint(0, -300), QPoint(1799, 1499)) << 0;
    QTest::newRow("portrait page, code 3")
        << "Photo13x18"
        << "landscape.jpg" << QRect(QPoint(-6, -10), QPoint(1206, 1808)) << 3;
    // On A4 the 1239 x 1839 target fits, grows to 1239 x 1858.5 and is centred.
    QTest::newRow("smaller than the page, centred")
        << "A4"
        << "landscape.jpg" << QRect(QPoint(620, 825), QPoint(1858, 2682)) << 3;
}

void TestModPrint::photoFillsTarget()
{
    QFETCH(QString, printer);
    QFETCH(QString, photo);
    QFETCH(QRect, device);
    QFETCH(int, turn);
    QVERIFY(printDocument(printer, path(photo), 1));
    QCOMPARE(m_port->pages.size(), 1);
    QCOMPARE(placementMismatch(m_port->pages.first(), device, quartersAfterTurn(turn)), QString());
}

void TestModPrint::copiesMakePages_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("pages");

    QTest::newRow("three copies") << 3 << 3;
    QTest::newRow("no copies: an empty page") << 0 << 1;
    QTest::newRow("negative copies: an empty page") << -2 << 1;
}

void TestModPrint::copiesMakePages()
{
    QFETCH(int, copies);
    QFETCH(int, pages);
    const int images = liveImageCount();
    const quint64 decodes = imageDecodeCount();
    QVERIFY(printDocument("Photo10x15", path("landscape.jpg"), int16_t(copies)));
    QCOMPARE(m_port->pages.size(), pages);
    QCOMPARE(m_port->newPages, pages - 1);
    for (const QImage &page : m_port->pages)
        QCOMPARE(inkBounds(page).isValid(), copies > 0);
    // One decode serves every copy, and the image is released afterwards.
    QCOMPARE(imageDecodeCount(), decodes + (copies > 0 ? 1 : 0));
    QCOMPARE(liveImageCount(), images);
}

void TestModPrint::unprintablePhotosDrawNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("drawn");

    QTest::newRow("trailing blanks reach the file") << path("landscape.jpg") + "   " << true;
    QTest::newRow("blanks only") << "    " << false;
    QTest::newRow("missing") << path("missing.jpg") << false;
    QTest::newRow("hidden") << path(".hidden.jpg") << false;
    QTest::newRow("folder") << path("folder.jpg") << false;
    QTest::newRow("truncated") << path("truncated.jpg") << false;
}

void TestModPrint::unprintablePhotosDrawNothing()
{
    QFETCH(QString, file);
    QFETCH(bool, drawn);
    const int images = liveImageCount();
    // The document is opened and ended all the same, with its one page.
    QVERIFY(printDocument("Photo10x15", file, 1));
    QCOMPARE(m_port->pages.size(), 1);
    QCOMPARE(inkBounds(m_port->pages.first()).isValid(), drawn);
    QCOMPARE(liveImageCount(), images);
}

void TestModPrint::platformFailuresReachTheCaller_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<int>("pages");

    QTest::newRow("no port") << "port" << false << 0;
    QTest::newRow("no printer at all") << "printers" << false << 0;
    QTest::newRow("document cannot start") << "begin" << false << 0;
    QTest::newRow("second page cannot start") << "newPage" << true << 1;
    QTest::newRow("print system refuses the document") << "end" << true << 3;
    QTest::newRow("nothing fails") << "" << true << 3;
}

void TestModPrint::platformFailuresReachTheCaller()
{
    QFETCH(QString, failure);
    QFETCH(bool, opened);
    QFETCH(int, pages);
    if (failure == "port")
        ModPrint::setPrinterPort(nullptr);
    if (failure == "printers")
        m_port->printers.clear();
    m_port->failBegin = failure == "begin";
    m_port->failNewPage = failure == "newPage";
    m_port->failEnd = failure == "end";
    const int images = liveImageCount();

    ModPrint::SelectPrinter("Photo10x15");
    QCOMPARE(ModPrint::OpenPrintDocument("photo"), opened);
    ModPrint::PrintPhoto(path("landscape.jpg"), 3);
    QCOMPARE(ModPrint::EndPrintDocument(), failure.isEmpty());
    QCOMPARE(m_port->pages.size(), pages);
    QCOMPARE(liveImageCount(), images);
}

QTEST_MAIN(TestModPrint)
#include "tst_modprint.moc"
