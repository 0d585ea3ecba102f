#include "ConsoleFixture.h"
#include "ConsoleLook.h"
#include "ImageButton.h"
#include "TextsCutShort.h"
#include "Twips.h"

#include <QLabel>
#include <QLoggingCategory>

#include <sys/stat.h>

using namespace ThumbLayout;

static const QString Missing = QStringLiteral("Foto Não encontrada");
static const QList<QColor> UpsideDown { TestPhotos::Yellow, TestPhotos::Blue, TestPhotos::Green,
                                        TestPhotos::Red };

// The thumbnail viewer in the main window: the panel's layout and scrolling, the photos
// decoded off the interface thread into it, what is kept of them, and the window's commands
// meanwhile.
class TestThumbViewer : public QObject, ConsoleFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("zelvo.imaging.warning=false"); }
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // The copies in words; nothing prints for 0 copies or fewer, and the label says so. Element
    // 0 is put right after a job whose first photo was missing. (Missing photos and urgent jobs:
    // finalPanelAndScrolling.)
    void copyCountLabels()
    {
        QVERIFY(addJob("1", 1)); // leaves a missing photo's text and double height on element 0
        QVERIFY(addJob("2", 4, { 1000, 700 })); // fine enough for 10x15: no resolution shown
        std::vector<PhotoItem> &photos = m_window->store.printJobs[1].photos;
        const int copies[] = { 1, 2, 0, -3 };
        for (size_t i = 0; i < photos.size(); ++i)
            photos[i].copies = int16_t(copies[i]);
        select(0);
        QCOMPARE(viewer().LblQuantidade[0]->text(), Missing);
        showJob(1);
        const QStringList texts { "1 cópia", "2 cópias", "0 cópias", "0 cópias" };
        for (int i = 0; i < texts.size(); ++i) {
            QCOMPARE(viewer().LblQuantidade[i]->text(), texts[i]);
            QCOMPARE(viewer().LblQuantidade[i]->height(), twipsToPixels(210));
            QVERIFY(shown(viewer().ImgBtAgora[i]));
            QVERIFY(IG_image_is_valid(viewer().thumbImages[size_t(i)]));
        }
    }

    // A photo too small for its print size (10x15 set to 6 x 4 inches here) has its resolution
    // on its label: orange below 150 ppi, red below 100; a portrait photo counts turned.
    void resolutionOnTheLabel()
    {
        ModConf::Width10x15 = 600;
        ModConf::Height10x15 = 400;
        const QSize sizes[] = { { 900, 600 }, { 894, 600 }, { 400, 600 }, { 900, 396 } };
        QVERIFY(addJob("1", 4));
        for (int i = 0; i < 4; ++i) {
            QVERIFY(TestPhotos::writeJpeg(path(QStringLiteral("images/AB1_000%1.jpg").arg(i + 1)),
                                          sizes[i].width(), sizes[i].height()));
        }
        showJob(0);
        const QStringList texts { "1 cópia", "1 cópia · 149 ppi", "1 cópia · 100 ppi",
                                  "1 cópia · 99 ppi" };
        const QColor colours[] = { ConsoleLook::LabelLight, QColor(255, 170, 40),
                                   QColor(255, 170, 40), QColor(255, 80, 80) };
        for (int i = 0; i < 4; ++i) {
            QLabel *label = viewer().LblQuantidade[i];
            QCOMPARE(label->text(), texts[i]);
            QCOMPARE(label->palette().color(QPalette::WindowText), colours[i]);
            QCOMPARE(textsCutShort(label), QStringList());
        }
    }

    // Once decoded, every layout is what the rebuild always laid out: places from the photo's
    // index, the double-height "Foto Não encontrada" without a button for a photo missing at
    // once (no file, empty, no name) or found unreadable only when decoded (cut short); no
    // print-now button on an urgent job; an empty panel for a job without photos. Each follows
    // a job whose element 0 showed its label and button. Then the panel scrolls down in steps of
    // 980 twips from 105 as far as it goes, and back up, the ball beside it.
    void finalPanelAndScrolling_data()
    {
        QTest::addColumn<int>("photos");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QList<int>>("missing"); // no file, empty, cut short, no name in turn
        QTest::addColumn<int>("panelHeight");
        QTest::addColumn<int>("downSteps"); // -1: not scrolled
        QTest::addColumn<int>("downBall");
        QTest::addColumn<int>("upBall"); // once back at 105
        const auto row = [](const char *tag, int photos, const char *key, QList<int> missing,
                            int height, int steps = -1, int downBall = 0, int upBall = 0) {
            QTest::newRow(tag) << photos << QString(key) << missing << height << steps << downBall
                               << upBall;
        };
        row("4 photos fit", 4, "1", {}, 3550, 0, 1005, 1005);
        row("12 photos: one step", 12, "1", {}, 6700, 1, 5480, 1826);
        row("30 photos: 11 steps", 30, "1", {}, 16150, 11, 5480, 1038);
        row("63 photos: stops 100 twips short", 63, "1", {}, 33475, 28, 5607, 1008);
        row("298 photos: the ball just at the track's end", 298, "1", {}, 157900, 155, 5610, 993);
        row("1501 photos: the first 1500", 1501, "1", {}, 787900);
        row("no photos", 0, "1", {}, 400);
        row("missing and unreadable", 7, "1", { 0, 3, 4, 6 }, 5125);
        row("urgent with a missing photo", 3, "Urgente 1", { 1 }, 1975);
    }
    void finalPanelAndScrolling()
    {
        QFETCH(int, photos);
        QFETCH(QString, key);
        QFETCH(QList<int>, missing);
        QFETCH(int, panelHeight);
        QVERIFY(addJob("0", 1, { 60, 40 }));
        QVERIFY(addJob(key, photos, { 60, 40 }));
        showJob(0);
        JobRecord &job = m_window->store.printJobs[1];
        const QByteArray whole = TestPhotos::jpegBytes(60, 40);
        for (int k = 0; k < missing.size(); ++k) {
            const QString file = path("images/" + job.photos[size_t(missing[k])].imageFileName);
            QVERIFY(k == 0
                        ? QFile::remove(file)
                        : writeFile(file, k == 1 ? "" : whole.left(whole.size() / 2) + "\xFF\xD9"));
            if (k == 3)
                job.photos[size_t(missing[k])].imageFileName.clear();
        }
        showJob(1);
        // The file to look for, and why it does not show.
        const char *const why[] = { "não encontrada", "ilegível", "ilegível", "não encontrada" };
        for (int k = 0; k < missing.size(); ++k) {
            const QString tip = job.photos[size_t(missing[k])].imageFileName + ": " + why[k];
            QCOMPARE(viewer().LblQuantidade[missing[k]]->toolTip(), tip);
            QCOMPARE(viewer().PctThumb[missing[k]]->toolTip(), tip);
        }

        // Where the rules below put the first row, and element 1's label and button.
        QCOMPARE((QList<QPoint> { boxPlace(0), boxPlace(1), boxPlace(2), boxPlace(3),
                                  labelPlace(boxPlace(1)), printNowPlace(boxPlace(1)) }),
                 (QList<QPoint> { { 105, 150 },
                                  { 1650, 150 },
                                  { 3195, 150 },
                                  { 105, 1725 },
                                  { 1650, 1175 },
                                  { 2650, 1155 } }));
        const int n = std::min(photos, 1500);
        QCOMPARE(viewer().FraIn->geometry(), twipsRect(120, 105, 4950, panelHeight));
        QCOMPARE(viewer().PctThumb.size(), std::max(n, 1));
        QCOMPARE(viewer().ImgBtAgora.size(), job.urgent ? 1 : std::max(n, 1));
        QCOMPARE(shown(viewer().LblQuantidade[0]), n > 0);
        QCOMPARE(shown(viewer().ImgBtAgora[0]), n > 0 && !job.urgent && !missing.contains(0));
        for (int i = 0; i < n; ++i) {
            const bool found = !missing.contains(i);
            const QPoint box = boxPlace(i);
            // Element 0 keeps its laid-out label and button; the others sit by the rules.
            const QPoint label = i == 0 ? QPoint(120, 1155) : labelPlace(box);
            const QPoint button = i == 0 ? QPoint(1110, 1125) : printNowPlace(box);
            QCOMPARE(viewer().PctThumb[i]->geometry(), twipsRect(box.x(), box.y(), 1515, 975));
            QCOMPARE(viewer().LblQuantidade[i]->geometry(),
                     twipsRect(label.x(), label.y(), 1125, found ? 210 : 420));
            // The small photos also show their resolution, after the copies.
            QCOMPARE(viewer().LblQuantidade[i]->text().section(" · ", 0, 0),
                     found ? "1 cópia" : Missing);
            QCOMPARE(IG_image_is_valid(viewer().thumbImages[size_t(i)]) != 0, found);
            if (!job.urgent) {
                QCOMPARE(viewer().ImgBtAgora[i]->geometry(),
                         twipsRect(button.x(), button.y(), 360, 270));
                QCOMPARE(shown(viewer().ImgBtAgora[i]), found);
            }
        }

        QFETCH(int, downSteps);
        if (downSteps < 0)
            return;
        QList<int> tops;
        for (int16_t scroll : { ScrollNone, ScrollDown }) {
            viewer().thumbScroll = scroll;
            for (int tick = 0; tick < 160; ++tick) {
                const int before = viewer().fraInTop();
                viewer().onTimerThumbTick();
                if (viewer().fraInTop() != before)
                    tops << viewer().fraInTop();
            }
        }
        QList<int> expected;
        for (int step = 1; step <= downSteps; ++step)
            expected << 105 - 980 * step;
        QCOMPARE(tops, expected);
        QFETCH(int, downBall);
        QCOMPARE(viewer().BallThumb->geometry(), twipsRect(5580, downBall, 255, 255));
        QCOMPARE(viewer().FraIn->y(), twipsToPixels(viewer().fraInTop()));
        viewer().thumbScroll = ScrollUp;
        for (int tick = 0; tick < 160; ++tick)
            viewer().onTimerThumbTick();
        QCOMPARE(viewer().fraInTop(), 105);
        QTEST(viewer().ballThumbTop(), "upBall");
    }

    void anotherSelectionWhileDecodingShowsOnlyTheNewJob()
    {
        QVERIFY(addJob("1", 60, { 2400, 1600 }));
        QVERIFY(addJob("2", 3, { 200, 300 }));
        QObject guard;
        quint64 decodesWhenShown = 0;
        connect(&viewer(), &ThumbViewer::thumbnailsShown, &guard,
                [&] { decodesWhenShown = imageDecodeCount(); });
        const quint64 before = imageDecodeCount();
        select(0);
        QVERIFY(viewer().decoding());
        QVERIFY(!IG_image_is_valid(viewer().thumbImages[0]));
        select(1);
        QTRY_VERIFY(decodesWhenShown > 0);
        QVERIFY2(decodesWhenShown - before < 3 + 10, qPrintable(QString::number(decodesWhenShown)));
        QCOMPARE(viewer().PctThumb.size(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(boxShows(i, TestPhotos::quartersAfterTurn(1)));
    }

    // The photos scrolled into view are decoded first; those above are decoded after them.
    void scrollWhileDecodingDrawsEveryBox()
    {
        QVERIFY(addJob("1", 30, { 1200, 800 }));
        select(0);
        QVERIFY(viewer().decoding());
        viewer().thumbScroll = ScrollDown;
        for (int tick = 0; tick < 160; ++tick)
            viewer().onTimerThumbTick();
        settle();
        for (int i = 0; i < 30; ++i)
            QVERIFY(boxShows(i, TestPhotos::Upright));
    }

    void replacedPhotoIsDecodedAgain_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("renamed over it, same size and time") << false;
        QTest::newRow("written again in place, same size and time (cp -p)") << true;
    }
    void replacedPhotoIsDecodedAgain()
    {
        QFETCH(bool, inPlace);
        QVERIFY(addJob("1", 1));
        QVERIFY(addJob("2", 0));
        // The photo upright and upside down, padded to the same size by a comment segment.
        const QImage upright = TestPhotos::quartersImage(300, 200);
        QByteArray versions[] = { TestPhotos::encodeJpeg(upright),
                                  TestPhotos::encodeJpeg(upright.mirrored(true, true)) };
        const qsizetype size = std::max(versions[0].size(), versions[1].size()) + 8;
        for (QByteArray &jpeg : versions) {
            const qsizetype length = size - jpeg.size() - 2;
            jpeg.insert(2,
                        "\xFF\xFE" + QByteArray(1, char(length >> 8)) + char(length)
                            + QByteArray(length - 2, ' '));
        }
        const QString photo = path("images/AB1_0001.jpg");
        QVERIFY(writeFile(photo, versions[0]));
        showJob(0);
        QVERIFY(boxShows(0, TestPhotos::Upright));
        select(1);

        struct stat old
        {
        };
        QCOMPARE(::stat(QFile::encodeName(photo), &old), 0);
        const timespec times[2] = { old.st_atim, old.st_mtim };
        const QString written = inPlace ? photo : photo + ".new";
        QVERIFY(writeFile(written, versions[1]));
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(written), times, 0), 0);
        QVERIFY(inPlace || ::rename(QFile::encodeName(written), QFile::encodeName(photo)) == 0);
        showJob(0);
        QVERIFY(boxShows(0, UpsideDown));
    }

    // Seen once or prepared ahead while idle, a job shows complete at once; the cache keeps to
    // its budget, prepares ahead only into free room and lets the least recently used go.
    void keptThumbnailsShowAtOnceWithinTheBudget_data()
    {
        QTest::addColumn<int>("budgetThumbnails"); // 0: the default budget
        QTest::addColumn<int>("atOnce"); // of the 4 photos on each selection after the first
        QTest::newRow("default budget") << 0 << 4;
        QTest::newRow("room for 6 thumbnails") << 6 << 2;
    }
    void keptThumbnailsShowAtOnceWithinTheBudget()
    {
        QFETCH(int, budgetThumbnails);
        QFETCH(int, atOnce);
        ThumbCache &cache = viewer().thumbCache;
        if (budgetThumbnails)
            cache.setBudget(budgetThumbnails * (100 * 67 * 4 + ThumbCache::EntryOverhead));
        for (const char *key : { "1", "2", "3" })
            QVERIFY(addJob(key, 4, { 300, 200 }));
        // Job 1 decoded and job 2 prepared ahead; job 2 shown, then job 1 from what is left.
        for (const auto &[index, expected] : { std::pair { 0, 0 }, { 1, atOnce }, { 0, atOnce } }) {
            select(index);
            const int valid = int(std::count_if(
                viewer().thumbImages.begin(), viewer().thumbImages.begin() + 4, IG_image_is_valid));
            QCOMPARE(valid, expected);
            QCOMPARE(viewer().decoding(), valid < 4);
            settle();
            QVERIFY(cache.bytesHeld() <= cache.budget());
            const quint64 decodes = imageDecodeCount();
            QVERIFY(boxShows(0, TestPhotos::Upright)); // drawn from what is kept
            QCOMPARE(imageDecodeCount(), decodes);
        }
    }

    void startupAndShutdownReleaseTheThumbnails()
    {
        FIni *w = m_window.get();
        w->load();
        w->Timer1.stop();
        QVERIFY(!shown(viewer().LblQuantidade[0]) && !shown(viewer().ImgBtAgora[0]));
        QVERIFY(shown(viewer().PctThumb[0]));
        QCOMPARE(ImgLstBotoes::picture("bt_agora_on").size(), QSize(24, 18));

        QVERIFY(writeFile(path("jobs/1AB00001.job"), "00001000100001250\r\n00002000100001250\r\n"));
        QVERIFY(TestPhotos::writeJpeg(path("images/AB00001_0001.jpg"), 300, 200));
        QVERIFY(TestPhotos::writeJpeg(path("images/AB00001_0002.jpg"), 300, 200));
        w->onTimer1Tick(); // taken in and shown, as nothing was shown before; photo 1 printed
        settle();
        QCOMPARE(liveImageCount(), 2);
        w->close();
        QCOMPARE(liveImageCount(), 0);
        QCOMPARE(viewer().thumbCache.count(), 0);
        QVERIFY(std::all_of(viewer().thumbImages.begin(), viewer().thumbImages.end(),
                            [](IgHandle h) { return !h; }));
        QVERIFY(viewer().PctThumb.size() == 1 && viewer().LblQuantidade.size() == 1);
    }

    // Print now and the print tick work as at rest while the shown job's photos decode.
    void printNowPrintsAheadAndTheSourceEndsWithoutIt_data()
    {
        QTest::addColumn<bool>("decoding");
        QTest::newRow("at rest") << false;
        QTest::newRow("while the photos decode") << true;
    }
    void printNowPrintsAheadAndTheSourceEndsWithoutIt()
    {
        QFETCH(bool, decoding);
        QVERIFY(addJob("1", 60, { 2400, 1600 }));
        JobRecord &job = m_window->store.printJobs[0];
        for (size_t i = 3; i < job.photos.size(); ++i)
            job.photos[i].printed = 1; // only the first three are left to print
        job.printedCount = 57;
        QVERIFY(showWindow());
        select(0);
        if (!decoding)
            settle();
        FIni *w = m_window.get();
        const auto shownImages = viewer().thumbImages;
        QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(viewer().ImgBtAgora[1]));
        QCOMPARE(entries(), (QStringList { "Urgente 1", "job 1" }));
        QCOMPARE(viewer().decoding(), decoding);
        QVERIFY(decoding || viewer().thumbImages == shownImages); // still the source job

        // The urgent copy prints first; the source job then ends after its two other photos.
        w->onTimer1Tick();
        QCOMPARE(entries(), QStringList { "job 1" });
        settle();
        QVERIFY(std::all_of(viewer().thumbImages.begin(), viewer().thumbImages.begin() + 60,
                            IG_image_is_valid));
        w->onTimer1Tick();
        w->onTimer1Tick();
        QCOMPARE(entries(), QStringList());
        // The queue emptied: the panel cleared, and the next job will be shown.
        QCOMPARE(viewer().thumbCache.count(), 0);
        QCOMPARE(viewer().fraInHeight(), 0);
        QCOMPARE(m_window->store.lastShownIndex, -1);
        QVERIFY(m_port->documents[0].drawn); // the copy made while its photo decoded
    }
};

QTEST_MAIN(TestThumbViewer)
#include "tst_thumbviewer.moc"
