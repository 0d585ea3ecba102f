// Bad photos through the real imaging layer and the dispatcher, printing on a recording port:
// an unreadable photo draws nothing, counts as printed and the job goes on; a photo that
// declares far more pixels than its bytes can hold is refused at load, at once and without
// memory; real camera-size photos print.
#include "Dispatcher.h"
#include "Imaging.h"
#include "JobIntake.h"
#include "JpegStructure.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "TestPhotos.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace TestPhotos;

namespace {

// Resident memory of this process in kB: now ("VmRSS") or at its peak ("VmHWM").
qint64 residentKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Makes VmHWM start again from the current resident size.
bool resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// The same JPEG with its frame header, whatever its kind, declaring width x height.
QByteArray declaring(QByteArray jpeg, int width, int height)
{
    for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
        const uchar m = uchar(jpeg[i + 1]);
        if (uchar(jpeg[i]) == 0xFF && (m == 0xC0 || m == 0xC1 || m == 0xC2)) {
            const char size[4] = { char(height >> 8), char(height), char(width >> 8), char(width) };
            return jpeg.replace(i + 5, 4, size, 4);
        }
    }
    return {};
}

// The JPEG without its first segment of `marker` (a table, say).
QByteArray withoutSegment(QByteArray jpeg, uchar marker)
{
    const qsizetype at = jpeg.indexOf(QByteArray("\xFF", 1) + char(marker));
    if (at < 0)
        return {};
    return jpeg.remove(at, 2 + ((uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3])));
}

// The four-quarter photo with grain over it, so that it compresses like a real one, as a
// camera writes it (baseline, 4:2:0, quality 92).
QByteArray cameraJpeg(int width, int height)
{
    QImage grain(256, 256, QImage::Format_ARGB32);
    QRandomGenerator random(width);
    for (int y = 0; y < grain.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(grain.scanLine(y));
        for (int x = 0; x < grain.width(); ++x)
            line[x] = qRgba(0, 0, 0, int(random.bounded(48)));
    }
    QImage image(width, height, QImage::Format_RGB32);
    {
        QPainter p(&image);
        const int cx = width / 2, cy = height / 2;
        p.fillRect(0, 0, cx, cy, Red);
        p.fillRect(cx, 0, width - cx, cy, Green);
        p.fillRect(0, cy, cx, height - cy, Blue);
        p.fillRect(cx, cy, width - cx, height - cy, Yellow);
        p.fillRect(image.rect(), QBrush(grain));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(92);
    return writer.write(image) ? bytes : QByteArray();
}

// Notes each document, whether anything was drawn on its pages, and how many were ended.
class DrawingPort : public RecordingPrinterPort
{
public:
    QList<bool> documentsDrawn;
    bool endDocument() override
    {
        bool drawn = false;
        for (const QImage &page : pages)
            drawn = drawn || !inkBounds(page).isNull();
        documentsDrawn << drawn;
        return RecordingPrinterPort::endDocument();
    }
};

} // namespace

class TestBadPhotos : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> system;
    std::unique_ptr<DrawingPort> port;
    std::unique_ptr<JobStore> store;

    QString path(const QString &relative) const { return system->filePath(relative); }

    // Job AB00001 with one line per photo, one copy each on 10x15, and the photos' bytes.
    void addJob(const QList<QByteArray> &photos)
    {
        QByteArray text;
        for (int i = 0; i < photos.size(); ++i) {
            text += QStringLiteral("0%1000100001000\r\n")
                        .arg(i + 1, 4, 10, QLatin1Char('0'))
                        .toLatin1();
            QVERIFY(writeFile(
                path(QStringLiteral("images/AB00001_%1.jpg").arg(i + 1, 4, 10, QLatin1Char('0'))),
                photos[i]));
        }
        QVERIFY(writeFile(path(QStringLiteral("jobs/1AB00001.job")), text));
    }

    void tick()
    {
        ScanNewJobs(*store, system->path(), false);
        PrintNextPhoto(*store, system->path());
    }

private slots:
    void init()
    {
        system = std::make_unique<QTemporaryDir>();
        QVERIFY(CreateFolderLayout(system->path()));
        port = std::make_unique<DrawingPort>();
        port->printers = { { QStringLiteral("Landscape"), 300, QSizeF(1800, 1200) } };
        port->systemDefault = QStringLiteral("Landscape");
        ModPrint::setPrinterPort(port.get());
        ModConf::SystemFolder = system->path();
        ModConf::Printer10x15 = QStringLiteral("Landscape");
        ModConf::Width10x15 = 613;
        ModConf::Height10x15 = 413;
        store = std::make_unique<JobStore>();
    }
    void cleanup() { ModPrint::setPrinterPort(nullptr); }

    void unreadablePhotoIsSkippedAndTheJobGoesOn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray baseline = jpegBytes(640, 480);
        const QByteArray progressive = jpegBytes(640, 480, 90, true);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImage(64, 48, QImage::Format_RGB32).save(&buffer, "PNG");

        QTest::newRow("zero bytes") << QByteArray("");
        QTest::newRow("a PNG named .jpg") << png;
        for (int percent : { 10, 25, 50, 75, 90, 95 })
            QTest::addRow("baseline cut at %d%%", percent)
                << baseline.left(baseline.size() * percent / 100);
        for (int percent : { 30, 95 })
            QTest::addRow("progressive cut at %d%%", percent)
                << progressive.left(progressive.size() * percent / 100);
        // Structurally whole, refused only by the decoder when it draws.
        QTest::newRow("quantisation table missing") << withoutSegment(baseline, 0xDB);
        // Refused by the structure check.
        QTest::newRow("frame header of 2 components")
            << QByteArray(baseline).replace(baseline.indexOf("\xFF\xC0") + 9, 1, "\x02", 1);
        // Too few bytes for the blocks the header declares.
        QTest::newRow("first scan cut, EOI appended")
            << progressive.left(scanDataOffset(progressive) + 100) + "\xFF\xD9";
        // Whole in structure, damaged in their data: refused by the decoder's warnings.
        QTest::newRow("baseline cut at 60%, EOI appended")
            << baseline.left(baseline.size() * 6 / 10) + "\xFF\xD9";
        QTest::newRow("progressive cut at 80%, EOI appended")
            << progressive.left(progressive.size() * 8 / 10) + "\xFF\xD9";
        QByteArray scrambled = baseline;
        const qsizetype scan = scanDataOffset(baseline);
        for (qsizetype i = scan + 200; i < scan + 1200; ++i)
            scrambled[i] = char(0x5A ^ ((i * 37) & 0x7F));
        QTest::newRow("scan data scrambled") << scrambled;
    }
    void unreadablePhotoIsSkippedAndTheJobGoesOn()
    {
        QFETCH(QByteArray, bytes);
        addJob({ bytes, jpegBytes(300, 200) });
        tick();
        QCOMPARE(port->documentsDrawn, QList<bool> { false }); // opened, nothing drawn, ended
        QCOMPARE(store->jobCount, int16_t(1));
        QCOMPARE(store->printJobs[0].printedCount, int16_t(1)); // counts as printed
        tick();
        QCOMPARE(port->documentsDrawn, QList<bool>({ false, true }));
        QCOMPARE(store->jobCount, int16_t(0));
        QVERIFY(QFile::exists(path(QStringLiteral("backup/jobs/3AB00001.job"))));
        QCOMPARE(liveImageCount(), 0);
    }

    void bombIsRefusedAtOnceWithoutMemory_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        // Each under the layer's pixel cap, so only what the file holds can give it away:
        // decoded, the progressive ones would need over 500 MB of coefficients.
        QTest::newRow("baseline 14000 x 14000") << declaring(jpegBytes(16, 16, 50), 14000, 14000);
        QTest::newRow("progressive 14000 x 14000")
            << declaring(jpegBytes(16, 16, 50, true), 14000, 14000);
        QTest::newRow("grey progressive 19999 x 10000")
            << declaring(jpegBytes(16, 16, 50, true, true), 19999, 10000);
        QTest::newRow("45 MP header on a thumbnail's data")
            << declaring(jpegBytes(160, 120, 90), 8256, 5504);
        // Bytes enough for its blocks, but a progressive photo is decoded through all its
        // coefficients: 1.2 GB for this one.
        QByteArray big = declaring(jpegBytes(16, 16, 50, true), 14142, 14142);
        const qsizetype sof = big.indexOf("\xFF\xC2");
        for (int c = 0; c < 3; ++c)
            big[sof + 11 + 3 * c] = 0x11; // every component at full resolution
        QTest::newRow("progressive 4:4:4 200 MP, 1.2 MB") << withScanPadding(big, 1'200'000);
    }
    void bombIsRefusedAtOnceWithoutMemory()
    {
        QFETCH(QByteArray, bytes);
        addJob({ bytes });
        const QString file = path(QStringLiteral("images/AB00001_0001.jpg"));
        if (!resetPeakResident())
            QSKIP("/proc/self/clear_refs cannot be written: peak memory cannot be measured");
        const qint64 before = residentKb("VmRSS:");

        QElapsedTimer timer;
        timer.start();
        IgHandle handle = 0;
        QVERIFY(IG_load_file(file, &handle) != IgSuccess);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        // Through the dispatcher: nothing drawn, the photo counts as printed.
        tick();
        QCOMPARE(port->documentsDrawn, QList<bool> { false });
        QCOMPARE(store->jobCount, int16_t(0));
        const qint64 growthKb = residentKb("VmHWM:") - before;
        QVERIFY2(growthKb < 64 * 1024, qPrintable(QStringLiteral("%1 kB").arg(growthKb)));
    }

    void cameraSizePhotoPrints_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("45 MP") << QSize(8256, 5504);
        QTest::newRow("60 MP, portrait") << QSize(6336, 9504);
    }
    void cameraSizePhotoPrints()
    {
        QFETCH(QSize, size);
        const QByteArray bytes = cameraJpeg(size.width(), size.height());
        QVERIFY(bytes.size() > 4'000'000); // as big as a camera's file
        // A small photo first, so that what printing costs once per run is not measured.
        addJob({ jpegBytes(300, 200), bytes });
        tick();
        const quint64 decodes = imageDecodeCount();
        QVERIFY(resetPeakResident());
        const qint64 before = residentKb("VmRSS:");
        tick();
        // Decoded once, at a reduced scale: well below the 180-240 MB of the full photo.
        QCOMPARE(imageDecodeCount(), decodes + 1);
        const qint64 growthKb = residentKb("VmHWM:") - before;
        const qint64 fullDecodeKb = qint64(size.width()) * size.height() * 4 / 1024;
        QVERIFY2(growthKb < fullDecodeKb / 2, qPrintable(QStringLiteral("%1 kB").arg(growthKb)));
        QCOMPARE(port->documentsDrawn, QList<bool>({ true, true }));
        // The target 1839 x 1239 fills the page, turned landscape for the portrait photo.
        const QList<QColor> quarters
            = size.height() > size.width() ? quartersAfterTurn(1) : Upright;
        const QImage &page = port->pages.first();
        for (int i = 0; i < 4; ++i) {
            const QPoint centre(page.width() * (i % 2 ? 3 : 1) / 4,
                                page.height() * (i / 2 ? 3 : 1) / 4);
            QVERIFY2(near(page.pixelColor(centre), quarters[i]), qPrintable(QString::number(i)));
        }
        QCOMPARE(store->jobCount, int16_t(0));
    }

    void everyKindOfRealJpegLoads_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        // The fuzzer's seed photos: baseline and progressive, 4:2:0, 4:2:2 and 4:4:4, grey,
        // restart markers, arithmetic coding, an odd size, camera data around them.
        const QDir seeds(QStringLiteral(ZELVO_FUZZ_CORPUS "/fuzz_imaging"));
        const QStringList names = seeds.entryList({ QStringLiteral("*.jpg") }, QDir::Files);
        QVERIFY(names.size() >= 10);
        for (const QString &name : names) {
            QFile seed(seeds.filePath(name));
            if (!name.startsWith(QLatin1String("truncated"))
                && !name.startsWith(QLatin1String("declares")) && seed.open(QIODevice::ReadOnly))
                QTest::newRow(qPrintable(name)) << seed.readAll();
        }
        // Flat photos with optimised tables take the fewest bits a block can take.
        for (bool progressive : { false, true }) {
            for (bool grey : { false, true }) {
                QImage flat(2000, 1500, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
                flat.fill(Qt::darkGray);
                QByteArray bytes;
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                QImageWriter writer(&buffer, "jpeg");
                writer.setOptimizedWrite(true);
                writer.setProgressiveScanWrite(progressive);
                writer.write(flat);
                QTest::addRow("flat %s%s", progressive ? "progressive" : "baseline",
                              grey ? ", grey" : "")
                    << bytes;
            }
        }
    }
    void everyKindOfRealJpegLoads()
    {
        QFETCH(QByteArray, bytes);
        const QString file = system->filePath(QStringLiteral("photo.jpg"));
        QVERIFY(writeFile(file, bytes));
        IgHandle handle = 0;
        QCOMPARE(IG_load_file(file, &handle), int(IgSuccess));
        QImage canvas(64, 64, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        IG_device_rect_set(handle, IgRect { 0, 0, 63, 63 });
        QCOMPARE(IG_display_image(handle, &painter), int(IgSuccess));
        IG_image_delete(handle);
    }
};

QTEST_MAIN(TestBadPhotos)
#include "tst_badphotos.moc"
