#include "Imaging.h"
#include "JpegStructure.h"
#include "TestPhotos.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace TestPhotos;

Q_DECLARE_METATYPE(IgRect)

class TestImaging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void jpegStructure_data();
    void jpegStructure();
    void jpegScale_data();
    void jpegScale();
    void loadRefusesUnreadable_data();
    void loadRefusesUnreadable();
    void loadReadsHeaderOnly();
    void quarterTurns_data();
    void quarterTurns();
    void rectanglesPlaceTheDrawing_data();
    void rectanglesPlaceTheDrawing();
    void thumbnailKeepsOnlyDeviceSize();
    void photoChangedSinceLoadIsNotDrawn();
    void workerThreadsLoadAndDraw();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // The photo at `file` loaded, turned by `codes`, drawn with the rectangles into a white
    // canvas of `size`; a null image when anything fails.
    static QImage draw(const QString &file, const QList<int> &codes, const QSize &size,
                       const IgRect &device, const IgRect *imageRect = nullptr);

    QTemporaryDir m_dir;
    QByteArray m_jpeg = jpegBytes(300, 200);
};

void TestImaging::initTestCase()
{
    QVERIFY(writeFile(path("photo.jpg"), m_jpeg));
}

QImage TestImaging::draw(const QString &file, const QList<int> &codes, const QSize &size,
                         const IgRect &device, const IgRect *imageRect)
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
    if (imageRect)
        IG_image_rect_set(handle, *imageRect);
    IG_device_rect_set(handle, device);
    ok = ok && IG_print_image(handle, &painter, -1) == IgSuccess;
    IG_image_delete(handle);
    return ok ? canvas : QImage();
}

void TestImaging::jpegStructure_data()
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
    QTest::newRow("fill bytes before EOI") << patched(good.size() - 2, "\xFF\xFF", 2, true) << true;
    QTest::newRow("restart marker in scan data") << patched(scan + 10, "\xFF\xD3", 2, true) << true;

    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("no scan") << QByteArray("\xFF\xD8\xFF\xD9", 4) << false;
    QTest::newRow("not a JPEG") << QByteArray("GIF89a, not a photo") << false;
    QTest::newRow("truncated at half") << good.left(good.size() / 2) << false;
    QTest::newRow("EOI missing") << good.left(good.size() - 2) << false;
    QTest::newRow("0xFF then garbage in scan data") << patched(scan + 10, "\xFF\x42", 2) << false;
    QTest::newRow("segment past the end") << patched(4, "\xFF\xF0", 2).left(200) << false;
    QTest::newRow("segment length below 2") << patched(4, "\x00\x01", 2) << false;
    QTest::newRow("SOI twice") << patched(2, "\xFF\xD8", 2, true) << false;
    QTest::newRow("no frame header") << QByteArray(good).replace("\xFF\xC0", "\xFF\xFE") << false;
    QTest::newRow("height left to DNL") << withDeclaredSize(good, 64, 0) << false;
}

void TestImaging::jpegStructure()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, whole);
    const auto header = checkJpegStructure(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                           std::size_t(bytes.size()));
    QCOMPARE(header.has_value(), whole);
    if (whole)
        QCOMPARE(QSize(header->width, header->height), QSize(64, 48));
}

void TestImaging::jpegScale_data()
{
    QTest::addColumn<QSize>("needed"); // from a 6000 x 4000 photo
    QTest::addColumn<int>("eighths");

    QTest::newRow("300 dpi 10x15 page") << QSize(1819, 1213) << 3;
    QTest::newRow("thumbnail") << QSize(100, 67) << 1;
    QTest::newRow("exactly a quarter, one axis") << QSize(10, 1000) << 2;
    QTest::newRow("larger than the photo") << QSize(7356, 4956) << 8;
}

void TestImaging::jpegScale()
{
    QFETCH(QSize, needed);
    QFETCH(int, eighths);
    QCOMPARE(jpegScaleEighths(QSizeF(6000, 4000), needed), eighths);
}

void TestImaging::loadRefusesUnreadable_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: nothing there

    QTest::newRow("missing") << QByteArray();
    QTest::newRow("zero bytes") << QByteArray("");
    QTest::newRow("text") << QByteArray("not a photo at all\n");
    QTest::newRow("truncated at half") << m_jpeg.left(m_jpeg.size() / 2);
    QTest::newRow("corrupt marker")
        << QByteArray(m_jpeg).replace(scanDataOffset(m_jpeg) + 8, 2, QByteArray("\xFF\x07", 2));
    // 629 bytes that would need 16 GB once decoded, refused from the header.
    QTest::newRow("bomb 65500 x 65500") << withDeclaredSize(jpegBytes(16, 16, 50), 65500, 65500);
    QTest::newRow("a pixel over the cap")
        << withScanPadding(withDeclaredSize(jpegBytes(16, 16, 50), 20000, 10001), 600'000);
}

void TestImaging::loadRefusesUnreadable()
{
    QFETCH(QByteArray, bytes);
    const QString file = path(QTest::currentDataTag() + QStringLiteral(".jpg"));
    QVERIFY(bytes.isNull() || writeFile(file, bytes));
    const int before = liveImageCount();
    IgHandle handle = 12345;
    QVERIFY(IG_load_file(file, &handle) != IgSuccess);
    QCOMPARE(handle, IgHandle(0));
    QCOMPARE(liveImageCount(), before);
}

void TestImaging::loadReadsHeaderOnly()
{
    // A photo right at the cap loads (and tells its size) without a single pixel decoded. Its
    // scan is padded to the bit per block that a whole photo of that size holds at least.
    QVERIFY(writeFile(path("cap.jpg"),
                      withScanPadding(withDeclaredSize(jpegBytes(16, 16), 20000, 10000), 600'000)));
    const quint64 decodes = imageDecodeCount();
    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("cap.jpg"), &handle), int(IgSuccess));
    int32_t w = 0, h = 0, bpp = 0;
    QCOMPARE(IG_image_dimensions_get(handle, &w, &h, &bpp), int(IgSuccess));
    QCOMPARE(QList<int>({ w, h, bpp }), QList<int>({ 20000, 10000, 24 }));
    QCOMPARE(imageDecodeCount(), decodes);
    QCOMPARE(IG_image_delete(handle), int(IgSuccess));
    QCOMPARE(IG_image_is_valid(handle), 0);
    QVERIFY(IG_image_dimensions_get(handle, &w, &h, &bpp) != IgSuccess);
}

void TestImaging::quarterTurns_data()
{
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QList<QColor>>("quarters");

    QTest::newRow("code 1: clockwise") << QList<int> { 1 } << quartersAfterTurn(1);
    QTest::newRow("code 3: anticlockwise") << QList<int> { 3 } << quartersAfterTurn(3);
    QTest::newRow("1 then 3: none") << QList<int> { 1, 3 } << Upright;
}

void TestImaging::quarterTurns()
{
    QFETCH(QList<int>, codes);
    QFETCH(QList<QColor>, quarters);
    const QSize size = codes.size() == 1 ? QSize(200, 300) : QSize(300, 200);
    const QImage canvas = draw(path("photo.jpg"), codes, size,
                               IgRect { 0, 0, size.width() - 1, size.height() - 1 });
    QCOMPARE(placementMismatch(canvas, canvas.rect(), quarters), QString());
}

void TestImaging::rectanglesPlaceTheDrawing_data()
{
    QTest::addColumn<IgRect>("imageRect");
    QTest::addColumn<IgRect>("deviceRect");
    QTest::addColumn<QRect>("photoOnCanvas"); // where the whole photo lands on 400 x 300

    // The part of the image rectangle outside the photo stays empty, keeping scale and place.
    QTest::newRow("image rectangle past the left edge")
        << IgRect { -100, 0, 299, 199 } << IgRect { 0, 0, 399, 199 } << QRect(100, 0, 300, 200);
    QTest::newRow("device rectangle past the canvas")
        << IgRect { 0, 0, 299, 199 } << IgRect { -150, -100, 449, 299 }
        << QRect(-150, -100, 600, 400);
}

void TestImaging::rectanglesPlaceTheDrawing()
{
    QFETCH(IgRect, imageRect);
    QFETCH(IgRect, deviceRect);
    QFETCH(QRect, photoOnCanvas);
    const QImage canvas = draw(path("photo.jpg"), {}, QSize(400, 300), deviceRect, &imageRect);
    QCOMPARE(placementMismatch(canvas, photoOnCanvas, Upright), QString());
}

void TestImaging::thumbnailKeepsOnlyDeviceSize()
{
    // A 12 MP photo shown as a 100 x 67 thumbnail, as the viewer does: what the image keeps
    // is the thumbnail's pixels, not the photo's 48 MB, and a repaint decodes nothing.
    QVERIFY(writeJpeg(path("big.jpg"), 4000, 3000));
    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("big.jpg"), &handle), int(IgSuccess));
    QCOMPARE(IG_IP_resize(handle, 4000, 3000, 0), int(IgSuccess));
    IG_device_rect_set(handle, IgRect { 0, 0, 99, 66 });
    const quint64 decodes = imageDecodeCount();
    QImage canvas(100, 67, QImage::Format_RGB32);
    QPainter painter(&canvas);
    QCOMPARE(IG_display_image(handle, &painter), int(IgSuccess));
    QCOMPARE(IG_display_image(handle, &painter), int(IgSuccess));
    painter.end();
    QCOMPARE(imageDecodeCount(), decodes + 1);
    QVERIFY(imagePixelBytesHeld(handle) <= 100 * 67 * 4);
    QCOMPARE(placementMismatch(canvas, canvas.rect(), Upright), QString());
    IG_image_delete(handle);
}

void TestImaging::photoChangedSinceLoadIsNotDrawn()
{
    QVERIFY(writeFile(path("changing.jpg"), m_jpeg));
    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("changing.jpg"), &handle), int(IgSuccess));
    QVERIFY(writeFile(path("changing.jpg"), m_jpeg.left(m_jpeg.size() / 2)));
    QImage canvas(30, 20, QImage::Format_RGB32);
    QPainter painter(&canvas);
    QVERIFY(IG_display_image(handle, &painter) != IgSuccess);
    IG_image_delete(handle);
}

void TestImaging::workerThreadsLoadAndDraw()
{
    const int before = liveImageCount();
    std::atomic<int> failures { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                if (draw(path("photo.jpg"), { 1 }, QSize(50, 75), IgRect { 0, 0, 49, 74 }).isNull())
                    ++failures;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(liveImageCount(), before);
}

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
