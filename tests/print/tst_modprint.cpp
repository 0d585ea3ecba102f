#include "Imaging.h"
#include "ModPrint.h"
#include "PageGeometry.h"
#include "RecordingPrinterPort.h"
#include "TestPhotos.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace TestPhotos;

Q_DECLARE_METATYPE(IgRect)

class TestModPrint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
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
    static RecordingPrinterPort::Printer printer(const QString &name, float w, float h)
    {
        return { name, 300, QSizeF(w, h) };
    }
    void setUpPort();
    // Selects `printerName` for a 10x15 photo and prints `file` with `copies` as the
    // dispatcher does; returns whether the document was accepted.
    bool printDocument(const QString &printerName, const QString &file, int16_t copies);

    QTemporaryDir m_dir;
    std::unique_ptr<RecordingPrinterPort> m_port;
};

void TestModPrint::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(writeQuadrantJpeg(path("landscape.jpg"), 600, 400));
    QVERIFY(writeQuadrantJpeg(path("portrait.jpg"), 400, 600));
    QVERIFY(writeQuadrantJpeg(path("square.jpg"), 600, 600));
    QVERIFY(writeQuadrantJpeg(path(".hidden.jpg"), 600, 400));
    const QByteArray jpeg = jpegBytes(quadrants(600, 400));
    QVERIFY(writeFile(path("empty.jpg"), QByteArray()));
    QVERIFY(writeFile(path("truncated.jpg"), jpeg.left(jpeg.size() / 2)));
    QVERIFY(
        writeFile(path("bomb.jpg"), withDeclaredSize(jpegBytes(quadrants(16, 16)), 65500, 65500)));
    QVERIFY(QDir(m_dir.path()).mkpath("folder.jpg"));
}

void TestModPrint::cleanup()
{
    ModPrint::setPrinterPort(nullptr);
}

void TestModPrint::setUpPort()
{
    m_port = std::make_unique<RecordingPrinterPort>();
    m_port->printers = { printer("Photo10x15", 1800, 1200), printer("Photo13x18 ", 1200, 1800),
                         printer("A4", 2480, 3508), printer("Zelvo PDF", 2480, 3508) };
    m_port->systemDefault = "A4";
    ModPrint::setPrinterPort(m_port.get());
    ModPrint::TargetWidthIn = 6.13f;
    ModPrint::TargetHeightIn = 4.13f;
}

bool TestModPrint::printDocument(const QString &printerName, const QString &file, int16_t copies)
{
    ModPrint::SelectPrinter(printerName);
    if (!ModPrint::OpenPrintDocument("photo"))
        return false;
    ModPrint::PrintPhoto(file, copies);
    return ModPrint::EndPrintDocument();
}

void TestModPrint::selectPrinter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QSizeF>("page");

    QTest::newRow("exact") << "Photo10x15"
                           << "Photo10x15" << QSizeF(1800, 1200);
    QTest::newRow("letter case") << "photo10X15"
                                 << "Photo10x15" << QSizeF(1800, 1200);
    QTest::newRow("blanks around the installed name, set as listed")
        << "photo13x18"
        << "Photo13x18 " << QSizeF(1200, 1800);
    QTest::newRow("blanks around the configured name keep the current printer")
        << " Photo10x15"
        << "A4" << QSizeF(2480, 3508);
    QTest::newRow("unknown keeps the current printer") << "Lab"
                                                       << "A4" << QSizeF(2480, 3508);
    QTest::newRow("built-in PDF printer") << "ZELVO PDF"
                                          << "Zelvo PDF" << QSizeF(2480, 3508);
}

void TestModPrint::selectPrinter()
{
    QFETCH(QString, name);
    QFETCH(QString, current);
    QFETCH(QSizeF, page);
    setUpPort();
    m_port->printers[2].dpi = 600; // the default one, to tell its metrics apart

    ModPrint::SelectPrinter(name);
    QCOMPARE(m_port->currentPrinter(), current);
    for (const QString &call : m_port->calls)
        QVERIFY2(m_port->installedPrinters().contains(
                     call.mid(QStringLiteral("setCurrentPrinter ").size())),
                 qPrintable(call));

    const float dpi = current == "A4" ? 600 : 300;
    const PageMetrics expected = computePageMetrics(dpi, page.width(), page.height(), 6.13f, 4.13f);
    QCOMPARE(ModPrint::PrinterDpi, dpi);
    QCOMPARE(ModPrint::PageWidthPx, float(page.width()));
    QCOMPARE(ModPrint::PageHeightPx, float(page.height()));
    QCOMPARE(ModPrint::TargetWidthPx, expected.targetWidthPx);
    QCOMPARE(ModPrint::TargetHeightPx, expected.targetHeightPx);
}

void TestModPrint::photoFillsTarget_data()
{
    QTest::addColumn<QString>("printerName");
    QTest::addColumn<QString>("photo");
    QTest::addColumn<IgRect>("deviceRect");
    // The colours at the centres of the device rectangle's four quarters: TL, TR, BL, BR.
    QTest::addColumn<QList<QColor>>("quarters");

    const QList<QColor> upright { TopLeft, TopRight, BottomLeft, BottomRight };
    QTest::newRow("landscape photo")
        << "Photo10x15"
        << "landscape.jpg" << IgRect { -10, -6, 1808, 1206 } << upright;
    QTest::newRow("portrait photo, turned clockwise")
        << "Photo10x15"
        << "portrait.jpg" << IgRect { -10, -6, 1808, 1206 }
        << QList<QColor> { BottomLeft, TopLeft, BottomRight, TopRight };
    QTest::newRow("square photo, cut at top and bottom")
        << "Photo10x15"
        << "square.jpg" << IgRect { 0, -300, 1799, 1499 } << upright;
    QTest::newRow("portrait page, turned anticlockwise")
        << "Photo13x18"
        << "landscape.jpg" << IgRect { -6, -10, 1206, 1808 }
        << QList<QColor> { TopRight, BottomRight, TopLeft, BottomLeft };
    QTest::newRow("target smaller than the page, centred")
        << "A4"
        << "landscape.jpg" << IgRect { 620, 825, 1858, 2682 }
        << QList<QColor> { TopRight, BottomRight, TopLeft, BottomLeft };
}

void TestModPrint::photoFillsTarget()
{
    QFETCH(QString, printerName);
    QFETCH(QString, photo);
    QFETCH(IgRect, deviceRect);
    QFETCH(QList<QColor>, quarters);
    setUpPort();

    QVERIFY(printDocument(printerName, path(photo), 1));
    QCOMPARE(m_port->pages.size(), 1);
    const QImage &page = m_port->pages.first();

    // Everything inside the device rectangle is photo, everything outside it is white.
    const QRect device(QPoint(deviceRect.left, deviceRect.top),
                       QPoint(deviceRect.right, deviceRect.bottom));
    const QRect expected = device & page.rect();
    const QRect ink = inkBounds(page);
    QVERIFY2(qAbs(ink.left() - expected.left()) <= 1 && qAbs(ink.top() - expected.top()) <= 1
                 && qAbs(ink.right() - expected.right()) <= 1
                 && qAbs(ink.bottom() - expected.bottom()) <= 1,
             qPrintable(QStringLiteral("ink %1,%2 %3x%4")
                            .arg(ink.x())
                            .arg(ink.y())
                            .arg(ink.width())
                            .arg(ink.height())));
    const int qx = device.width() / 4;
    const int qy = device.height() / 4;
    const QList<QPoint> centres { { device.left() + qx, device.top() + qy },
                                  { device.right() - qx, device.top() + qy },
                                  { device.left() + qx, device.bottom() - qy },
                                  { device.right() - qx, device.bottom() - qy } };
    for (int i = 0; i < 4; ++i)
        QVERIFY2(near(page.pixelColor(centres[i]), quarters[i]), qPrintable(QString::number(i)));
}

void TestModPrint::copiesMakePages_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("pages");

    QTest::newRow("one copy") << 1 << 1;
    QTest::newRow("three copies") << 3 << 3;
    QTest::newRow("no copies: an empty page") << 0 << 1;
    QTest::newRow("negative copies: an empty page") << -2 << 1;
}

void TestModPrint::copiesMakePages()
{
    QFETCH(int, copies);
    QFETCH(int, pages);
    setUpPort();
    const int images = liveImageCount();
    const quint64 decodes = imageDecodeCount();

    QVERIFY(printDocument("Photo10x15", path("landscape.jpg"), int16_t(copies)));
    QCOMPARE(m_port->pages.size(), pages);
    QCOMPARE(m_port->calls.count("newPage"), pages - 1);
    for (const QImage &page : m_port->pages)
        QCOMPARE(inkBounds(page).isValid(), copies > 0);
    // One decode serves all copies, and the image is released afterwards.
    QCOMPARE(imageDecodeCount(), decodes + (copies > 0 ? 1 : 0));
    QCOMPARE(liveImageCount(), images);
}

void TestModPrint::unprintablePhotosDrawNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("drawn");

    QTest::newRow("trailing blanks reach the file") << path("landscape.jpg") + "   " << true;
    QTest::newRow("empty path") << QString() << false;
    QTest::newRow("blanks only") << "    " << false;
    QTest::newRow("missing") << path("missing.jpg") << false;
    QTest::newRow("hidden") << path(".hidden.jpg") << false;
    QTest::newRow("folder") << path("folder.jpg") << false;
    QTest::newRow("zero bytes") << path("empty.jpg") << false;
    QTest::newRow("truncated") << path("truncated.jpg") << false;
    QTest::newRow("decompression bomb") << path("bomb.jpg") << false;
}

void TestModPrint::unprintablePhotosDrawNothing()
{
    QFETCH(QString, file);
    QFETCH(bool, drawn);
    setUpPort();
    const int images = liveImageCount();

    // The document is still opened and ended, with its one page.
    QVERIFY(printDocument("Photo10x15", file, 2));
    QCOMPARE(m_port->pages.size(), drawn ? 2 : 1);
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
    setUpPort();
    if (failure == "port")
        ModPrint::setPrinterPort(nullptr);
    else if (failure == "printers")
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
