#include "ConsoleFixture.h"
#include "FConf.h"
#include "ImageButton.h"
#include "NextModal.h"
#include "PrinterStrip.h"
#include "QueueListWidget.h"
#include "Translations.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextDocument>

Q_DECLARE_METATYPE(Qt::MouseButton)

using namespace ThumbLayout;

// The main window's queue list, image buttons, message boxes and Setup, driven by the mouse.
class TestConsole : public QObject, ConsoleFixture
{
    Q_OBJECT

    const QPoint m_background { 220, 440 }; // bare window below the queue buttons

    // Clicks Remove and, once `meanwhile` has looked at the box that asks, `answer` in it.
    void answerRemoveBox(QMessageBox::StandardButton answer,
                         const std::function<void(QMessageBox *)> &meanwhile)
    {
        answerNextModal([=](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            meanwhile(box);
            QTest::mouseClick(box->button(answer), Qt::LeftButton);
        });
        click(m_window->ImgBtCancel);
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("zelvo.imaging.warning=false");
        QVERIFY(installQtTranslations(*QCoreApplication::instance()));
    }

    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // LstJobs shows the queue list: its entries and selection follow the list, and a click or a
    // key selects in it.
    void queueListWidgetMirrorsTheList()
    {
        for (const char *key : { "1", "2", "3" })
            QVERIFY(addJob(key, 1));
        QVERIFY(showWindow());
        QStringList shown;
        m_window->store.showJobThumbnails = [&](const QString &key) { shown << key; };
        QListWidget *list = m_window->LstJobs;
        const QPoint third = list->visualItemRect(list->item(2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third); // no change: no reload
        QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Up); // up to the first entry
        QCOMPARE(shown, (QStringList { "3", "2", "1" }));
        m_window->store.LstJobs.insert(0, "Urgente 1"); // the selection moves with its entry
        QCOMPARE(list->item(0)->text(), "Urgente 1");
        QCOMPARE(list->currentRow(), 1);
        m_window->store.LstJobs.remove(1); // the selected entry: none selected
        QCOMPARE(list->count(), 3);
        QVERIFY(list->currentRow() == -1 && list->selectedItems().isEmpty());
    }

    void hoverPictures()
    {
        QVERIFY(addJob("1", 9, { 300, 200 }));
        select(0);
        QVERIFY(showWindow());
        FIni *w = m_window.get();
        ThumbViewer *v = w->FraView;
        hover(w->ImgBtUp);
        hover(w->LstJobs->viewport()); // neither the list
        hover(w->Label2); // nor a label resets
        QCOMPARE(w->ImgBtUp->pictureKey(), "bt_up_on");
        hover(w->ImgBtLast);
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
            hover(over);
        QCOMPARE(lit(), (QList<int> { 4, 8 }));
        hover(v->PctThumb[2]);
        QCOMPARE(lit(), QList<int>());
        hover(v->ImgBtAgora[0]);
        QTest::mouseMove(window(), v->FraIn->mapTo(w, QPoint(v->FraIn->width() - 3, 3)));
        QCOMPARE(lit(), QList<int>());

        hover(v->ImgBtThumbDown); // lit only while pressed
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
        QVERIFY(addJob("1", 12));
        QVERIFY(addJob("2", 1));
        select(0);
        QVERIFY(showWindow());
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
        // What decodes first: the first row still shows after one step down, not after two.
        QCOMPARE(firstVisiblePhoto(viewer().fraInTop()), 0);
        QCOMPARE(firstVisiblePhoto(viewer().fraInTop() - 980), 3);
        QTest::mouseRelease(window(), mouseButton, {}, m_background);
        QCOMPARE(viewer().ImgBtThumbDown->pictureKey(), "bt_down_off");
        QCOMPARE(int(viewer().thumbScroll), ScrollNone);
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
        QVERIFY(addJob("1", 1, { 300, 200 }));
        QVERIFY(addJob("2", 2, { 300, 200 }));
        QVERIFY(showWindow());
        select(selected);
        FIni *w = m_window.get();
        QSignalSpy ticks(&w->Timer1, &QTimer::timeout);
        QString picture; // the button's when the question comes up
        QStringList look; // the box's title, text and buttons
        bool plain = false; // no icon, three buttons, Yes the default, no markup
        answerRemoveBox(answer, [&](QMessageBox *box) {
            picture = w->ImgBtCancel->pictureKey();
            look << box->windowTitle() << box->text() << box->informativeText();
            for (QMessageBox::StandardButton b :
                 { QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel })
                look << box->button(b)->text().remove('&');
            plain = box->icon() == QMessageBox::NoIcon && box->buttons().size() == 3
                && box->defaultButton() == box->button(QMessageBox::Yes)
                && box->textFormat() == Qt::PlainText;
            if (tickWhileAsked) {
                w->Timer1.start(10);
                ticks.wait();
                w->Timer1.stop();
            }
        });
        QCOMPARE(picture, "bt_cancel_off");
        QCOMPARE(look,
                 (QStringList { "Erro de Impressão",
                                "Atenção! O job selecionado será removido da lista de impressão. "
                                "Você confirma a remoção ?",
                                QStringList { "", "Será removido: job 1 (1 foto a imprimir)",
                                              "Será removido: job 2 (2 fotos a imprimir)" }
                                    .at(selected + 1),
                                "Sim", "Não", "Cancelar" }));
        QVERIFY(plain);
        QTEST(entries(), "left");
        // Nothing printed under the box; the tick held back ran once the answer was acted on.
        QCOMPARE(m_port->titles(),
                 tickWhileAsked ? QStringList { "Zelvo AB2_0001.jpg" } : QStringList());
        m_window->fileMover.drain();
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
            QVERIFY(addJob(key, 1));
        QVERIFY(showWindow());
        QListWidget *list = m_window->LstJobs;
        const QPoint second = list->visualItemRect(list->item(1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          belowTheRows ? QPoint(second.x(), list->viewport()->height() - 3)
                                       : second);
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *> { list->item(1) });
        click(m_window->ImgBtDown);
        QCOMPARE(entries(), (QStringList { "job 1", "job 3", "job 2" }));
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *> { list->item(2) });
    }

    // Jobs queued when Setup saves another system folder show their own photos.
    void queuedJobsKeepTheirSystemFolderAcrossSetup()
    {
        QVERIFY(addJob("1", 2, { 300, 200 }));
        QVERIFY(addJob("2", 1, { 300, 200 }));
        select(0);
        QVERIFY(showWindow());
        QTemporaryDir other;
        m_window->Timer1.start(); // no tick while Setup is open, a full interval after it
        bool tickingWhileOpen = true;
        answerNextModal([&](QWidget *modal) {
            tickingWhileOpen = m_window->Timer1.isActive();
            auto *conf = qobject_cast<FConf *>(modal);
            conf->txtDir->setText(other.path());
            for (QComboBox *c : { conf->comboPrinter1, conf->comboPrinter2, conf->comboPrinter3 })
                c->setCurrentIndex(0);
            QTest::mouseClick(conf->CmdSave, Qt::LeftButton);
        });
        QTest::mouseClick(m_window->LblSetup, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!tickingWhileOpen && m_window->Timer1.remainingTime() > 14000);
        m_window->Timer1.stop();
        QCOMPARE(ModConf::SystemFolder, other.path());
        select(1); // its photo found in its own folder (the resolution may follow once decoded)
        QCOMPARE(viewer().LblQuantidade[0]->text().section(" · ", 0, 0), "1 cópia");
        // Printed and retired from their own folder: jobsOfAnEarlierSystemFolder in tst_startup.
    }

    // CUPS's answer and the end of a CUPS job wait for an open question, as ticks do: they would
    // retire the job asked about or list a reprint under the box.
    void cupsAnswerWaitsForTheRemoveQuestion()
    {
        QVERIFY(addJob("1", 1, { 300, 200 }));
        QVERIFY(addJob("2", 1, { 300, 200 }));
        QVERIFY(showWindow());
        select(1);
        m_port->answerLater = true;
        m_window->onTimer1Tick(); // job 1's photo goes out
        QStringList whileAsked;
        answerRemoveBox(QMessageBox::No, [&](QMessageBox *) {
            m_port->answer(7);
            m_port->publish(7, JobAborted);
            whileAsked = entries();
        });
        QCOMPARE(whileAsked, (QStringList { "job 1", "job 2" }));
        QCOMPARE(entries(), (QStringList { "Urgente 1", "job 2" }));
    }

    // A station closed while CUPS takes a photo counts it: it is not printed again at its start.
    void closingWaitsForTheDocumentOnItsWay()
    {
        QVERIFY(addJob("1", 1, QSize(60, 40)));
        m_port->answerLater = true;
        m_window->onTimer1Tick();
        QTimer::singleShot(50, [this] { m_port->answer(7); });
        m_window->close();
        QCOMPARE(m_window->tracker.ledger().rows(QDate::currentDate()).value(0).cupsJobId, 7);
        QVERIFY(QFile::exists(path("backup/images/AB1_0001.jpg")));
    }

    // Retomar asks first; CUPS refusing it for want of the right is explained.
    void retomarRefusedByCupsSaysWhatToDo()
    {
        QueueStatus paused;
        paused.state = 5;
        paused.reasons = QStringList { "paused" };
        m_port->snap.status.insert("Kodak", paused);
        m_port->publish();
        QPushButton *resume = m_window->StripPrinters->rows[0].resume;
        QTRY_VERIFY(!resume->isHidden());
        QString told;
        answerNextModal([&told](QWidget *asking) {
            QTimer::singleShot(0, [&told, asking] {
                QTRY_VERIFY(QApplication::activeModalWidget() != asking);
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                told = box->text();
                box->accept();
            });
            QTest::mouseClick(qobject_cast<QMessageBox *>(asking)->button(QMessageBox::Yes),
                              Qt::LeftButton);
        });
        QTest::mouseClick(resume, Qt::LeftButton);
        QCOMPARE(m_port->resumed, QStringList { "Kodak" });
        QVERIFY2(told.contains("grupo lpadmin"), qPrintable(told));
    }

    // Queue names and file names are shown as written, whatever markup they hold.
    void outsideTextIsShownAsWritten()
    {
        // What a label or tooltip puts on screen: markup drawn, plain text as it is.
        const auto shown = [](const QString &text, Qt::TextFormat format = Qt::AutoText) {
            if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
                return text;
            QTextDocument document;
            document.setHtml(text);
            return document.toPlainText();
        };
        const QString queue = "<b>Kodak</b><img src='/etc/hosts'>"; // too long for its column
        m_port->printers = { { queue } };
        m_port->snap.queues = { queue };
        ModConf::Printer10x15 = queue;
        QVERIFY(addJob("1", 1, { 300, 200 }));
        QVERIFY(showWindow());
        showJob(0);
        m_port->answerLater = true;
        m_window->onTimer1Tick();
        m_port->answer(7);
        m_port->publish(7, JobAborted); // the notice names the photo and the queue
        m_window->StripPrinters->refresh();
        QVERIFY(m_window->StripPrinters->notice->text().contains(queue));
        QCOMPARE(shown(m_window->StripPrinters->rows[0].printer->toolTip()), queue);
        for (const QLabel *label : m_window->findChildren<QLabel *>())
            QCOMPARE(shown(label->text(), label->textFormat()), label->text());
        QString listed;
        answerNextModal([&](QWidget *modal) {
            auto *conf = qobject_cast<FConf *>(modal);
            listed = conf->comboPrinter1->itemText(0);
            conf->reject();
        });
        m_window->OpenConfiguration();
        QCOMPARE(listed, queue);
    }

    // While the lease cannot be written, other stations may be taking this one's jobs over:
    // nothing prints, and the strip says why, until it can be written again.
    void leaseCannotBeWritten_printingWaitsAndStripSaysWhy()
    {
        QVERIFY(addJob("1", 1, { 60, 40 }));
        const QString lease = path(".zelvo/leases/" + m_window->store.station.id);
        QFile::remove(lease);
        QVERIFY(QDir().mkpath(lease));
        m_window->store.station.leases.clear(); // renewed at the next print
        m_window->onTimer1Tick();
        QVERIFY(m_port->documents.isEmpty());
        QVERIFY(m_window->StripPrinters->notice->text().startsWith("Impressão em espera"));
        QVERIFY(QDir().rmdir(lease)); // written again: printing goes on
        m_window->onTimer1Tick();
        QCOMPARE(m_port->titles(), QStringList { "Zelvo AB1_0001.jpg" });
    }

    // Without a sounds folder every other test here clicks in silence.
    void clickSoundFromBesideTheProgram()
    {
        QVERIFY(showWindow());
        QVERIFY(QDir(m_app->path()).mkpath("sounds"));
        QVERIFY(QFile::copy(ZELVO_CLICK_WAV, path("sounds/keypress.wav")));
        click(m_window->ImgBtFirst);
        QCOMPARE(m_window->clickSound.source(), path("sounds/keypress.wav"));
    }
};

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
