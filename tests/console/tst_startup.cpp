#include "ConsoleLook.h"
#include "FConf.h"
#include "FIni.h"
#include "HeldFolders.h"
#include "JobsTestSupport.h"
#include "ModPrint.h"
#include "NextModal.h"
#include "QueueListWidget.h"
#include "RecordingPrinterPort.h"
#include "StationLogRecorder.h"
#include "TestFiles.h"
#include "TestPhotos.h"
#include "TextFit.h"
#include "TextsCutShort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>

// FIni::load as the station starts: the settings or the first-start window, the folders, the
// waiting jobs and Timer1.
class TestStartup : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> app;
    RecordingPrinterPort printers { QList<RecordingPrinterPort::Printer> { { "Kodak 6800" },
                                                                           { "Zelvo PDF" } } };
    QString ini() const { return ModConf::settingsFilePath(app->path()); }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        app = std::make_unique<QTemporaryDir>();
        resetSettings(QString());
        printers.documents.clear();
        ModPrint::setPrinterPort(&printers);
    }
    void cleanup() { ModPrint::setPrinterPort(nullptr); }

    void firstStartOpensSetupBeforeTheWindow_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("saved") << true;
        QTest::newRow("closed without saving") << false;
    }
    void firstStartOpensSetupBeforeTheWindow()
    {
        QFETCH(bool, save);
        FIni window(printers, app->path());
        bool asked = false, windowShown = true, printAllTicked = false, timerActive = true;
        answerNextModal([&](QWidget *modal) {
            auto *conf = qobject_cast<FConf *>(modal);
            QVERIFY(conf && conf->windowTitle() == "Setup");
            asked = true;
            windowShown = window.isVisible();
            printAllTicked = conf->chkTodos->isChecked();
            timerActive = window.Timer1.isActive();
            for (QComboBox *c : { conf->comboPrinter1, conf->comboPrinter2, conf->comboPrinter3 })
                c->setCurrentIndex(1);
            save ? QTest::mouseClick(conf->CmdSave, Qt::LeftButton) : conf->reject();
        });
        window.load();
        QVERIFY(asked && !windowShown && printAllTicked && !timerActive);
        QCOMPARE(QFile::exists(ini()), save);
        // Closed: the station runs on the defaults, printing orders awaiting payment.
        QCOMPARE(ModConf::Printer13x18, save ? "Zelvo PDF" : "Kodak 6800");
        QVERIFY(ModConf::PrintAll);
        QCOMPARE(ModConf::SystemFolder, app->path());
        QVERIFY(window.Timer1.isActive());
    }

    // What each unusable value gives is tst_settings' matter; here: the station still starts.
    void damagedSettingsStartWithoutAWindow_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("garbage") << QByteArray("\x01\x02=\xff\n[[[\n=\n", 10);
        QTest::newRow("missing system folder") << QByteArray("[General]\nSYSTEM_FOLDER=/no/such\n");
    }
    void damagedSettingsStartWithoutAWindow()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(ini(), content));
        // Any window that comes up is noted and closed, so the test cannot hang on it.
        QStringList modals;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                modals << modal->metaObject()->className();
                modal->close();
            }
        });
        watcher.start(10);
        FIni window(printers, app->path());
        window.load();
        QCOMPARE(modals, QStringList());
        QCOMPARE(ModConf::Printer10x15, "Kodak 6800");
        QVERIFY(window.Timer1.isActive());
        QCOMPARE(readFile(ini()), content); // start-up writes nothing
    }

    // Every text of both windows and both boxes is shown whole where it is laid out; the window
    // shows a job whose photo is missing.
    void everyTextFitsItsPlace()
    {
        QVERIFY(writeFile(ini(), "[General]\nPRINT_ALL=True\n"));
        QVERIFY(QDir().mkpath(app->filePath("jobs")));
        QVERIFY(writeFile(app->filePath("jobs/2AB00001.job"), "00001001200001250\r\n"));
        FIni window(printers, app->path());
        window.load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList cut = textsCutShort(&window);
        FConf conf(printers, &window);
        conf.show();
        QVERIFY(QTest::qWaitForWindowExposed(&conf));
        cut << textsCutShort(&conf);
        QMessageBox *check = FConf::makeMessageBox(
            "Digite valores numéricos para Largura e Altura da impressora 10x15.", &conf);
        // A failed check in Setup only tells: the Remove box is looked at in tst_console.
        QCOMPARE(check->windowTitle(), "Zelvo");
        QCOMPARE(check->standardButtons(), QMessageBox::Ok);
        QCOMPARE(check->icon(), QMessageBox::NoIcon);
        for (QMessageBox *box : { FIni::makeRemoveBox(&conf), check }) {
            box->show();
            QVERIFY(QTest::qWaitForWindowExposed(box));
            cut << textsCutShort(box);
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
    }

    // The labels' face is the one the package brings, whatever else the machine has.
    void labelsAreDrawnInTheChosenFace()
    {
        FIni window(printers, app->path());
        for (QLabel *label : { window.Label1, window.Label2, window.LblSetup->label() }) {
            const QString used = QFontInfo(label->font()).family();
            QVERIFY2(used == ConsoleLook::LabelFamily,
                     qPrintable(QStringLiteral("'%1' is drawn in '%2', not '%3': is "
                                               "fonts-liberation2 installed?")
                                    .arg(label->text(), used, ConsoleLook::LabelFamily)));
        }
    }

    // A text shrinks only where its place is too small for it. (Check boxes and wrapped labels
    // in their windows: everyTextFitsItsPlace.)
    void fittingShrinksTextOnlyWhereItIsCut()
    {
        for (const QSize place : { QSize(150, 60), QSize(400, 60) }) {
            QWidget parent;
            auto *label = new QLabel(QStringLiteral("Foto Não encontrada"), &parent);
            label->setFont(ConsoleLook::labelFont(18));
            label->setGeometry(QRect(QPoint(), place));
            fitTextToPlace(label);
            QCOMPARE(textsCutShort(&parent), QStringList());
            QCOMPARE(label->font().pointSizeF() < 18, place.width() < 400);
        }
    }

    void waitingJobsAreListedAtStartUp()
    {
        const QString jobs = app->filePath("jobs/");
        QVERIFY(QDir().mkpath(jobs));
        QVERIFY(writeFile(ini(), "[General]\nPRINT_ALL=False\n"));
        for (const char *name : { "2AB00002.job", "2CD00001.job", "0EF00003.job" })
            QVERIFY(writeFile(jobs + name, "00001000200001250\r\n"));
        FIni window(printers, app->path());
        window.load();
        // Which jobs load, in what order, and the first shown: tst_jobfolders.
        QCOMPARE(window.LstJobs->count(), 2);
        QCOMPARE(window.LstJobs->currentRow(), 0);
        window.onTimer1Tick(); // as the settings say, orders awaiting payment wait
        QCOMPARE(window.LstJobs->count(), 2);
    }

    // Jobs taken from a system folder the settings no longer name are listed at every start
    // until they are done; a folder out of reach is told once and looked at again next time.
    void jobsOfAnEarlierSystemFolderAreListedAfterARestart_data()
    {
        QTest::addColumn<bool>("outOfReach");
        QTest::addColumn<bool>("zelvoRefused"); // the earlier folder keeps no owners
        QTest::newRow("settings edited") << false << false;
        QTest::newRow("earlier folder out of reach at one start") << true << false;
        QTest::newRow(".zelvo cannot be made in the earlier folder") << false << true;
    }
    void jobsOfAnEarlierSystemFolderAreListedAfterARestart()
    {
        QFETCH(bool, outOfReach);
        QFETCH(bool, zelvoRefused);
        const QString a = app->filePath("a"), b = app->filePath("b");
        const auto settings = [this](const QString &folder) {
            resetSettings(QString());
            return writeFile(ini(),
                             "[General]\nPRINT_ALL=True\nSYSTEM_FOLDER=" + folder.toUtf8() + "\n");
        };
        QVERIFY(QDir().mkpath(a) && QDir().mkpath(b) && settings(a));
        ScopedSysCalls restore;
        if (zelvoRefused) // a share whose top folder this station may not write in
            JobFs::sysCalls().makeDir = [a, makeDir = JobFs::sysCalls().makeDir](const char *path) {
                return QFile::decodeName(path) == a + "/.zelvo" ? EACCES : makeDir(path);
            };
        {
            FIni window(printers, app->path());
            window.load();
            for (const char *photo : { "/images/AB00001_0001.jpg", "/images/AB00001_0002.jpg" })
                QVERIFY(writeFile(a + photo, TestPhotos::jpegBytes(30, 20)));
            QVERIFY(writeFile(a + "/jobs/1AB00001.job", jobText(2)));
            window.onTimer1Tick();
        }
        QVERIFY(settings(b));
        if (outOfReach) {
            QVERIFY(QDir().rename(a, a + "-away"));
            StationLogRecorder log;
            FIni window(printers, app->path());
            window.load();
            window.onTimer1Tick();
            QCOMPARE(window.LstJobs->count(), 0);
            QCOMPARE(log.warnings().filter(a + " cannot be reached").size(), 1);
            QVERIFY(QDir().rename(a + "-away", a));
        }
        FIni window(printers, app->path());
        window.load();
        QCOMPARE(window.LstJobs->count(), 1);
        QCOMPARE(readHeldFolders(app->path()), QStringList({ a, b }));
        window.onTimer1Tick();
        window.onTimer1Tick();
        QCOMPARE(printers.titles(),
                 QStringList({ "Zelvo AB00001_0001.jpg", "Zelvo AB00001_0002.jpg" }));
        QVERIFY(printers.documents.last().drawn);
        window.fileMover.drain();
        QVERIFY(QFile::exists(a + "/backup/jobs/3AB00001.job"));
        // Holding nothing there any more, the station forgets the earlier folder.
        window.onTimer1Tick();
        QCOMPARE(readFile(app->filePath(HeldFoldersFileName)), b.toUtf8() + "\n");
    }

    // A retired job's files moving onto another disk (copied, flushed, read back) hold neither
    // the window nor the renewal of the station's lease.
    void longRetirementHoldsNeitherTheWindowNorTheLease()
    {
        QVERIFY(writeFile(ini(), "[General]\nPRINT_ALL=True\n"));
        QVERIFY(QDir().mkpath(app->filePath("jobs")) && QDir().mkpath(app->filePath("images")));
        QVERIFY(writeFile(app->filePath("images/AB00001_0001.jpg"), TestPhotos::jpegBytes(30, 20)));
        QVERIFY(writeFile(app->filePath("jobs/1AB00001.job"), jobText(1)));
        ScopedSysCalls restore;
        splitFileSystems();
        QSemaphore flushed;
        JobFs::sysCalls().syncFile = [sync = JobFs::sysCalls().syncFile, &flushed](int fd) {
            flushed.tryAcquire(1, 5000); // a flush onto a slow disk, until the test lets it end
            return sync(fd);
        };
        FIni window(printers, app->path());
        window.store.station.leaseTimeoutMs = 400;
        window.load();
        window.onTimer1Tick();
        QCOMPARE(window.LstJobs->count(), 0);
        QVERIFY(QFile::exists(app->filePath("images/AB00001_0001.jpg"))); // still on its way
        const QFileInfo lease(app->filePath(".zelvo/leases/" + window.store.station.id));
        const QDateTime renewed = lease.lastModified();
        QTRY_VERIFY(QFileInfo(lease.filePath()).lastModified() > renewed);
        flushed.release(2);
        window.fileMover.drain();
        QCOMPARE(filesIn(app->filePath("backup/images")), QStringList { "AB00001_0001.jpg" });
        QCOMPARE(filesIn(app->filePath("backup/jobs")), QStringList { "3AB00001.job" });
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
