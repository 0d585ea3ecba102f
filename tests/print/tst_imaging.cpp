#include "Imaging.h"
#include "JpegStructure.h"
#include "TestPhotos.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace TestPhotos;

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
    void loadReadsDimensions_data();
    void loadReadsDimensions();
    void quarterTurns_data();
    void quarterTurns();
    void imageRectSelectsPart_data();
    void imageRectSelectsPart();
    void resizeChangesDimensions();
    void deadHandlesAreRefused();
    void thumbnailKeepsOnlyDeviceSize();
    void drawingFailsWhenFileChangedUnderneath();
    void workerThreadsLoadAndDecode();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // Draws the handle into a white canvas of `size` with the device rectangle covering it.
    static QImage drawn(IgHandle handle, const QSize &size);

    QTemporaryDir m_dir;
    QByteArray m_jpeg; // 300 x 200 quadrants
};

void TestImaging::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_jpeg = jpegBytes(quadrants(300, 200));
    QVERIFY(writeFile(path("photo.jpg"), m_jpeg));
}

QImage TestImaging::drawn(IgHandle handle, const QSize &size)
{
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    IG_device_rect_set(handle, IgRect { 0, 0, size.width() - 1, size.height() - 1 });
    QPainter painter(&canvas);
    if (IG_display_image(handle, &painter) != IgSuccess)
        return {};
    return canvas;
}

void TestImaging::jpegStructure_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("whole");

    const QByteArray good = jpegBytes(quadrants(64, 48));
    const qsizetype scan = firstScanData(good);
    QVERIFY(scan > 0);

    QTest::newRow("baseline") << good << true;
    QTest::newRow("progressive") << jpegBytes(quadrants(64, 48), 90, true) << true;
    QTest::newRow("greyscale") << jpegBytes(
        quadrants(64, 48).convertToFormat(QImage::Format_Grayscale8))
                               << true;
    QTest::newRow("data after EOI") << good + QByteArray("camera trailer") << true;
    QTest::newRow("fill bytes before EOI")
        << good.left(good.size() - 2) + QByteArray("\xFF\xFF\xFF\xD9", 4) << true;
    QByteArray restart = good;
    restart.insert(scan + 10, QByteArray("\xFF\xD3", 2));
    QTest::newRow("restart marker in scan data") << restart << true;

    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("SOI only") << QByteArray("\xFF\xD8\xFF\xD9", 4) << false;
    QTest::newRow("not a JPEG") << QByteArray("GIF89a this is not a photo") << false;
    QTest::newRow("truncated at half") << good.left(good.size() / 2) << false;
    QTest::newRow("truncated in the headers") << good.left(scan - 20) << false;
    QTest::newRow("EOI missing") << good.left(good.size() - 2) << false;
    QByteArray stray = good;
    stray[scan + 10] = char(0xFF);
    stray[scan + 11] = char(0x42);
    QTest::newRow("0xFF followed by garbage in scan data") << stray << false;
    QByteArray longSegment = good;
    longSegment[4] = char(0xFF); // APP0 length
    longSegment[5] = char(0xF0);
    QTest::newRow("segment longer than the file") << longSegment.left(200) << false;
    QByteArray shortSegment = good;
    shortSegment[4] = 0;
    shortSegment[5] = 1;
    QTest::newRow("segment length below 2") << shortSegment << false;
    QByteArray secondSoi = good;
    secondSoi.insert(2, QByteArray("\xFF\xD8", 2));
    QTest::newRow("SOI twice") << secondSoi << false;
    QTest::newRow("no frame header")
        << QByteArray(good).replace(QByteArray("\xFF\xC0", 2), QByteArray("\xFF\xFE", 2)) << false;
    QTest::newRow("zero height (DNL)") << withDeclaredSize(good, 64, 0) << false;
}

void TestImaging::jpegStructure()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, whole);
    const auto header = checkJpegStructure(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                           std::size_t(bytes.size()));
    QCOMPARE(header.has_value(), whole);
    if (whole) {
        QCOMPARE(header->width, 64);
        QCOMPARE(header->height, 48);
    }
}

void TestImaging::jpegScale_data()
{
    QTest::addColumn<QSizeF>("region");
    QTest::addColumn<QSize>("needed");
    QTest::addColumn<int>("eighths");

    QTest::newRow("24 MP onto a 300 dpi 10x15 page")
        << QSizeF(6000, 4000) << QSize(1819, 1213) << 3;
    QTest::newRow("thumbnail") << QSizeF(6000, 4000) << QSize(100, 67) << 1;
    QTest::newRow("exactly a quarter") << QSizeF(6000, 4000) << QSize(1500, 1000) << 2;
    QTest::newRow("a pixel over a quarter") << QSizeF(6000, 4000) << QSize(1501, 1000) << 3;
    QTest::newRow("device as large as the photo") << QSizeF(6000, 4000) << QSize(6000, 4000) << 8;
    QTest::newRow("device larger than the photo") << QSizeF(6000, 4000) << QSize(7356, 4956) << 8;
    QTest::newRow("one axis decides") << QSizeF(6000, 4000) << QSize(100, 1000) << 2;
    QTest::newRow("part of the photo") << QSizeF(3000, 2000) << QSize(1819, 1213) << 5;
}

void TestImaging::jpegScale()
{
    QFETCH(QSizeF, region);
    QFETCH(QSize, needed);
    QFETCH(int, eighths);
    QCOMPARE(jpegScaleEighths(region, needed), eighths);
}

void TestImaging::loadRefusesUnreadable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // null: create nothing

    QTest::newRow("missing") << "missing.jpg" << QByteArray();
    QTest::newRow("folder") << "folder.jpg" << QByteArray();
    QTest::newRow("zero bytes") << "empty.jpg" << QByteArray("");
    QTest::newRow("text") << "text.jpg" << QByteArray("not a photo at all\n");
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    quadrants(30, 20).save(&buffer, "PNG");
    QTest::newRow("PNG") << "png.jpg" << png;
    QTest::newRow("truncated at half") << "half.jpg" << m_jpeg.left(m_jpeg.size() / 2);
    QByteArray corrupt = m_jpeg;
    corrupt[firstScanData(m_jpeg) + 5] = char(0xFF);
    corrupt[firstScanData(m_jpeg) + 6] = char(0x07);
    QTest::newRow("corrupt marker") << "corrupt.jpg" << corrupt;
    // A few hundred bytes that would need 16 GB once decoded.
    const QByteArray tiny = jpegBytes(quadrants(16, 16), 50);
    QTest::newRow("bomb 65500 x 65500") << "bomb.jpg" << withDeclaredSize(tiny, 65500, 65500);
    QTest::newRow("a pixel over the cap") << "over.jpg" << withDeclaredSize(tiny, 20000, 10001);
}

void TestImaging::loadRefusesUnreadable()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    if (name == "folder.jpg")
        QVERIFY(QDir(m_dir.path()).mkpath(name));
    else if (!bytes.isNull())
        QVERIFY(writeFile(path(name), bytes));

    const int before = liveImageCount();
    IgHandle handle = 12345;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(IG_load_file(path(name), &handle) != IgSuccess);
    QVERIFY2(timer.elapsed() < 2000, "refusing must not decode");
    QCOMPARE(handle, IgHandle(0));
    QCOMPARE(IG_image_is_valid(handle), 0);
    QCOMPARE(liveImageCount(), before);
}

void TestImaging::loadReadsDimensions_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bits");

    QTest::newRow("colour") << m_jpeg << 300 << 200 << 24;
    QTest::newRow("greyscale") << jpegBytes(
        quadrants(40, 70).convertToFormat(QImage::Format_Grayscale8))
                               << 40 << 70 << 8;
    // Loading reads the header only, so a photo right at the cap loads without being decoded.
    QTest::newRow("at the pixel cap")
        << withDeclaredSize(jpegBytes(quadrants(16, 16)), 20000, 10000) << 20000 << 10000 << 24;
}

void TestImaging::loadReadsDimensions()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bits);
    QVERIFY(writeFile(path("dims.jpg"), bytes));

    const quint64 decodes = imageDecodeCount();
    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("dims.jpg"), &handle), int(IgSuccess));
    QVERIFY(handle != 0);
    QVERIFY(IG_image_is_valid(handle));
    int32_t w = 0, h = 0, bpp = 0;
    QCOMPARE(IG_image_dimensions_get(handle, &w, &h, &bpp), int(IgSuccess));
    QCOMPARE(w, width);
    QCOMPARE(h, height);
    QCOMPARE(bpp, bits);
    QCOMPARE(imageDecodeCount(), decodes);
    QCOMPARE(IG_image_delete(handle), int(IgSuccess));
}

void TestImaging::quarterTurns_data()
{
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QSize>("size");
    // Colours found in the top-left, top-right, bottom-left and bottom-right corners.
    QTest::addColumn<QList<QColor>>("corners");

    QTest::newRow("none") << QList<int>() << QSize(300, 200)
                          << QList<QColor> { TopLeft, TopRight, BottomLeft, BottomRight };
    QTest::newRow("code 1 turns clockwise")
        << QList<int> { 1 } << QSize(200, 300)
        << QList<QColor> { BottomLeft, TopLeft, BottomRight, TopRight };
    QTest::newRow("code 3 turns anticlockwise")
        << QList<int> { 3 } << QSize(200, 300)
        << QList<QColor> { TopRight, BottomRight, TopLeft, BottomLeft };
    QTest::newRow("codes 1 and 3 cancel")
        << QList<int> { 1, 3 } << QSize(300, 200)
        << QList<QColor> { TopLeft, TopRight, BottomLeft, BottomRight };
    QTest::newRow("code 1 twice is a half turn")
        << QList<int> { 1, 1 } << QSize(300, 200)
        << QList<QColor> { BottomRight, BottomLeft, TopRight, TopLeft };
}

void TestImaging::quarterTurns()
{
    QFETCH(QList<int>, codes);
    QFETCH(QSize, size);
    QFETCH(QList<QColor>, corners);

    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("photo.jpg"), &handle), int(IgSuccess));
    for (int code : codes)
        QCOMPARE(IG_IP_rotate_multiple_90(handle, code), int(IgSuccess));
    int32_t w = 0, h = 0;
    IG_image_dimensions_get(handle, &w, &h, nullptr);
    QCOMPARE(QSize(w, h), size);

    const QImage canvas = drawn(handle, size);
    QVERIFY(!canvas.isNull());
    const int m = 10;
    const QList<QPoint> points { { m, m }, { w - m, m }, { m, h - m }, { w - m, h - m } };
    for (int i = 0; i < 4; ++i)
        QVERIFY2(near(canvas.pixelColor(points[i]), corners[i]), qPrintable(QString::number(i)));

    QVERIFY(IG_IP_rotate_multiple_90(handle, 0) != IgSuccess);
    QVERIFY(IG_IP_rotate_multiple_90(handle, 4) != IgSuccess);
    IG_image_dimensions_get(handle, &w, &h, nullptr);
    QCOMPARE(QSize(w, h), size);
    IG_image_delete(handle);
}

void TestImaging::imageRectSelectsPart_data()
{
    QTest::addColumn<IgRect>("imageRect");
    QTest::addColumn<IgRect>("deviceRect");
    QTest::addColumn<QRect>("ink"); // where anything is drawn on a 400 x 300 canvas
    QTest::addColumn<QColor>("leftColour"); // at the middle of the ink's left quarter
    QTest::addColumn<QColor>("rightColour");

    QTest::newRow("right half") << IgRect { 150, 0, 299, 199 } << IgRect { 0, 0, 199, 199 }
                                << QRect(0, 0, 200, 200) << TopRight << TopRight;
    QTest::newRow("whole image") << IgRect { 0, 0, 299, 199 } << IgRect { 50, 50, 349, 249 }
                                 << QRect(50, 50, 300, 200) << TopLeft << TopRight;
    // The part of the image rectangle outside the image stays empty on the device.
    QTest::newRow("image rectangle past the left edge")
        << IgRect { -100, 0, 299, 199 } << IgRect { 0, 0, 399, 199 } << QRect(100, 0, 300, 200)
        << TopLeft << TopRight;
    QTest::newRow("device rectangle past the canvas")
        << IgRect { 0, 0, 299, 199 } << IgRect { -150, -100, 449, 299 } << QRect(0, 0, 400, 300)
        << TopLeft << TopRight;
}

void TestImaging::imageRectSelectsPart()
{
    QFETCH(IgRect, imageRect);
    QFETCH(IgRect, deviceRect);
    QFETCH(QRect, ink);
    QFETCH(QColor, leftColour);
    QFETCH(QColor, rightColour);

    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("photo.jpg"), &handle), int(IgSuccess));
    IG_image_rect_set(handle, imageRect);
    IG_device_rect_set(handle, deviceRect);
    QImage canvas(400, 300, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    QCOMPARE(IG_print_image(handle, &painter, -1), int(IgSuccess));
    painter.end();
    IG_image_delete(handle);

    const QRect bounds = inkBounds(canvas);
    QVERIFY2(qAbs(bounds.left() - ink.left()) <= 1 && qAbs(bounds.right() - ink.right()) <= 1
                 && qAbs(bounds.top() - ink.top()) <= 1
                 && qAbs(bounds.bottom() - ink.bottom()) <= 1,
             qPrintable(QStringLiteral("ink at %1,%2 %3x%4")
                            .arg(bounds.x())
                            .arg(bounds.y())
                            .arg(bounds.width())
                            .arg(bounds.height())));
    const int y = ink.top() + ink.height() / 4;
    QVERIFY(near(canvas.pixelColor(ink.left() + ink.width() / 8, y), leftColour));
    QVERIFY(near(canvas.pixelColor(ink.right() - ink.width() / 8, y), rightColour));
}

void TestImaging::resizeChangesDimensions()
{
    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("photo.jpg"), &handle), int(IgSuccess));
    QCOMPARE(IG_IP_resize(handle, 30, 20, 0), int(IgSuccess));
    int32_t w = 0, h = 0;
    IG_image_dimensions_get(handle, &w, &h, nullptr);
    QCOMPARE(QSize(w, h), QSize(30, 20));
    QVERIFY(IG_IP_resize(handle, 0, 20, 0) != IgSuccess);

    // Without a device rectangle, the image is drawn at its own (resized) size.
    QImage canvas(100, 100, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    QCOMPARE(IG_display_image(handle, &painter), int(IgSuccess));
    painter.end();
    QCOMPARE(inkBounds(canvas), QRect(0, 0, 30, 20));
    QVERIFY(imagePixelBytesHeld(handle) <= 30 * 20 * 4);
    IG_image_delete(handle);
}

void TestImaging::deadHandlesAreRefused()
{
    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("photo.jpg"), &handle), int(IgSuccess));
    QCOMPARE(IG_image_delete(handle), int(IgSuccess));
    QCOMPARE(IG_image_is_valid(handle), 0);
    QVERIFY(IG_image_delete(handle) != IgSuccess);
    int32_t w = -1;
    QVERIFY(IG_image_dimensions_get(handle, &w, nullptr, nullptr) != IgSuccess);
    QCOMPARE(w, -1);
    QVERIFY(IG_IP_rotate_multiple_90(handle, 1) != IgSuccess);
    QImage canvas(10, 10, QImage::Format_RGB32);
    QPainter painter(&canvas);
    QVERIFY(IG_display_image(handle, &painter) != IgSuccess);
    QVERIFY(IG_image_is_valid(0) == 0);
    QVERIFY(IG_load_file(path("photo.jpg"), nullptr) != IgSuccess);
}

void TestImaging::thumbnailKeepsOnlyDeviceSize()
{
    // A 12 MP photo drawn as a 100 x 67 thumbnail: the image must keep about the
    // thumbnail's pixels, not the photo's 48 MB, and repaints must not decode again.
    QVERIFY(writeQuadrantJpeg(path("big.jpg"), 4000, 3000));
    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("big.jpg"), &handle), int(IgSuccess));
    QCOMPARE(IG_IP_resize(handle, 4000, 3000, 0), int(IgSuccess));
    const quint64 decodes = imageDecodeCount();
    QImage canvas(100, 67, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    IG_device_rect_set(handle, IgRect { 0, 0, 99, 66 });
    {
        QPainter painter(&canvas);
        QCOMPARE(IG_display_image(handle, &painter), int(IgSuccess));
        QCOMPARE(IG_display_image(handle, &painter), int(IgSuccess));
    }
    QCOMPARE(imageDecodeCount(), decodes + 1);
    QVERIFY2(imagePixelBytesHeld(handle) <= 100 * 67 * 4,
             qPrintable(QString::number(imagePixelBytesHeld(handle))));
    QVERIFY(near(canvas.pixelColor(25, 16), TopLeft));
    QVERIFY(near(canvas.pixelColor(75, 50), BottomRight));
    IG_image_delete(handle);
}

void TestImaging::drawingFailsWhenFileChangedUnderneath()
{
    QVERIFY(writeFile(path("changing.jpg"), m_jpeg));
    IgHandle handle = 0;
    QCOMPARE(IG_load_file(path("changing.jpg"), &handle), int(IgSuccess));
    QVERIFY(writeFile(path("changing.jpg"), m_jpeg.left(m_jpeg.size() / 2)));
    QVERIFY(drawn(handle, QSize(30, 20)).isNull());
    QVERIFY(writeFile(path("changing.jpg"), jpegBytes(quadrants(200, 300))));
    QVERIFY(drawn(handle, QSize(30, 20)).isNull());
    IG_image_delete(handle);
}

void TestImaging::workerThreadsLoadAndDecode()
{
    const int before = liveImageCount();
    std::atomic<int> failures { 0 };
    auto work = [&] {
        for (int i = 0; i < 40; ++i) {
            IgHandle handle = 0;
            if (IG_load_file(path("photo.jpg"), &handle) != IgSuccess) {
                ++failures;
                continue;
            }
            IG_IP_rotate_multiple_90(handle, 1);
            IG_device_rect_set(handle, IgRect { 0, 0, 49, 74 });
            QImage canvas(50, 75, QImage::Format_RGB32);
            QPainter painter(&canvas);
            if (prepareImageDrawing(handle) != IgSuccess
                || IG_display_image(handle, &painter) != IgSuccess)
                ++failures;
            painter.end();
            IG_image_delete(handle);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back(work);
    for (auto &thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(liveImageCount(), before);
}

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
