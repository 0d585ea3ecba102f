#include "ModPrint.h"
#include "PageGeometry.h"
#include "PdfInspect.h"
#include "SystemPrinterPort.h"
#include "TestPhotos.h"
#include "TestProfiles.h"

#include <QDir>
#include <QTest>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>
#include <lcms2.h>

using namespace TestPhotos;
using namespace TestProfiles;

namespace {

const QString ColordProfiles = QStringLiteral("/usr/share/color/icc/colord/");

// A flat 300 x 200 CMYK JPEG of `inks` (0 = none, 255 = full), stored inverted with Adobe's
// segment as Photoshop writes it, or plain without it.
QByteArray cmykJpeg(const uchar inks[4], bool adobe)
{
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = 300;
    info.image_height = 200;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    info.write_Adobe_marker = adobe;
    jpeg_start_compress(&info, TRUE);
    std::vector<uchar> row(300 * 4);
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = adobe ? uchar(255 - inks[i % 4]) : inks[i % 4];
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char *>(buffer), qsizetype(size));
    std::free(buffer);
    return bytes;
}

// CIE L*a*b* (D65) of an sRGB colour.
std::array<double, 3> labOf(const QColor &c)
{
    const auto linear
        = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    const double r = linear(c.redF()), g = linear(c.greenF()), b = linear(c.blueF());
    const double xyz[3]
        = { (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047, 0.2126 * r + 0.7152 * g + 0.0722 * b,
            (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883 };
    double f[3];
    for (int i = 0; i < 3; ++i)
        f[i] = xyz[i] > 216.0 / 24389 ? std::cbrt(xyz[i]) : (24389.0 / 27 * xyz[i] + 16) / 116;
    return { 116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2]) };
}

double deltaE(const QColor &a, const QColor &b)
{
    const auto la = labOf(a), lb = labOf(b);
    return std::hypot(la[0] - lb[0], la[1] - lb[1], la[2] - lb[2]);
}

// `stored` as the profile `icc` means it, in sRGB, by LittleCMS's colorimetric conversion.
QColor inSrgb(const QByteArray &icc, const QColor &stored)
{
    cmsHPROFILE source = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(source, TYPE_RGB_16, srgb, TYPE_RGB_16,
                                                 INTENT_RELATIVE_COLORIMETRIC, 0);
    const quint16 in[3] = { quint16(stored.red() * 257), quint16(stored.green() * 257),
                            quint16(stored.blue() * 257) };
    quint16 out[3] = {};
    cmsDoTransform(transform, in, out, 1);
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(source);
    return QColor::fromRgba64(out[0], out[1], out[2]);
}

} // namespace

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

    // The printed page shows each photo's colours as its own profile means them, within a
    // small difference from a reference conversion; a photo without a profile stays as stored.
    void photoColoursFollowTheirProfile_data()
    {
        QTest::addColumn<QByteArray>("jpeg");
        QTest::addColumn<QColor>("expected");
        const QColor stored(200, 70, 40);
        QImage flat(300, 200, QImage::Format_RGB32);
        flat.fill(stored);
        const QByteArray plain = encodeJpeg(flat, 100);
        const QByteArray adobeRgb = readFile(ColordProfiles + "AdobeRGB1998.icc");
        const QByteArray swapped = readFile(ColordProfiles + "SwappedRedAndGreen.icc");
        QVERIFY2(!adobeRgb.isEmpty() && !swapped.isEmpty(), "colord-data is not installed");
        const QByteArray p3 = displayP3Profile();

        QTest::newRow("no profile") << plain << stored;
        QTest::newRow("sRGB") << withProfile(plain, readFile(ColordProfiles + "sRGB.icc"))
                              << stored;
        QTest::newRow("Adobe RGB") << withProfile(plain, adobeRgb) << inSrgb(adobeRgb, stored);
        QTest::newRow("Display P3") << withProfile(plain, p3) << inSrgb(p3, stored);
        QImage red(300, 200, QImage::Format_RGB32);
        red.fill(QColor(220, 30, 30));
        const QColor swappedRed = inSrgb(swapped, QColor(220, 30, 30));
        QVERIFY(swappedRed.green() > 150 && swappedRed.red() < 100); // prints green
        QTest::newRow("red under swapped primaries")
            << withProfile(encodeJpeg(red, 100), swapped) << swappedRed;
        QTest::newRow("grey") << encodeJpeg(flat.convertToFormat(QImage::Format_Grayscale8), 100)
                              << QColor(qGray(stored.rgb()), qGray(stored.rgb()),
                                        qGray(stored.rgb()));
        // 10% cyan, 70% magenta, 80% yellow, 20% black: white paper less each ink.
        const uchar inks[4] = { 26, 179, 204, 51 };
        const QColor printed(229 * 204 / 255, 76 * 204 / 255, 51 * 204 / 255);
        QTest::newRow("CMYK") << cmykJpeg(inks, false) << printed;
        QTest::newRow("CMYK inverted, Adobe") << cmykJpeg(inks, true) << printed;
    }
    void photoColoursFollowTheirProfile()
    {
        QFETCH(QByteArray, jpeg);
        QFETCH(QColor, expected);
        const QString photo = m_dir.filePath("colour.jpg");
        QVERIFY(writeFile(photo, jpeg));
        SystemPrinterPort port(m_dir.filePath("pdf-colour"));
        ModPrint::setPrinterPort(&port);
        ModPrint::SelectPrinter("Zelvo PDF");
        QCOMPARE(ModPrint::PreparePhoto(photo), PhotoFault::None);
        QVERIFY(ModPrint::OpenPrintDocument("colour"));
        ModPrint::PrintPhoto(photo, 1);
        QCOMPARE(ModPrint::EndPrintDocument().fate, Handover::Accepted);
        ModPrint::setPrinterPort(nullptr);
        const QImage page = PdfInspect::render(port.lastPdfFile(), 1, 50);
        const QColor printed = page.pixelColor(page.rect().center());
        QVERIFY2(deltaE(printed, expected) < 2.5,
                 qPrintable(QStringLiteral("printed %1, expected %2, \u0394E %3")
                                .arg(printed.name(), expected.name())
                                .arg(deltaE(printed, expected))));
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
