#include "Imaging.h"
#include "JpegStructure.h"
#include "TestPhotos.h"

#include <QTemporaryDir>
#include <QTest>

using namespace TestPhotos;

Q_DECLARE_METATYPE(IgRect)

// The imaging layer on generated JPEGs; the bad-photo matrix is in tests/hardening.
class TestImaging : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // The photo at `file` loaded, turned by `codes`, drawn with the rectangles into a white
    // canvas of `size`; a null image when anything fails.
    static QImage draw(const QString &file, const QList<int> &codes, const QSize &size,
                       const IgRect &image, const IgRect &device)
    {
        IgHandle handle = 0;
        if (IG_load_file(file, &handle) != IgSuccess)
            return {};
        QImage canvas(size, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        bool ok = true;
        for (int code : codes)
            ok = ok && IG_IP_rotate_multiple_90(handle, code) == IgSuccess;
        IG_image_rect_set(handle, image);
        IG_device_rect_set(handle, device);
        ok = ok && IG_print_image(handle, &painter, -1) == IgSuccess;
        IG_image_delete(handle);
        return ok ? canvas : QImage();
    }

    QTemporaryDir m_dir;
    QByteArray m_jpeg = jpegBytes(300, 200);

private slots:
    void initTestCase() { QVERIFY(writeFile(path("photo.jpg"), m_jpeg)); }

    void jpegStructure_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("whole");

        const QByteArray good = jpegBytes(64, 48);
        const qsizetype scan = scanDataOffset(good);
        const auto patched = [&](qsizetype at, const char *bytes, int length, bool insert = false) {
            QByteArray b = good;
            return insert ? b.insert(at, bytes, length) : b.replace(at, length, bytes, length);
        };

        QTest::newRow("baseline") << good << true;
        QTest::newRow("progressive") << jpegBytes(64, 48, 90, true) << true;
        QTest::newRow("greyscale") << jpegBytes(64, 48, 90, false, true) << true;
        QTest::newRow("data after EOI") << good + "camera trailer" << true;
        QTest::newRow("fill bytes before EOI")
            << patched(good.size() - 2, "\xFF\xFF", 2, true) << true;
        const char restarts[] = "\xFF\xD0\xFF\xD1\xFF\xD2\xFF\xD3\xFF\xD4\xFF\xD5\xFF\xD6\xFF\xD7";
        QTest::newRow("restart markers RST0 to RST7 in scan data")
            << patched(scan + 10, restarts, 16, true) << true;

        QTest::newRow("no scan") << QByteArray("\xFF\xD8\xFF\xD9", 4) << false;
        QTest::newRow("EOI missing") << good.left(good.size() - 2) << false;
        QTest::newRow("0xFF then garbage in scan data")
            << patched(scan + 10, "\xFF\x42", 2) << false;
        QTest::newRow("segment past the end") << patched(4, "\xFF\xF0", 2).left(200) << false;
        QTest::newRow("segment length below 2") << patched(4, "\x00\x01", 2) << false;
        QTest::newRow("SOI twice") << patched(2, "\xFF\xD8", 2, true) << false;
        QTest::newRow("no frame header")
            << QByteArray(good).replace("\xFF\xC0", "\xFF\xFE") << false;
        QTest::newRow("height left to DNL") << withDeclaredSize(good, 64, 0) << false;
    }
    void jpegStructure()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, whole);
        const auto header = checkJpegStructure(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                               std::size_t(bytes.size()));
        QCOMPARE(header.has_value(), whole);
        if (whole)
            QCOMPARE(QSize(header->width, header->height), QSize(64, 48));
    }

    void jpegScale_data()
    {
        QTest::addColumn<QSize>("needed"); // from a 6000 x 4000 photo
        QTest::addColumn<int>("eighths");

        QTest::newRow("300 dpi 10x15 page") << QSize(1819, 1213) << 3;
        QTest::newRow("thumbnail") << QSize(100, 67) << 1;
        QTest::newRow("exactly a quarter, one axis") << QSize(10, 1000) << 2;
        QTest::newRow("larger than the photo") << QSize(7356, 4956) << 8;
    }
    void jpegScale()
    {
        QFETCH(QSize, needed);
        QTEST(jpegScaleEighths(QSizeF(6000, 4000), needed), "eighths");
    }

    void loadReadsTheHeaderOnlyUpToThePixelCap()
    {
        // The scans are padded to the bit per block that a whole photo of that size holds.
        const auto declaring = [](int height) {
            return withScanPadding(withDeclaredSize(jpegBytes(16, 16), 20000, height), 600'000);
        };
        QVERIFY(writeFile(path("cap.jpg"), declaring(10000)));
        QVERIFY(writeFile(path("over.jpg"), declaring(10001)));
        const quint64 decodes = imageDecodeCount();
        const int images = liveImageCount();
        IgHandle handle = 12345;
        QVERIFY(IG_load_file(path("over.jpg"), &handle) != IgSuccess);
        QCOMPARE(handle, IgHandle(0));
        QCOMPARE(IG_load_file(path("cap.jpg"), &handle), int(IgSuccess));
        int32_t w = 0, h = 0, bpp = 0;
        QCOMPARE(IG_image_dimensions_get(handle, &w, &h, &bpp), int(IgSuccess));
        QCOMPARE(QList<int>({ w, h, bpp }), QList<int>({ 20000, 10000, 24 }));
        QCOMPARE(imageDecodeCount(), decodes);
        QCOMPARE(IG_image_delete(handle), int(IgSuccess));
        QCOMPARE(IG_image_is_valid(handle), 0);
        QVERIFY(IG_image_dimensions_get(handle, &w, &h, &bpp) != IgSuccess);
        QCOMPARE(liveImageCount(), images);
    }

    void turnsAndRectanglesPlaceTheDrawing_data()
    {
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<IgRect>("imageRect");
        QTest::addColumn<IgRect>("deviceRect");
        QTest::addColumn<QRect>("photoOnCanvas"); // where the whole photo lands on 400 x 300
        QTest::addColumn<QList<QColor>>("quarters");

        const IgRect upright { 0, 0, 299, 199 }, turned { 0, 0, 199, 299 };
        QTest::newRow("code 3: anticlockwise") << QList<int> { 3 } << turned << turned
                                               << QRect(0, 0, 200, 300) << quartersAfterTurn(3);
        QTest::newRow("1 then 3: none")
            << QList<int> { 1, 3 } << upright << upright << QRect(0, 0, 300, 200) << Upright;
        // The part of the image rectangle outside the photo stays empty, keeping scale and place.
        QTest::newRow("image rectangle past the left edge")
            << QList<int>() << IgRect { -100, 0, 299, 199 } << IgRect { 0, 0, 399, 199 }
            << QRect(100, 0, 300, 200) << Upright;
        QTest::newRow("device rectangle past the canvas")
            << QList<int>() << upright << IgRect { -150, -100, 449, 299 }
            << QRect(-150, -100, 600, 400) << Upright;
    }
    void turnsAndRectanglesPlaceTheDrawing()
    {
        QFETCH(QList<int>, codes);
        QFETCH(IgRect, imageRect);
        QFETCH(IgRect, deviceRect);
        QFETCH(QRect, photoOnCanvas);
        QFETCH(QList<QColor>, quarters);
        const QImage canvas
            = draw(path("photo.jpg"), codes, QSize(400, 300), imageRect, deviceRect);
        QCOMPARE(placementMismatch(canvas, photoOnCanvas, quarters), QString());
    }

    // What the viewer keeps of a thumbnail draws again, turned as it was, without the file; a
    // photo loaded before its file was written again is not drawn.
    void snapshotDrawsAgainWithoutDecoding()
    {
        QVERIFY(writeFile(path("kept.jpg"), m_jpeg));
        IgHandle handle = 0, again = 0, changed = 0;
        QCOMPARE(IG_load_file(path("kept.jpg"), &handle), int(IgSuccess));
        QCOMPARE(IG_load_file(path("kept.jpg"), &changed), int(IgSuccess));
        QVERIFY(!snapshotImage(handle)); // nothing drawn yet
        IG_IP_rotate_multiple_90(handle, 1);
        IG_device_rect_set(handle, IgRect { 0, 0, 49, 74 });
        QCOMPARE(prepareImageDrawing(handle), int(IgSuccess));
        const ImageSnapshot snapshot = snapshotImage(handle);
        IG_image_delete(handle);
        QVERIFY(writeFile(path("kept.jpg"), jpegBytes(300, 200, 50))); // retouched, same size
        QImage canvas(50, 75, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        QVERIFY(IG_display_image(changed, &painter) != IgSuccess);
        IG_image_delete(changed);
        const quint64 decodes = imageDecodeCount();
        QCOMPARE(loadImageSnapshot(snapshot, &again), int(IgSuccess));
        int32_t w = 0, h = 0;
        QCOMPARE(IG_image_dimensions_get(again, &w, &h, nullptr), int(IgSuccess));
        QCOMPARE(QSize(w, h), QSize(200, 300));
        QCOMPARE(IG_display_image(again, &painter), int(IgSuccess));
        painter.end();
        QCOMPARE(placementMismatch(canvas, canvas.rect(), quartersAfterTurn(1)), QString());
        QCOMPARE(imageDecodeCount(), decodes);
        IG_image_delete(again);
        QCOMPARE(loadImageSnapshot(nullptr, &again), int(IgBadArgument));
        QCOMPARE(again, IgHandle(0));
    }
};

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
