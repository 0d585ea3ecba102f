#include "ModPrint.h"
#include "PageGeometry.h"
#include "PdfInspect.h"
#include "SystemPrinterPort.h"
#include "TestPhotos.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace TestPhotos;

// The built-in PDF printer through the real port: no CUPS needed.
class TestPdfPrinter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void isTheDefaultWithoutSystemPrinters();
    void writesPhotoFillingTheTarget();
    void neverOverwritesEarlierDocuments();
    void unwritableFolderFailsTheDocument();

private:
    bool printPhoto(SystemPrinterPort &port, const QString &title, int16_t copies);

    QTemporaryDir m_dir;
};

void TestPdfPrinter::initTestCase()
{
    // No scheduler answers here, so the system has no printers of its own.
    qputenv("CUPS_SERVER", QFile::encodeName(m_dir.filePath("no-cups.sock")));
    QVERIFY(m_dir.isValid());
    QVERIFY(writeQuadrantJpeg(m_dir.filePath("photo.jpg"), 1500, 1000));
    ModPrint::TargetWidthIn = 6.13f;
    ModPrint::TargetHeightIn = 4.13f;
}

void TestPdfPrinter::cleanup()
{
    ModPrint::setPrinterPort(nullptr);
}

bool TestPdfPrinter::printPhoto(SystemPrinterPort &port, const QString &title, int16_t copies)
{
    ModPrint::setPrinterPort(&port);
    ModPrint::SelectPrinter("zelvo pdf");
    if (!ModPrint::OpenPrintDocument(title))
        return false;
    ModPrint::PrintPhoto(m_dir.filePath("photo.jpg"), copies);
    return ModPrint::EndPrintDocument();
}

void TestPdfPrinter::isTheDefaultWithoutSystemPrinters()
{
    SystemPrinterPort port(m_dir.filePath("pdf"));
    QCOMPARE(port.installedPrinters(), QStringList { SystemPrinterPort::BuiltInPdfPrinter });
    QCOMPARE(port.defaultPrinter(), SystemPrinterPort::BuiltInPdfPrinter);
    QCOMPARE(port.currentPrinter(), SystemPrinterPort::BuiltInPdfPrinter);
    // Unknown names are never taken.
    port.setCurrentPrinter("Photo10x15");
    QCOMPARE(port.currentPrinter(), SystemPrinterPort::BuiltInPdfPrinter);
    // A4 (595 x 842 pt) at 300 dpi without margins, and the document's pages are that size.
    QCOMPARE(port.resolution(), 300.f);
    QCOMPARE(port.printableSize(), QSizeF(2479, 3508));
    QVERIFY(port.beginDocument("measure"));
    QCOMPARE(port.painter()->device()->width(), 2479);
    QCOMPARE(port.painter()->device()->height(), 3508);
    QVERIFY(port.endDocument());
}

void TestPdfPrinter::writesPhotoFillingTheTarget()
{
    const QString folder = m_dir.filePath("pdf-geometry"); // created on demand
    SystemPrinterPort port(folder);
    QVERIFY(printPhoto(port, "AB12345_0001.jpg", 2));
    // The page drawn on is the one measured.
    QCOMPARE(ModPrint::PageWidthPx, 2479.f);
    QCOMPARE(ModPrint::PageHeightPx, 3508.f);

    const QString pdf = port.lastPdfFile();
    QVERIFY(QFileInfo(pdf).isFile());
    QCOMPARE(QFileInfo(pdf).dir().absolutePath(), QDir(folder).absolutePath());
    QVERIFY(QFileInfo(pdf).fileName().endsWith("_AB12345_0001.jpg.pdf"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1); // no spool left

    const PdfInspect::Info info = PdfInspect::info(pdf);
    QCOMPARE(info.pages, 2);
    QVERIFY(qAbs(info.pageSizePt.width() - 595.28) < 0.5
            && qAbs(info.pageSizePt.height() - 841.89) < 0.5);

    const PhotoPlacement place
        = placePhoto(ModPrint::TargetWidthPx, ModPrint::TargetHeightPx, 2479, 3508, 1500, 1000);
    const QRect device(QPoint(place.deviceRect.left, place.deviceRect.top),
                       QPoint(place.deviceRect.right, place.deviceRect.bottom));
    for (int page = 1; page <= 2; ++page) {
        const QImage image = PdfInspect::render(pdf, page, 300);
        QVERIFY(!image.isNull());
        const QRect ink = inkBounds(image);
        QVERIFY2(qAbs(ink.left() - device.left()) <= 2 && qAbs(ink.top() - device.top()) <= 2
                     && qAbs(ink.right() - device.right()) <= 2
                     && qAbs(ink.bottom() - device.bottom()) <= 2,
                 qPrintable(QStringLiteral("ink %1,%2 %3x%4 expected %5,%6 %7x%8")
                                .arg(ink.x())
                                .arg(ink.y())
                                .arg(ink.width())
                                .arg(ink.height())
                                .arg(device.x())
                                .arg(device.y())
                                .arg(device.width())
                                .arg(device.height())));
        // Turned anticlockwise onto the portrait page: the photo's top right is now top left.
        const QPoint q(device.width() / 4, device.height() / 4);
        QVERIFY(near(image.pixelColor(device.topLeft() + q), TopRight));
        QVERIFY(near(image.pixelColor(device.bottomRight() - q), BottomLeft));
    }
}

void TestPdfPrinter::neverOverwritesEarlierDocuments()
{
    const QString folder = m_dir.filePath("pdf-many");
    SystemPrinterPort port(folder);
    QMap<QString, QByteArray> written;
    const auto hash = [](const QString &file) {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    };
    // Same title, same second: every document still gets a file of its own.
    for (int copies = 1; copies <= 3; ++copies) {
        QVERIFY(printPhoto(port, "same title", int16_t(copies)));
        QVERIFY(!written.contains(port.lastPdfFile()));
        written.insert(port.lastPdfFile(), hash(port.lastPdfFile()));
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        QCOMPARE(hash(it.key()), it.value());
    QList<int> pages;
    for (const QString &file : written.keys())
        pages << PdfInspect::info(file).pages;
    std::sort(pages.begin(), pages.end());
    QCOMPARE(pages, (QList<int> { 1, 2, 3 }));
}

void TestPdfPrinter::unwritableFolderFailsTheDocument()
{
    // A file where the folder should be: the document cannot start.
    const QString blocked = m_dir.filePath("blocked");
    QVERIFY(writeFile(blocked, "not a folder"));
    SystemPrinterPort port(blocked + "/pdf");
    ModPrint::setPrinterPort(&port);
    ModPrint::SelectPrinter("Zelvo PDF");
    QVERIFY(!ModPrint::OpenPrintDocument("photo"));
    QVERIFY(!ModPrint::EndPrintDocument());
    QVERIFY(port.lastPdfFile().isEmpty());
}

QTEST_MAIN(TestPdfPrinter)
#include "tst_pdfprinter.moc"
