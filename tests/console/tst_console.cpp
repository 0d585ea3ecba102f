#include "FIni.h"
#include "ImageButton.h"
#include "JobRetirement.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "QueueListWidget.h"
#include "RecordingPrinterPort.h"
#include "TestPhotos.h"
#include "ThumbViewer.h"
#include "Twips.h"

#include <QDir>
#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(Qt::MouseButton)

using namespace ThumbLayout;

namespace {

struct Photo
{
    int copies = 1;
    QSize size { 300, 200 }; // empty: no file
    bool emptyName = false;
};

const QString Missing = QStringLiteral("Foto Não encontrada");

} // namespace

// The main window of a station in a temporary folder: the thumbnail viewer's panel, and the
// image buttons driven by the mouse. Mouse events go in through the window, so they reach the
// control under the pointer and a release goes to the control that took the press, as the
// operator's do. Timer ticks are run by hand.
class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void viewerLayout_data();
    void viewerLayout();
    void scrolling_data();
    void scrolling();
    void labelsAndPrintNowButtons();
    void jobsWithoutPhotosAndWithTooMany();
    void thumbnailsAreSmallTurnedAndRepaintedWithoutDecoding();
    void startupButtonsAndShutdown();
    void hoverPictures();
    void pressAndRelease_data();
    void pressAndRelease();
    void removeAsksFirst_data();
    void removeAsksFirst();
    void printNowPrintsAheadAndTheSourceEndsWithoutIt();
    void clickSoundFromBesideTheProgram();

private:
    // Adds "job <key>" (an urgent job: the entry <key>) and writes the photos that have a size.
    void addJob(const QString &key, const QList<Photo> &photos, bool urgent = false);
    void addJob(const QString &key, int count, QSize size = {})
    {
        addJob(key, QList<Photo>(count, Photo { 1, size }));
    }
    void select(int index) { m_window->store.LstJobs.select(index); }
    void showWindow()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    QStringList entries() const
    {
        QStringList texts;
        for (int i = 0; i < m_window->store.LstJobs.count(); ++i)
            texts << m_window->store.LstJobs.text(i);
        return texts;
    }
    ThumbViewer &viewer() const { return *m_window->FraView; }
    bool shown(QWidget *w) const { return w->isVisibleTo(m_window.get()); }
    QWindow *window() const { return m_window->windowHandle(); }
    QPoint centreIn(QWidget *w) const { return w->mapTo(m_window.get(), w->rect().center()); }
    QString path(const QString &relative) const { return m_app->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_app;
    RecordingPrinterPort m_port;
    std::unique_ptr<FIni> m_window;
    const QPoint m_background { 220, 440 }; // bare window below the queue buttons
};

void TestConsole::initTestCase()
{
    m_port.printers = { { QStringLiteral("Kodak"), 300, QSizeF(1800, 1200) } };
    m_port.systemDefault = QStringLiteral("Kodak");
    QLoggingCategory::setFilterRules(QStringLiteral("zelvo.imaging.warning=false"));
}

void TestConsole::init()
{
    m_app = std::make_unique<QTemporaryDir>();
    for (const char *folder : { "jobs", "images", "backup/jobs", "backup/images" })
        QVERIFY(QDir(m_app->path()).mkpath(QString::fromLatin1(folder)));
    QVERIFY(TestPhotos::writeFile(ModConf::settingsFilePath(m_app->path()),
                                  "[General]\nPRINT_ALL=True\n"));
    ModConf::SystemFolder = ModConf::AppPath = m_app->path();
    ModConf::Printer10x15 = QStringLiteral("Kodak");
    ModPrint::setPrinterPort(&m_port);
    m_window = std::make_unique<FIni>(m_port, m_app->path());
    m_window->FraView->TimerThumb.stop();
}

void TestConsole::cleanup()
{
    m_window.reset();
    ModPrint::setPrinterPort(nullptr);
    QCOMPARE(liveImageCount(), 0);
}

void TestConsole::addJob(const QString &key, const QList<Photo> &photos, bool urgent)
{
    JobRecord job;
    job.listKey = key;
    job.fileName = "2AB" + key + ".job";
    job.urgent = urgent;
    job.photoCount = int16_t(photos.size());
    for (int i = 0; i < photos.size(); ++i) {
        PhotoItem item;
        item.copies = int16_t(photos[i].copies);
        if (!photos[i].emptyName)
            item.imageFileName = QStringLiteral("AB%1_%2.jpg").arg(key).arg(i);
        if (!photos[i].size.isEmpty())
            QVERIFY(TestPhotos::writeJpeg(path("images/" + item.imageFileName),
                                          photos[i].size.width(), photos[i].size.height()));
        job.photos.push_back(item);
    }
    JobStore &store = m_window->store;
    store.printJobs.resize(size_t(store.jobCount));
    store.printJobs.push_back(job);
    store.LstJobs.insert(store.jobCount++, urgent ? key : "job " + key);
}

void TestConsole::viewerLayout_data()
{
    QTest::addColumn<int>("photos");
    QTest::addColumn<int>("panelHeight");
    QTest::newRow("4 photos") << 4 << 3550;
    QTest::newRow("12 photos") << 12 << 6700;
    QTest::newRow("30 photos") << 30 << 16150;
}

void TestConsole::viewerLayout()
{
    QFETCH(int, photos);
    QFETCH(int, panelHeight);
    addJob(QStringLiteral("1"), photos);
    select(0);

    QCOMPARE(viewer().fraInHeight(), panelHeight);
    QCOMPARE(viewer().FraIn->geometry(), twipsRect(120, 105, 4950, panelHeight));
    QCOMPARE(viewer().PctThumb.size(), photos);
    const QPoint places[] = { { 105, 150 }, { 1650, 150 }, { 3195, 150 }, { 105, 1725 } };
    for (int i = 0; i < 4; ++i)
        QCOMPARE(viewer().PctThumb[i]->geometry(),
                 twipsRect(places[i].x(), places[i].y(), 1515, 975));
    // Element 0 keeps its laid-out label and button; the others sit by the rules. The
    // photos are missing: double-height labels.
    QCOMPARE(viewer().LblQuantidade[0]->geometry(), twipsRect(120, 1155, 1125, 420));
    QCOMPARE(viewer().ImgBtAgora[0]->geometry(), twipsRect(1110, 1125, 360, 270));
    QCOMPARE(viewer().LblQuantidade[1]->geometry(), twipsRect(1650, 1175, 1125, 420));
    QCOMPARE(viewer().ImgBtAgora[1]->geometry(), twipsRect(2650, 1155, 360, 270));
}

void TestConsole::scrolling_data()
{
    QTest::addColumn<int>("photos");
    QTest::addColumn<QList<int>>("downTops"); // the panel's top after each tick that moved it
    QTest::addColumn<int>("downBall");
    QTest::addColumn<int>("upBall"); // once back at 105

    QList<int> eleven;
    for (int step = 1; step <= 11; ++step)
        eleven << 105 - 980 * step;
    QTest::newRow("12 photos: one step") << 12 << QList<int> { -875 } << 5480 << 1826;
    QTest::newRow("30 photos: 11 steps") << 30 << eleven << 5480 << 1038;
    QTest::newRow("7 photos fit: the ball stays") << 7 << QList<int>() << 1005 << 1005;
}

void TestConsole::scrolling()
{
    QFETCH(int, photos);
    QFETCH(QList<int>, downTops);
    QFETCH(int, downBall);
    QFETCH(int, upBall);
    addJob(QStringLiteral("1"), photos);
    select(0);

    QList<int> tops;
    for (int16_t scroll : { ScrollNone, ScrollDown }) {
        viewer().thumbScroll = scroll;
        for (int tick = 0; tick < 15; ++tick) {
            const int before = viewer().fraInTop();
            viewer().onTimerThumbTick();
            if (viewer().fraInTop() != before)
                tops << viewer().fraInTop();
        }
    }
    QCOMPARE(tops, downTops);
    QCOMPARE(viewer().ballThumbTop(), downBall);
    QCOMPARE(viewer().BallThumb->geometry(), twipsRect(5580, downBall, 255, 255));
    QCOMPARE(viewer().FraIn->y(), twipsToPixels(viewer().fraInTop()));

    viewer().thumbScroll = ScrollUp;
    for (int tick = 0; tick < 15; ++tick)
        viewer().onTimerThumbTick();
    QCOMPARE(viewer().fraInTop(), 105);
    QCOMPARE(viewer().ballThumbTop(), upBall);
}

void TestConsole::labelsAndPrintNowButtons()
{
    // The first job leaves a missing photo's text and double height on element 0.
    addJob(QStringLiteral("1"), QList<Photo> { { 7, {} } });
    addJob(QStringLiteral("2"), { { 1 }, { 2 }, { 12, {} }, { 0 }, { -3 }, { 1, {}, true } });
    addJob(QStringLiteral("Urgente 1"), { { 2 }, { 1, {} } }, true);
    select(0);
    QCOMPARE(viewer().LblQuantidade[0]->text(), Missing);
    select(1);

    // Nothing prints for 0 copies or fewer, and the label says so; an empty file name is the
    // images folder itself, not a photo.
    const QStringList texts { "1 cópia", "2 cópias", Missing, "0 cópias", "0 cópias", Missing };
    for (int i = 0; i < texts.size(); ++i) {
        const bool missing = texts[i] == Missing;
        QCOMPARE(viewer().LblQuantidade[i]->text(), texts[i]);
        QCOMPARE(viewer().LblQuantidade[i]->height(), twipsToPixels(missing ? 420 : 210));
        QCOMPARE(shown(viewer().ImgBtAgora[i]), !missing);
        QCOMPARE(IG_image_is_valid(viewer().thumbImages[size_t(i)]) != 0, !missing);
        QCOMPARE(viewer().ImgBtAgora[i]->toolTip(), QStringLiteral("Imprimir agora"));
    }

    select(2); // urgent: no print-now button at all
    QCOMPARE(viewer().ImgBtAgora.size(), 1);
    QVERIFY(!shown(viewer().ImgBtAgora[0]));
    QCOMPARE(viewer().LblQuantidade[1]->text(), Missing);
}

void TestConsole::jobsWithoutPhotosAndWithTooMany()
{
    addJob(QStringLiteral("1"), 1501);
    addJob(QStringLiteral("2"), 0);
    select(0);
    QCOMPARE(viewer().PctThumb.size(), 1500);
    QCOMPARE(viewer().fraInHeight(), 500 * 1575 + 400);

    // No photos: an empty panel, not the previous job's label and button.
    select(1);
    QCOMPARE(viewer().fraInHeight(), 400);
    QCOMPARE(viewer().PctThumb.size(), 1);
    QVERIFY(!shown(viewer().LblQuantidade[0]) && !shown(viewer().ImgBtAgora[0]));

    // The queue emptied: the panel is cleared and the next job will be shown.
    RetireJob(m_window->store, 1, m_app->path());
    RetireJob(m_window->store, 0, m_app->path());
    QCOMPARE(viewer().fraInHeight(), 0);
    QCOMPARE(m_window->store.lastShownIndex, -1);
}

void TestConsole::thumbnailsAreSmallTurnedAndRepaintedWithoutDecoding()
{
    addJob(QStringLiteral("1"), { { 1, { 3000, 2000 } }, { 1, { 2000, 3000 } } });
    addJob(QStringLiteral("2"), 1, { 300, 200 });
    select(0);
    const quint64 decodes = imageDecodeCount();
    const QList<QColor> quarters[] = { TestPhotos::Upright, TestPhotos::quartersAfterTurn(1) };
    for (int i = 0; i < 2; ++i) {
        const qint64 held = imagePixelBytesHeld(viewer().thumbImages[size_t(i)]);
        QVERIFY2(held > 0 && held <= 100 * 67 * 4, qPrintable(QString::number(held)));
        // Drawn into 0,0,99,66 of the box, the portrait photo turned.
        const QImage box = viewer().PctThumb[i]->grab().toImage();
        const QPoint centres[] = { { 25, 16 }, { 75, 16 }, { 25, 50 }, { 75, 50 } };
        for (int q = 0; q < 4; ++q)
            QVERIFY(TestPhotos::near(box.pixelColor(centres[q]), quarters[i][q]));
    }
    QCOMPARE(imageDecodeCount(), decodes); // the repaints only drew

    select(1); // the next rebuild releases every image of this one
    QCOMPARE(liveImageCount(), 1);
}

void TestConsole::startupButtonsAndShutdown()
{
    FIni *w = m_window.get();
    w->load();
    w->Timer1.stop();
    QVERIFY(!shown(viewer().LblQuantidade[0]) && !shown(viewer().ImgBtAgora[0]));
    QVERIFY(shown(viewer().PctThumb[0]));

    const QList<std::tuple<ImageButton *, int, const char *, const char *>> buttons {
        { w->ImgBtFirst, 930, "bt_first_off", "Mover job para o início da lista" },
        { w->ImgBtUp, 1810, "bt_up_off", "Mover job para cima" },
        { w->ImgBtDown, 2690, "bt_down_off", "Mover job para baixo" },
        { w->ImgBtLast, 3570, "bt_last_off", "Mover job para o final da lista" },
        { w->ImgBtCancel, 4815, "bt_cancel_off", "Remover Job" },
    };
    for (const auto &[button, top, picture, toolTip] : buttons) {
        QCOMPARE(button->geometry(), twipsRect(3000, top, 600, 600));
        QCOMPARE(button->picture().toImage(), ImgLstBotoes::picture(picture).toImage());
        QCOMPARE(button->toolTip(), QString::fromUtf8(toolTip));
    }
    QCOMPARE(ImgLstBotoes::picture(QStringLiteral("bt_agora_on")).size(), QSize(24, 18));
    QCOMPARE(viewer().ImgBtThumbUp->toolTip(), QString());

    QVERIFY(TestPhotos::writeFile(path("jobs/1AB00001.job"),
                                  "00001000100001250\r\n00002000100001250\r\n"));
    QVERIFY(TestPhotos::writeJpeg(path("images/AB00001_0001.jpg"), 300, 200));
    QVERIFY(TestPhotos::writeJpeg(path("images/AB00001_0002.jpg"), 300, 200));
    w->onTimer1Tick(); // taken in and shown, as nothing was shown before; photo 1 printed
    QCOMPARE(liveImageCount(), 2);
    w->close();
    QCOMPARE(liveImageCount(), 0);
    QVERIFY(std::all_of(viewer().thumbImages.begin(), viewer().thumbImages.end(),
                        [](IgHandle h) { return !h; }));
    QVERIFY(viewer().PctThumb.size() == 1 && viewer().LblQuantidade.size() == 1);
}

void TestConsole::hoverPictures()
{
    addJob(QStringLiteral("1"), 9, { 300, 200 });
    select(0);
    showWindow();
    FIni *w = m_window.get();
    ThumbViewer *v = w->FraView;

    QTest::mouseMove(window(), centreIn(w->ImgBtUp));
    QTest::mouseMove(window(), centreIn(w->LstJobs->viewport())); // neither the list
    QTest::mouseMove(window(), centreIn(w->Label2)); // nor a label resets
    QCOMPARE(w->ImgBtUp->pictureKey(), QStringLiteral("bt_up_on"));
    QTest::mouseMove(window(), centreIn(w->ImgBtLast));
    QTest::mouseMove(window(), m_background);
    for (ImageButton *b : { w->ImgBtFirst, w->ImgBtUp, w->ImgBtDown, w->ImgBtLast, w->ImgBtCancel })
        QVERIFY2(b->pictureKey().endsWith(QLatin1String("_off")), qPrintable(b->pictureKey()));

    // Print-now buttons light one at a time; a box or the bare panel puts all of them off.
    const auto lit = [v] {
        QList<int> on;
        for (int i = 0; i < v->ImgBtAgora.size(); ++i) {
            if (v->ImgBtAgora[i]->pictureKey() == QLatin1String("bt_agora_on"))
                on << i;
        }
        return on;
    };
    const QList<QWidget *> overs { v->ImgBtAgora[4], v->ImgBtAgora[8], v->LblQuantidade[8] };
    for (QWidget *over : overs)
        QTest::mouseMove(window(), centreIn(over));
    QCOMPARE(lit(), (QList<int> { 4, 8 }));
    QTest::mouseMove(window(), centreIn(v->PctThumb[2]));
    QCOMPARE(lit(), QList<int>());
    QTest::mouseMove(window(), centreIn(v->ImgBtAgora[0]));
    QTest::mouseMove(window(), v->FraIn->mapTo(w, QPoint(v->FraIn->width() - 3, 3)));
    QCOMPARE(lit(), QList<int>());

    QTest::mouseMove(window(), centreIn(v->ImgBtThumbDown)); // lit only while pressed
    QCOMPARE(v->ImgBtThumbDown->pictureKey(), QStringLiteral("bt_down_off"));
}

void TestConsole::pressAndRelease_data()
{
    QTest::addColumn<Qt::MouseButton>("mouseButton");
    QTest::newRow("left") << Qt::LeftButton;
    QTest::newRow("right") << Qt::RightButton;
    QTest::newRow("middle") << Qt::MiddleButton;
}

void TestConsole::pressAndRelease()
{
    QFETCH(Qt::MouseButton, mouseButton);
    addJob(QStringLiteral("1"), 12);
    addJob(QStringLiteral("2"), 1);
    select(0);
    showWindow();
    FIni *w = m_window.get();

    // The command runs on release, also away from the button that took the press.
    QTest::mousePress(window(), mouseButton, {}, centreIn(w->ImgBtDown));
    QCOMPARE(w->ImgBtDown->pictureKey(), QStringLiteral("bt_down_on"));
    QCOMPARE(entries(), (QStringList { "job 1", "job 2" }));
    QTest::mouseMove(window(), m_background);
    QTest::mouseRelease(window(), mouseButton, {}, m_background);
    QCOMPARE(w->ImgBtDown->pictureKey(), QStringLiteral("bt_down_off"));
    QCOMPARE(entries(), (QStringList { "job 2", "job 1" }));
    QCOMPARE(w->LstJobs->currentRow(), 1);

    // A held scroll button steps the panel on each tick until it is let go.
    QTest::mousePress(window(), mouseButton, {}, centreIn(viewer().ImgBtThumbDown));
    QCOMPARE(viewer().ImgBtThumbDown->pictureKey(), QStringLiteral("bt_down_on"));
    viewer().onTimerThumbTick();
    QCOMPARE(viewer().fraInTop(), -875);
    QTest::mouseRelease(window(), mouseButton, {}, m_background);
    QCOMPARE(viewer().ImgBtThumbDown->pictureKey(), QStringLiteral("bt_down_off"));
    QCOMPARE(int(viewer().thumbScroll), 0);
}

void TestConsole::removeAsksFirst_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("removed");
    QTest::newRow("yes") << QMessageBox::Yes << 1 << true;
    QTest::newRow("no") << QMessageBox::No << 1 << false;
    QTest::newRow("cancel") << QMessageBox::Cancel << 1 << false;
    QTest::newRow("yes without selection") << QMessageBox::Yes << -1 << false;
}

void TestConsole::removeAsksFirst()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, selected);
    QFETCH(bool, removed);
    addJob(QStringLiteral("1"), 1);
    addJob(QStringLiteral("2"), 1, { 300, 200 });
    showWindow();
    select(selected);
    FIni *w = m_window.get();
    QStringList asked; // the button's picture when the question comes up
    w->confirmRemove = [&] {
        asked << w->ImgBtCancel->pictureKey();
        return answer;
    };
    QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(w->ImgBtCancel));
    QCOMPARE(asked, QStringList { QStringLiteral("bt_cancel_off") });
    QCOMPARE(entries().size(), removed ? 1 : 2);
    QCOMPARE(QFile::exists(path("backup/images/AB2_0.jpg")), removed);

    std::unique_ptr<QMessageBox> box(FIni::makeRemoveBox(w));
    QCOMPARE(box->text(),
             QStringLiteral("Atenção! O job selecionado será removido da lista de "
                            "impressão. Você confirma a remoção ?"));
    QCOMPARE(box->windowTitle(), QStringLiteral("Erro de Impressão"));
    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
}

void TestConsole::printNowPrintsAheadAndTheSourceEndsWithoutIt()
{
    addJob(QStringLiteral("1"), 3, { 300, 200 });
    select(0);
    showWindow();
    FIni *w = m_window.get();
    const auto shownImages = viewer().thumbImages;

    QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(viewer().ImgBtAgora[1]));
    QCOMPARE(entries(), (QStringList { "Urgente 1", "job 1" }));
    QCOMPARE(w->LstJobs->currentRow(), 1);
    QVERIFY(viewer().thumbImages == shownImages); // the viewer still shows the source job

    // The urgent copy prints first; the source job then ends after its two other photos.
    const QList<QStringList> afterTicks { { "job 1" }, { "job 1" }, {} };
    for (const QStringList &expected : afterTicks) {
        w->onTimer1Tick();
        QCOMPARE(entries(), expected);
    }
    QVERIFY(QFile::exists(path("backup/images/AB1_1u0.jpg")));
    QVERIFY(QFile::exists(path("backup/images/AB1_2.jpg")));
}

void TestConsole::clickSoundFromBesideTheProgram()
{
    addJob(QStringLiteral("1"), 1);
    addJob(QStringLiteral("2"), 1);
    select(0);
    showWindow();
    FIni *w = m_window.get();
    // No sounds folder: silence, and the button works as ever.
    QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(w->ImgBtLast));
    QCOMPARE(w->clickSound.source(), QString());
    QCOMPARE(entries(), (QStringList { "job 2", "job 1" }));

    QVERIFY(QDir(m_app->path()).mkpath(QStringLiteral("sounds")));
    QVERIFY(QFile::copy(QStringLiteral(ZELVO_CLICK_WAV), path("sounds/keypress.wav")));
    QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(w->ImgBtFirst));
    QCOMPARE(w->clickSound.source(), path("sounds/keypress.wav"));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
