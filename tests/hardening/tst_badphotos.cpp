// Bad photos through the real imaging layer and the dispatcher, printing on a recording port:
// an unreadable photo gets no document and waits for its file while the queue goes on; a photo that
// declares far more pixels than its bytes can hold is refused at load, at once and without
// memory; real camera-size photos print, and every kind of real JPEG loads.
#include "Imaging.h"
#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "TestStation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

using namespace TestPhotos;

namespace {

// Resident memory of this process in kB: now ("VmRSS") or at its peak ("VmHWM").
qint64 residentKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf(field);
    return at < 0 ? -1 : text.mid(at + qstrlen(field), 32).simplified().split(' ')[0].toLongLong();
}

// Makes VmHWM start again from the current resident size.
bool resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

} // namespace

class TestBadPhotos : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingPrinterPort> port;
    std::unique_ptr<TestStation> station;

    // For each document: "drawn", "blank" or "open" (never ended).
    QStringList documents() const
    {
        QStringList documents;
        for (const auto &document : port->documents)
            documents << (!document.ended ? "open" : document.drawn ? "drawn" : "blank");
        return documents;
    }

private slots:
    void init()
    {
        port = std::make_unique<RecordingPrinterPort>(
            QList<RecordingPrinterPort::Printer> { { "Landscape" } });
        ModPrint::setPrinterPort(port.get());
        station = std::make_unique<TestStation>("Landscape", "Landscape", "Landscape");
    }
    void cleanup() { ModPrint::setPrinterPort(nullptr); }

    void unreadablePhotoWaitsWhileTheQueueGoesOn_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file at all
        QTest::addColumn<QString>("why");
        const QByteArray baseline = jpegBytes(640, 480);
        const QByteArray progressive = jpegBytes(640, 480, 90, true);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImage(64, 48, QImage::Format_RGB32).save(&buffer, "PNG");

        QTest::newRow("missing") << QByteArray() << "não encontrada";
        QTest::newRow("zero bytes") << QByteArray("") << "ilegível";
        QTest::newRow("a PNG named .jpg") << png << "ilegível";
        for (int percent : { 10, 25, 50, 75, 90, 95 })
            QTest::addRow("baseline cut at %d%%", percent)
                << baseline.left(baseline.size() * percent / 100) << "ilegível";
        for (int percent : { 30, 95 })
            QTest::addRow("progressive cut at %d%%", percent)
                << progressive.left(progressive.size() * percent / 100) << "ilegível";
        // Structurally whole, refused only by the decoder when it draws.
        QByteArray noTable = baseline;
        const qsizetype dqt = noTable.indexOf("\xFF\xDB");
        noTable.remove(dqt, 2 + ((uchar(noTable[dqt + 2]) << 8) | uchar(noTable[dqt + 3])));
        QTest::newRow("quantisation table missing") << noTable << "ilegível";
        // Refused by the structure check.
        QTest::newRow("frame header of 2 components")
            << QByteArray(baseline).replace(baseline.indexOf("\xFF\xC0") + 9, 1, "\x02", 1)
            << "ilegível";
        // Too few bytes for the blocks the header declares.
        QTest::newRow("first scan cut, EOI appended")
            << progressive.left(scanDataOffset(progressive) + 100) + "\xFF\xD9"
            << "ilegível";
        // Whole in structure, damaged in their data: refused by the decoder's warnings.
        QTest::newRow("baseline cut at 60%, EOI appended")
            << baseline.left(baseline.size() * 6 / 10) + "\xFF\xD9"
            << "ilegível";
        QTest::newRow("progressive cut at 80%, EOI appended")
            << progressive.left(progressive.size() * 8 / 10) + "\xFF\xD9"
            << "ilegível";
        QByteArray scrambled = baseline;
        const qsizetype scan = scanDataOffset(baseline);
        for (qsizetype i = scan + 200; i < scan + 1200; ++i)
            scrambled[i] = char(0x5A ^ ((i * 37) & 0x7F));
        QTest::newRow("scan data scrambled") << scrambled << "ilegível";
        QTest::newRow("declaring 65500 x 65500")
            << withDeclaredSize(jpegBytes(16, 16, 50), 65500, 65500) << "grande demais";
    }
    // No document for the photo, not even an empty one: the job's next photo and the next job
    // print, the photo waits through ticks and a restart, and prints once its file is whole.
    void unreadablePhotoWaitsWhileTheQueueGoesOn()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        const QString photo = station->path("images/AB00001_0001.jpg");
        QVERIFY(station->addJob("1AB00001.job", { { 0, 1, bytes.isNull() ? "" : bytes }, {} }));
        QVERIFY(!bytes.isNull() || QFile::remove(photo));
        QVERIFY(station->addJob("1AB00002.job", { {} }));
        for (int tick = 0; tick < 3; ++tick)
            station->tick();
        QCOMPARE(port->titles(),
                 QStringList({ "Zelvo AB00001_0002.jpg", "Zelvo AB00002_0001.jpg" }));
        QCOMPARE(documents(), QStringList({ "drawn", "drawn" }));
        QCOMPARE(station->store.jobCount, int16_t(1));
        QCOMPARE(station->store.printJobs[0].printedCount, int16_t(1));
        QVERIFY(station->tracker()->isAlert());
        QCOMPARE(station->tracker()->notice(),
                 QStringLiteral("Foto AB00001_0001.jpg (job AB00001) ") + why);

        QCOMPARE(station->restart(), 1);
        station->tick();
        QCOMPARE(documents().size(), qsizetype(2));
        QVERIFY(writeFile(photo, jpegBytes(300, 200)));
        station->tick();
        QCOMPARE(port->titles().last(), "Zelvo AB00001_0001.jpg");
        QCOMPARE(documents(), QStringList({ "drawn", "drawn", "drawn" }));
        QCOMPARE(station->store.jobCount, int16_t(0));
        QVERIFY(!station->tracker()->isAlert());
        QCOMPARE(liveImageCount(), 0);
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
        // The quarters with grain over them, so that the photo compresses like a real one, as a
        // camera writes it (baseline, 4:2:0, quality 92).
        QImage grain(256, 256, QImage::Format_ARGB32);
        QRandomGenerator random(size.width());
        for (int y = 0; y < grain.height(); ++y)
            for (int x = 0; x < grain.width(); ++x)
                grain.setPixelColor(x, y, QColor(0, 0, 0, int(random.bounded(48))));
        QImage image = quartersImage(size.width(), size.height());
        QPainter(&image).fillRect(image.rect(), QBrush(grain));
        const QByteArray bytes = encodeJpeg(image, 92);
        QVERIFY(bytes.size() > 4'000'000); // as big as a camera's file
        // A small photo first, so that what printing costs once per run is not measured.
        QVERIFY(station->addJob("1AB00001.job", { {}, { 0, 1, bytes } }));
        station->tick();
        const quint64 decodes = imageDecodeCount();
        QVERIFY(resetPeakResident());
        const qint64 before = residentKb("VmRSS:");
        station->tick();
        // Decoded once, at a reduced scale: well below the 180-240 MB of the full photo.
        QCOMPARE(imageDecodeCount(), decodes + 1);
        const qint64 growthKb = residentKb("VmHWM:") - before;
        const qint64 fullDecodeKb = qint64(size.width()) * size.height() * 4 / 1024;
        QVERIFY2(growthKb < fullDecodeKb / 2, qPrintable(QStringLiteral("%1 kB").arg(growthKb)));
        QCOMPARE(documents(), QStringList({ "drawn", "drawn" }));
        // The target 1839 x 1239 fills the page, turned landscape for the portrait photo.
        const QList<QColor> quarters
            = size.height() > size.width() ? quartersAfterTurn(1) : Upright;
        const QImage &page = port->pages.first();
        QCOMPARE(placementMismatch(page, page.rect(), quarters), QString());
    }

    // A photo whose header declares far more than its bytes can hold is refused at load, at once
    // and without memory, as every other unreadable photo, which printing and the viewer then
    // treat alike; every kind of real JPEG loads and draws.
    void loadRefusesBombsAtOnceAndTakesRealJpegs_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("bomb");
        // Under the layer's pixel cap (refusing above it: tst_imaging), so only what the file
        // holds can give them away: decoded, the progressive ones would need over 500 MB of
        // coefficients.
        QTest::newRow("baseline 14000 x 14000")
            << withDeclaredSize(jpegBytes(16, 16, 50), 14000, 14000) << true;
        QTest::newRow("progressive 14000 x 14000")
            << withDeclaredSize(jpegBytes(16, 16, 50, true), 14000, 14000) << true;
        QTest::newRow("grey progressive 19999 x 10000")
            << withDeclaredSize(jpegBytes(16, 16, 50, true, true), 19999, 10000) << true;
        QTest::newRow("45 MP header on a thumbnail's data")
            << withDeclaredSize(jpegBytes(160, 120, 90), 8256, 5504) << true;
        // Bytes enough for its blocks, but a progressive photo is decoded through all its
        // coefficients: 1.2 GB for this one.
        QByteArray big = withDeclaredSize(jpegBytes(16, 16, 50, true), 14142, 14142);
        const qsizetype sof = big.indexOf("\xFF\xC2");
        for (int c = 0; c < 3; ++c)
            big[sof + 11 + 3 * c] = 0x11; // every component at full resolution
        QTest::newRow("progressive 4:4:4 200 MP, 1.2 MB")
            << withScanPadding(big, 1'200'000) << true;

        // The fuzzer's seed photos: baseline and progressive, 4:2:0, 4:2:2 and 4:4:4, grey,
        // restart markers, arithmetic coding, an odd size, camera data around them.
        const QDir seeds(QStringLiteral(ZELVO_FUZZ_CORPUS "/fuzz_imaging"));
        const QStringList names = seeds.entryList({ QStringLiteral("*.jpg") }, QDir::Files);
        QVERIFY(names.size() >= 10);
        for (const QString &name : names) {
            QFile seed(seeds.filePath(name));
            if (!name.startsWith("truncated") && !name.startsWith("declares")
                && seed.open(QIODevice::ReadOnly))
                QTest::newRow(qPrintable(name)) << seed.readAll() << false;
        }
        // Flat photos with optimised tables take the fewest bits a block can take.
        for (bool progressive : { false, true }) {
            for (bool grey : { false, true }) {
                QImage flat(2000, 1500, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
                flat.fill(Qt::darkGray);
                QTest::addRow("flat %s%s", progressive ? "progressive" : "baseline",
                              grey ? ", grey" : "")
                    << encodeJpeg(flat, 90, progressive, true) << false;
            }
        }
    }
    void loadRefusesBombsAtOnceAndTakesRealJpegs()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, bomb);
        QVERIFY(writeFile(station->path("photo.jpg"), bytes));
        if (bomb && !resetPeakResident())
            QSKIP("/proc/self/clear_refs cannot be written: peak memory cannot be measured");
        const qint64 before = residentKb("VmRSS:");
        QElapsedTimer timer;
        timer.start();
        IgHandle handle = 0;
        QCOMPARE(IG_load_file(station->path("photo.jpg"), &handle) == IgSuccess, !bomb);
        if (bomb) {
            QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
            const qint64 growthKb = residentKb("VmHWM:") - before;
            QVERIFY2(growthKb < 64 * 1024, qPrintable(QStringLiteral("%1 kB").arg(growthKb)));
            return;
        }
        QImage canvas(64, 64, QImage::Format_RGB32);
        QPainter painter(&canvas);
        IG_device_rect_set(handle, IgRect { 0, 0, 63, 63 });
        QCOMPARE(IG_display_image(handle, &painter), int(IgSuccess));
        IG_image_delete(handle);
    }
};

QTEST_MAIN(TestBadPhotos)
#include "tst_badphotos.moc"
