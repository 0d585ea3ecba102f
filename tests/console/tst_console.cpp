#include "FConf.h"
#include "FIni.h"
#include "ImageButton.h"
#include "JobIntake.h"
#include "JobRetirement.h"
#include "JobsTestSupport.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "NextModal.h"
#include "QueueListWidget.h"
#include "RecordingPrinterPort.h"
#include "TestPhotos.h"
#include "ThumbViewer.h"
#include "Translations.h"
#include "Twips.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(Qt::MouseButton)

using namespace ThumbLayout;

static const QString Missing = QStringLiteral("Foto Não encontrada");

// The main window of a station in a temporary folder: the queue list, the thumbnail viewer and
// the image buttons. Mouse events go in through the window, so they reach the control under the
// pointer and a release goes to the control that took the press, as the operator's do. Timer
// ticks are run by hand.
class TestConsole : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_app;
    RecordingPrinterPort m_port { QList<RecordingPrinterPort::Printer> { { "Kodak" } } };
    std::unique_ptr<FIni> m_window;
    const QPoint m_background { 220, 440 }; // bare window below the queue buttons

    // Adds job `key` (see appendJob); its photos are written at `size`, or missing without one.
    void addJob(const QString &key, int photos, QSize size = {})
    {
        for (const PhotoItem &photo :
             appendJob(m_window->store, key, photos, m_app->path()).photos) {
            if (!size.isEmpty())
                QVERIFY(TestPhotos::writeJpeg(path("images/" + photo.imageFileName), size.width(),
                                              size.height()));
        }
    }
    void select(int index) { m_window->store.LstJobs.select(index); }
    void showWindow()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    QStringList entries() const { return entryTexts(m_window->store.LstJobs); }
    ThumbViewer &viewer() const { return *m_window->FraView; }
    bool shown(QWidget *w) const { return w->isVisibleTo(m_window.get()); }
    QWindow *window() const { return m_window->windowHandle(); }
    QPoint centreIn(QWidget *w) const { return w->mapTo(m_window.get(), w->rect().center()); }
    QString path(const QString &relative) const { return m_app->filePath(relative); }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("zelvo.imaging.warning=false");
        QVERIFY(installQtTranslations(*QCoreApplication::instance()));
    }

    void init()
    {
        m_app = std::make_unique<QTemporaryDir>();
        QVERIFY(CreateFolderLayout(m_app->path()));
        QVERIFY(writeFile(ModConf::settingsFilePath(m_app->path()), "[General]\nPRINT_ALL=True\n"));
        ModConf::SystemFolder = ModConf::AppPath = m_app->path();
        ModConf::Printer10x15 = "Kodak";
        ModPrint::setPrinterPort(&m_port);
        m_port.documents.clear();
        m_window = std::make_unique<FIni>(m_port, m_app->path());
        m_window->FraView->TimerThumb.stop();
    }

    void cleanup()
    {
        m_window.reset();
        ModPrint::setPrinterPort(nullptr);
        QCOMPARE(liveImageCount(), 0);
    }

    void viewerLayoutAndScrolling_data()
    {
        QTest::addColumn<int>("photos");
        QTest::addColumn<int>("panelHeight");
        QTest::addColumn<int>("downSteps"); // of 980 twips, from 105
        QTest::addColumn<int>("downBall");
        QTest::addColumn<int>("upBall"); // once back at 105
        QTest::newRow("4 photos fit") << 4 << 3550 << 0 << 1005 << 1005;
        QTest::newRow("12 photos: one step") << 12 << 6700 << 1 << 5480 << 1826;
        QTest::newRow("30 photos: 11 steps") << 30 << 16150 << 11 << 5480 << 1038;
        QTest::newRow("63 photos: stops 100 twips short") << 63 << 33475 << 28 << 5607 << 1008;
        QTest::newRow("298 photos: the ball just at the track's end")
            << 298 << 157900 << 155 << 5610 << 993;
    }
    void viewerLayoutAndScrolling()
    {
        QFETCH(int, photos);
        QFETCH(int, panelHeight);
        addJob("1", photos);
        select(0);
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
        QFETCH(int, downSteps);
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

    void labelsAndPrintNowButtons()
    {
        addJob("1", 1); // leaves a missing photo's text and double height on element 0
        addJob("2", 7, { 300, 200 });
        addJob("Urgente 1", 2, { 300, 200 });
        std::vector<PhotoItem> &photos = m_window->store.printJobs[1].photos;
        const int copies[] = { 1, 2, 12, 0, -3, 1, 1 };
        for (size_t i = 0; i < photos.size(); ++i)
            photos[i].copies = int16_t(copies[i]);
        QVERIFY(QFile::remove(path("images/AB2_0003.jpg")));
        photos[5].imageFileName.clear(); // the images folder itself, not a photo
        // Whole in structure, cut short in its data: it loads but cannot be decoded.
        const QByteArray whole = TestPhotos::jpegBytes(300, 200);
        QVERIFY(
            writeFile(path("images/AB2_0007.jpg"), whole.left(whole.size() * 6 / 10) + "\xFF\xD9"));
        QVERIFY(QFile::remove(path("images/ABUrgente 1_0002.jpg")));
        select(0);
        QCOMPARE(viewer().LblQuantidade[0]->text(), Missing);
        select(1);

        // Nothing prints for 0 copies or fewer, and the label says so.
        const QStringList texts { "1 cópia",  "2 cópias", Missing, "0 cópias",
                                  "0 cópias", Missing,    Missing };
        for (int i = 0; i < texts.size(); ++i) {
            const bool missing = texts[i] == Missing;
            QCOMPARE(viewer().LblQuantidade[i]->text(), texts[i]);
            QCOMPARE(viewer().LblQuantidade[i]->height(), twipsToPixels(missing ? 420 : 210));
            QCOMPARE(shown(viewer().ImgBtAgora[i]), !missing);
            QCOMPARE(IG_image_is_valid(viewer().thumbImages[size_t(i)]) != 0, !missing);
        }

        select(2); // urgent: no print-now button at all
        QCOMPARE(viewer().ImgBtAgora.size(), 1);
        QVERIFY(!shown(viewer().ImgBtAgora[0]));
        QCOMPARE(viewer().LblQuantidade[1]->text(), Missing);
    }

    void jobsWithoutPhotosAndWithTooMany()
    {
        addJob("1", 1501);
        addJob("2", 0);
        select(0);
        QCOMPARE(viewer().PctThumb.size(), 1500);

        // No photos: an empty panel, not the previous job's label and button.
        select(1);
        QCOMPARE(viewer().fraInHeight(), 400);
        QCOMPARE(viewer().PctThumb.size(), 1);
        QVERIFY(!shown(viewer().LblQuantidade[0]) && !shown(viewer().ImgBtAgora[0]));

        // The queue emptied: the panel is cleared and the next job will be shown.
        RetireJob(m_window->store, 1);
        RetireJob(m_window->store, 0);
        QCOMPARE(viewer().fraInHeight(), 0);
        QCOMPARE(m_window->store.lastShownIndex, -1);
    }

    void thumbnailsAreSmallTurnedAndRepaintedWithoutDecoding()
    {
        addJob("1", 2, { 3000, 2000 });
        QVERIFY(TestPhotos::writeJpeg(path("images/AB1_0002.jpg"), 2000, 3000));
        addJob("2", 1, { 300, 200 });
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
        QCOMPARE(liveImageCount(), 2);
        w->close();
        QCOMPARE(liveImageCount(), 0);
        QVERIFY(std::all_of(viewer().thumbImages.begin(), viewer().thumbImages.end(),
                            [](IgHandle h) { return !h; }));
        QVERIFY(viewer().PctThumb.size() == 1 && viewer().LblQuantidade.size() == 1);
    }

    // LstJobs shows the queue list: its entries and selection follow the list, and a click or a
    // key selects in it.
    void queueListWidgetMirrorsTheList()
    {
        for (const char *key : { "1", "2", "3" })
            addJob(key, 1);
        showWindow();
        QStringList shown;
        m_window->store.showJobThumbnails = [&](const QString &key) { shown << key; };
        QListWidget *list = m_window->LstJobs;
        const QPoint third = list->visualItemRect(list->item(2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third); // no change: no reload
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(shown, (QStringList { "3", "2" }));
        m_window->store.LstJobs.insert(0, "Urgente 1"); // the selection moves with its entry
        QCOMPARE(list->item(0)->text(), "Urgente 1");
        QCOMPARE(list->currentRow(), 2);
        m_window->store.LstJobs.remove(2); // the selected entry: none selected
        QCOMPARE(list->count(), 3);
        QVERIFY(list->currentRow() == -1 && list->selectedItems().isEmpty());
    }

    void hoverPictures()
    {
        addJob("1", 9, { 300, 200 });
        select(0);
        showWindow();
        FIni *w = m_window.get();
        ThumbViewer *v = w->FraView;
        QTest::mouseMove(window(), centreIn(w->ImgBtUp));
        QTest::mouseMove(window(), centreIn(w->LstJobs->viewport())); // neither the list
        QTest::mouseMove(window(), centreIn(w->Label2)); // nor a label resets
        QCOMPARE(w->ImgBtUp->pictureKey(), "bt_up_on");
        QTest::mouseMove(window(), centreIn(w->ImgBtLast));
        QTest::mouseMove(window(), m_background);
        for (ImageButton *b :
             { w->ImgBtFirst, w->ImgBtUp, w->ImgBtDown, w->ImgBtLast, w->ImgBtCancel })
            QVERIFY2(b->pictureKey().endsWith("_off"), qPrintable(b->pictureKey()));

        // Print-now buttons light one at a time; a box or the bare panel puts all of them off.
        const auto lit = [v] {
            QList<int> on;
            for (int i = 0; i < v->ImgBtAgora.size(); ++i) {
                if (v->ImgBtAgora[i]->pictureKey() == "bt_agora_on")
                    on << i;
            }
            return on;
        };
        for (QWidget *over :
             QList<QWidget *> { v->ImgBtAgora[4], v->ImgBtAgora[8], v->LblQuantidade[8] })
            QTest::mouseMove(window(), centreIn(over));
        QCOMPARE(lit(), (QList<int> { 4, 8 }));
        QTest::mouseMove(window(), centreIn(v->PctThumb[2]));
        QCOMPARE(lit(), QList<int>());
        QTest::mouseMove(window(), centreIn(v->ImgBtAgora[0]));
        QTest::mouseMove(window(), v->FraIn->mapTo(w, QPoint(v->FraIn->width() - 3, 3)));
        QCOMPARE(lit(), QList<int>());

        QTest::mouseMove(window(), centreIn(v->ImgBtThumbDown)); // lit only while pressed
        QCOMPARE(v->ImgBtThumbDown->pictureKey(), "bt_down_off");
    }

    void pressAndRelease_data()
    {
        QTest::addColumn<Qt::MouseButton>("mouseButton");
        QTest::newRow("left") << Qt::LeftButton;
        QTest::newRow("right") << Qt::RightButton;
    }
    void pressAndRelease()
    {
        QFETCH(Qt::MouseButton, mouseButton);
        addJob("1", 12);
        addJob("2", 1);
        select(0);
        showWindow();
        FIni *w = m_window.get();

        // The command runs on release, also away from the button that took the press.
        QTest::mousePress(window(), mouseButton, {}, centreIn(w->ImgBtDown));
        QCOMPARE(w->ImgBtDown->pictureKey(), "bt_down_on");
        QCOMPARE(entries(), (QStringList { "job 1", "job 2" }));
        QTest::mouseMove(window(), m_background);
        QTest::mouseRelease(window(), mouseButton, {}, m_background);
        QCOMPARE(w->ImgBtDown->pictureKey(), "bt_down_off");
        QCOMPARE(entries(), (QStringList { "job 2", "job 1" }));
        QCOMPARE(w->LstJobs->currentRow(), 1);
        QCOMPARE(w->clickSound.source(), QString()); // no sounds folder: silence

        // A held scroll button steps the panel on each tick until it is let go.
        QTest::mousePress(window(), mouseButton, {}, centreIn(viewer().ImgBtThumbDown));
        QCOMPARE(viewer().ImgBtThumbDown->pictureKey(), "bt_down_on");
        viewer().onTimerThumbTick();
        QCOMPARE(viewer().fraInTop(), -875);
        QTest::mouseRelease(window(), mouseButton, {}, m_background);
        QCOMPARE(viewer().ImgBtThumbDown->pictureKey(), "bt_down_off");
        QCOMPARE(int(viewer().thumbScroll), ScrollNone);
    }

    void messageBoxesLookAsDescribed()
    {
        std::unique_ptr<QMessageBox> remove(FIni::makeRemoveBox(nullptr));
        QCOMPARE(remove->windowTitle(), "Erro de Impressão");
        QCOMPARE(remove->text(),
                 "Atenção! O job selecionado será removido da lista de impressão. "
                 "Você confirma a remoção ?");
        QCOMPARE(remove->standardButtons(),
                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(remove->defaultButton(),
                 static_cast<QPushButton *>(remove->button(QMessageBox::Yes)));
        std::unique_ptr<QMessageBox> check(FConf::makeMessageBox("m", nullptr));
        QCOMPARE(check->windowTitle(), "Zelvo");
        QCOMPARE(check->standardButtons(), QMessageBox::Ok);
        for (QMessageBox *box : { remove.get(), check.get() })
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
    }

    void removeAsksFirst_data()
    {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("tickWhileAsked");
        QTest::addColumn<QStringList>("left");
        const QStringList both { "job 1", "job 2" };
        QTest::newRow("yes") << QMessageBox::Yes << 1 << false << QStringList { "job 1" };
        QTest::newRow("no") << QMessageBox::No << 1 << false << both;
        QTest::newRow("yes without selection") << QMessageBox::Yes << -1 << false << both;
        // Run at once, the tick would print and retire job 1, and Yes would take job 2.
        QTest::newRow("yes, a tick falls due meanwhile")
            << QMessageBox::Yes << 0 << true << QStringList { "job 2" };
    }
    void removeAsksFirst()
    {
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(int, selected);
        QFETCH(bool, tickWhileAsked);
        addJob("1", 1, { 300, 200 });
        addJob("2", 2, { 300, 200 });
        showWindow();
        select(selected);
        FIni *w = m_window.get();
        QSignalSpy ticks(&w->Timer1, &QTimer::timeout);
        QString picture; // the button's when the question comes up
        QStringList buttons;
        answerNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            picture = w->ImgBtCancel->pictureKey();
            for (QMessageBox::StandardButton b :
                 { QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel })
                buttons << box->button(b)->text().remove('&');
            if (tickWhileAsked) {
                w->Timer1.start(10);
                ticks.wait();
                w->Timer1.stop();
            }
            QTest::mouseClick(box->button(answer), Qt::LeftButton);
        });
        QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(w->ImgBtCancel));
        QCOMPARE(picture, "bt_cancel_off");
        QCOMPARE(buttons, (QStringList { "Sim", "Não", "Cancelar" }));
        QTEST(entries(), "left");
        // Nothing printed under the box; the tick held back ran once the answer was acted on.
        QCOMPARE(m_port.noted(&RecordingPrinterPort::Document::title),
                 tickWhileAsked ? QStringList { "Zelvo AB2_0001.jpg" } : QStringList());
        QCOMPARE(QFile::exists(path("backup/images/AB2_0002.jpg")), !entries().contains("job 2"));
    }

    // The highlight cannot be cleared, so it always shows the job the commands act on.
    void highlightIsTheJobTheCommandsMove_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("belowTheRows");
        QTest::newRow("Ctrl+click on the selected row")
            << Qt::KeyboardModifiers(Qt::ControlModifier) << false;
        QTest::newRow("click below the last row") << Qt::KeyboardModifiers() << true;
    }
    void highlightIsTheJobTheCommandsMove()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, belowTheRows);
        for (const char *key : { "1", "2", "3" })
            addJob(key, 1);
        showWindow();
        QListWidget *list = m_window->LstJobs;
        const QPoint second = list->visualItemRect(list->item(1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          belowTheRows ? QPoint(second.x(), list->viewport()->height() - 3)
                                       : second);
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *> { list->item(1) });
        QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(m_window->ImgBtDown));
        QCOMPARE(entries(), (QStringList { "job 1", "job 3", "job 2" }));
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *> { list->item(2) });
    }

    // Jobs queued when Setup saves another system folder print their own photos and retire
    // into their own folder; new jobs come from the new one.
    void queuedJobsKeepTheirSystemFolderAcrossSetup()
    {
        addJob("1", 2, { 300, 200 });
        addJob("2", 1, { 300, 200 });
        select(0);
        showWindow();
        QTemporaryDir other;
        answerNextModal([&](QWidget *modal) {
            auto *conf = qobject_cast<FConf *>(modal);
            conf->txtDir->setText(other.path());
            for (QComboBox *c : { conf->comboPrinter1, conf->comboPrinter2, conf->comboPrinter3 })
                c->setCurrentIndex(0);
            QTest::mouseClick(conf->CmdSave, Qt::LeftButton);
        });
        QTest::mouseClick(m_window->LblSetup, Qt::LeftButton, {}, QPoint(5, 5));
        m_window->Timer1.stop();
        QCOMPARE(ModConf::SystemFolder, other.path());
        QVERIFY(writeFile(other.filePath("jobs/1CD00009.job"), jobText(1)));
        QVERIFY(TestPhotos::writeJpeg(other.filePath("images/CD00009_0001.jpg"), 300, 200));
        select(1);
        QCOMPARE(viewer().LblQuantidade[0]->text(), "1 cópia");

        for (int tick = 0; tick < 4; ++tick)
            m_window->onTimer1Tick();
        QCOMPARE(entries(), QStringList());
        const auto &printed = m_port.documents;
        QCOMPARE(std::count_if(printed.begin(), printed.end(), [](auto &d) { return d.drawn; }), 4);
        QCOMPARE(filesIn(path("backup/images")),
                 (QStringList { "AB1_0001.jpg", "AB1_0002.jpg", "AB2_0001.jpg" }));
        QCOMPARE(filesIn(other.filePath("backup/images")), QStringList { "CD00009_0001.jpg" });
    }

    void printNowPrintsAheadAndTheSourceEndsWithoutIt()
    {
        addJob("1", 3, { 300, 200 });
        select(0);
        showWindow();
        FIni *w = m_window.get();
        const auto shownImages = viewer().thumbImages;
        QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(viewer().ImgBtAgora[1]));
        QCOMPARE(entries(), (QStringList { "Urgente 1", "job 1" }));
        QVERIFY(viewer().thumbImages == shownImages); // the viewer still shows the source job

        // The urgent copy prints first; the source job then ends after its two other photos.
        for (const QStringList &expected : QList<QStringList> { { "job 1" }, { "job 1" }, {} }) {
            w->onTimer1Tick();
            QCOMPARE(entries(), expected);
        }
        QVERIFY(QFile::exists(path("backup/images/AB1_0002u0.jpg")));
        QVERIFY(QFile::exists(path("backup/images/AB1_0003.jpg")));
    }

    // Without a sounds folder every other test here clicks in silence.
    void clickSoundFromBesideTheProgram()
    {
        showWindow();
        QVERIFY(QDir(m_app->path()).mkpath("sounds"));
        QVERIFY(QFile::copy(ZELVO_CLICK_WAV, path("sounds/keypress.wav")));
        QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(m_window->ImgBtFirst));
        QCOMPARE(m_window->clickSound.source(), path("sounds/keypress.wav"));
    }
};

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
