#include "ModPrint.h"
#include "PageGeometry.h"
#include "PdfInspect.h"
#include "SystemPrinterPort.h"
#include "TestPhotos.h"

#include <QDir>
#include <QTest>

using namespace TestPhotos;

// The built-in PDF printer through the real port; no CUPS involved.
class TestPdfPrinter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        // No scheduler answers there, so the system has no printers of its own.
        qputenv("CUPS_SERVER", QFile::encodeName(m_dir.filePath("no-cups.sock")));
        QVERIFY(writeJpeg(m_dir.filePath("photo.jpg"), 1500, 1000));
        ModPrint::TargetWidthIn = 6.13f;
        ModPrint::TargetHeightIn = 4.13f;
    }

    void isTheDefaultWithoutSystemPrinters()
    {
        SystemPrinterPort port(m_dir.filePath("pdf"));
        QCOMPARE(port.installedPrinters(), QStringList { SystemPrinterPort::BuiltInPdfPrinter });
        QCOMPARE(port.currentPrinter(), SystemPrinterPort::BuiltInPdfPrinter);
        port.setCurrentPrinter("Photo10x15"); // not installed: never taken
        QCOMPARE(port.currentPrinter(), SystemPrinterPort::BuiltInPdfPrinter);
        // Only its default because no scheduler answers: a photo waits rather than go into a PDF
        // meant for a queue. Chosen by name, it prints (below).
        QVERIFY(!port.beginDocument("waits"));
    }

    void writesEachDocumentAsANewFile()
    {
        const QString folder = m_dir.filePath("pdf-new"); // made on demand
        SystemPrinterPort port(folder);
        ModPrint::setPrinterPort(&port);
        QStringList files;
        // Same title within the same second: each document still gets a file of its own, and the
        // earlier ones keep their pages.
        for (int copies = 1; copies <= 3; ++copies) {
            ModPrint::SelectPrinter("zelvo pdf");
            QVERIFY(ModPrint::OpenPrintDocument("AB12345_0001.jpg"));
            ModPrint::PrintPhoto(m_dir.filePath("photo.jpg"), int16_t(copies));
            QCOMPARE(ModPrint::EndPrintDocument().fate, Handover::Accepted);
            QVERIFY(!files.contains(port.lastPdfFile()));
            QVERIFY(port.lastPdfFile().endsWith("_AB12345_0001.jpg.pdf")
                    || port.lastPdfFile().contains("_AB12345_0001.jpg-"));
            files << port.lastPdfFile();
        }
        ModPrint::setPrinterPort(nullptr);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3); // no spool left
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(PdfInspect::pageCount(files[i]), i + 1);
            QVERIFY(QFile::permissions(files[i]) & QFile::ReadOther); // for anyone to open
        }

        const PhotoPlacement place
            = placePhoto(ModPrint::TargetWidthPx, ModPrint::TargetHeightPx, 2479, 3508, 1500, 1000);
        const IgRect &d = place.deviceRect;
        const QImage page = PdfInspect::render(files[2], 3, 300);
        QCOMPARE(placementMismatch(page, QRect(QPoint(d.left, d.top), QPoint(d.right, d.bottom)),
                                   quartersAfterTurn(place.turnCode), 1.0, 2),
                 QString());
    }

    void unwritableFolderFailsTheDocument()
    {
        const QString blocked = m_dir.filePath("blocked"); // a file where the folder should be
        QVERIFY(writeFile(blocked, "not a folder"));
        SystemPrinterPort port(blocked + "/pdf");
        QVERIFY(!port.beginDocument("photo"));
        QCOMPARE(port.endDocument().fate, Handover::Refused);
        QVERIFY(port.lastPdfFile().isEmpty());
    }
};

QTEST_MAIN(TestPdfPrinter)
#include "tst_pdfprinter.moc"
