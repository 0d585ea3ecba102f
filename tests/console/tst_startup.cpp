#include "FConf.h"
#include "FIni.h"
#include "ModConf.h"
#include "QueueListWidget.h"
#include "StaticPrinterPort.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

void resetSettings()
{
    ModConf::SystemFolder.clear();
    ModConf::PrintAll = false;
    ModConf::Printer10x15 = ModConf::Printer13x18 = ModConf::Printer15x23 = QString();
    ModConf::Width10x15 = ModConf::Height10x15 = ModConf::Width13x18 = 0;
    ModConf::Height13x18 = ModConf::Width15x23 = ModConf::Height15x23 = 0;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> app;
    StaticPrinterPort printers { { QStringLiteral("Kodak 6800"), QStringLiteral("Zelvo PDF") } };
    QStringList modalsSeen; // class names of the modal windows that came up

    QString ini() const { return ModConf::settingsFilePath(app->path()); }

    // Answers the next modal window with `answer`, after noting what it was.
    void answerNextModal(std::function<void(QWidget *)> answer)
    {
        QTimer::singleShot(0, this, [this, answer] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget *modal = QApplication::activeModalWidget();
            modalsSeen << QString::fromLatin1(modal->metaObject()->className());
            answer(modal);
        });
    }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        app = std::make_unique<QTemporaryDir>();
        resetSettings();
        modalsSeen.clear();
    }

    void firstStartOpensSetupBeforeTheWindowAndSaves()
    {
        FIni window(printers, app->path());
        bool windowShown = true;
        bool printAllTicked = false;
        answerNextModal([&](QWidget *modal) {
            auto *conf = qobject_cast<FConf *>(modal);
            QVERIFY(conf);
            QCOMPARE(conf->windowTitle(), QStringLiteral("Setup"));
            windowShown = window.isVisible();
            printAllTicked = conf->chkTodos->isChecked();
            QVERIFY(!window.Timer1.isActive());
            for (QComboBox *c : { conf->comboPrinter1, conf->comboPrinter2, conf->comboPrinter3 })
                c->setCurrentIndex(1);
            QTest::mouseClick(conf->CmdSave, Qt::LeftButton);
        });
        window.load();
        QCOMPARE(modalsSeen, QStringList { QStringLiteral("FConf") });
        QVERIFY(!windowShown);
        QVERIFY(printAllTicked);
        QVERIFY(QFile::exists(ini()));
        QCOMPARE(ModConf::Printer13x18, QStringLiteral("Zelvo PDF"));
        QCOMPARE(ModConf::SystemFolder, app->path());
        QVERIFY(window.Timer1.isActive());
        QCOMPARE(window.Timer1.interval(), 15000);
    }

    void firstStartClosedWithoutSavingRunsOnDefaults()
    {
        FIni window(printers, app->path());
        answerNextModal([](QWidget *modal) { modal->close(); });
        window.load();
        QVERIFY(!QFile::exists(ini()));
        QCOMPARE(ModConf::SystemFolder, app->path());
        QCOMPARE(ModConf::PrintAll, true);
        QCOMPARE(ModConf::Printer10x15, QStringLiteral("Kodak 6800"));
        QCOMPARE(ModConf::Printer15x23, QStringLiteral("Kodak 6800"));
        QCOMPARE(ModConf::Width10x15, 613.f);
        QCOMPARE(ModConf::Height15x23, 600.f);
        QVERIFY(window.Timer1.isActive());

        // The next start still finds no settings file and asks again.
        FIni next(printers, app->path());
        answerNextModal([](QWidget *modal) { modal->close(); });
        next.load();
        QCOMPARE(modalsSeen.size(), 2);
    }

    void laterStartReadsTheFileAndShowsNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("good") << QByteArray("[General]\nSYSTEM_FOLDER=/srv\nPRINT_ALL=True\n");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\x01\x02=\xff\n[[[\n=\n", 10);
        QTest::newRow("missing folder") << QByteArray("[General]\nSYSTEM_FOLDER=/no/such/folder\n");
    }
    void laterStartReadsTheFileAndShowsNothing()
    {
        QFETCH(QByteArray, content);
        writeFile(ini(), content);
        // Any window that comes up is noted and closed, so the test cannot hang on it.
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                modalsSeen << QString::fromLatin1(modal->metaObject()->className());
                modal->close();
            }
        });
        watcher.start(10);
        FIni window(printers, app->path());
        window.load();
        QVERIFY(modalsSeen.isEmpty());
        QCOMPARE(ModConf::Printer10x15, QStringLiteral("Kodak 6800"));
        QCOMPARE(ModConf::Width13x18, 700.f);
        QVERIFY(window.Timer1.isActive());
        QCOMPARE(readAll(ini()), content); // start-up writes nothing
    }

    void setupPausesThePollingTimer()
    {
        writeFile(ini(), "[General]\nPRINT_ALL=True\n");
        FIni window(printers, app->path());
        window.load();
        window.show();
        QVERIFY(window.Timer1.isActive());
        bool activeWhileOpen = true;
        answerNextModal([&](QWidget *modal) {
            activeWhileOpen = window.Timer1.isActive();
            modal->close();
        });
        QTest::mouseClick(window.LblSetup, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(modalsSeen, QStringList { QStringLiteral("FConf") });
        QVERIFY(!activeWhileOpen);
        QVERIFY(window.Timer1.isActive());
        QVERIFY(window.Timer1.remainingTime() > 14000); // a full interval after closing
    }

    void waitingJobsAreListedAndNewOnesTakenOnTheTick()
    {
        const QString jobs = app->path() + QStringLiteral("/jobs/");
        QDir().mkpath(jobs);
        writeFile(ini(), "[General]\nPRINT_ALL=False\n");
        writeFile(jobs + QStringLiteral("2AB00002.job"), "00001000200001250\r\n");
        writeFile(jobs + QStringLiteral("2CD00001.job"), "00001000200001250\r\n");
        writeFile(jobs + QStringLiteral("0EF00003.job"), "00001000200001250\r\n");
        FIni window(printers, app->path());
        QStringList shown;
        window.store.showJobThumbnails = [&](const QString &key) { shown << key; };
        window.load();
        QCOMPARE(window.LstJobs->count(), 2);
        QCOMPARE(window.LstJobs->item(0)->text(), QStringLiteral("job 00002"));
        QCOMPARE(window.LstJobs->item(1)->text(), QStringLiteral("job 00001"));
        QCOMPARE(window.LstJobs->currentRow(), 0);
        QCOMPARE(shown, QStringList { QStringLiteral("00002") });
        QVERIFY(QDir(app->path() + QStringLiteral("/backup/images")).exists());

        writeFile(jobs + QStringLiteral("1GH00004.job"), "00001000200001250\r\n");
        window.onTimer1Tick();
        QCOMPARE(window.LstJobs->count(), 3);
        QCOMPARE(window.LstJobs->item(2)->text(), QStringLiteral("job 00004"));
        QVERIFY(QFile::exists(jobs + QStringLiteral("2GH00004.job")));
        QVERIFY(QFile::exists(jobs + QStringLiteral("0EF00003.job"))); // awaits payment
        QCOMPARE(shown.size(), 1);
    }

    void mainWindowShell()
    {
        writeFile(ini(), "");
        FIni window(printers, app->path());
        window.load();
        QCOMPARE(window.windowTitle(), QStringLiteral("Zelvo"));
        QCOMPARE(window.size(), QSize(700, 524));
        QCOMPARE(window.Label2->text(), QStringLiteral("Fila de impressão"));
        QCOMPARE(window.LblSetup->label()->text(), QStringLiteral("Setup"));
    }

private:
    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
