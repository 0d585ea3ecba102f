#include "NextModal.h"
#include "StationLock.h"
#include "StationStart.h"
#include "StopSignals.h"
#include "TestFiles.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>

using State = StationLock::State;

// One station per program folder: the lock, what a refused start tells, and the program itself
// refusing a second start and starting again once the first was killed; a stop signal closes it
// as its close button does.
class TestStationLock : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // The program, copied into `folder`, started from there on no CUPS scheduler at all.
    static std::unique_ptr<QProcess> startStation(const QString &folder)
    {
        auto station = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CUPS_SERVER"), folder + QStringLiteral("/no-cups"));
        station->setProcessEnvironment(env);
        station->start(folder + QStringLiteral("/zelvo"));
        return station;
    }
    static bool startedUp(QProcess &station, QByteArray &errors)
    {
        errors += station.readAllStandardError();
        return errors.contains("started from");
    }

private slots:
    void folderThatCannotBeWrittenIsRefused()
    {
        const StationLock lock(dir.filePath("missing"));
        QCOMPARE(lock.state(), State::Unavailable);
        QVERIFY(lock.refusalText().contains(dir.filePath("missing")));
        QVERIFY(lock.refusalText().contains("grupo zelvo"));
        QVERIFY(lock.refusalLogLine().contains("No such file or directory"));
    }

    // A program the station started keeps running after it: the lock goes with the station.
    void childOutlivingTheStationKeepsNoLock()
    {
        QProcess child;
        {
            const StationLock lock(dir.path());
            QCOMPARE(lock.state(), State::Held);
            child.start("sleep", { "30" });
            QVERIFY(child.waitForStarted());
        }
        QCOMPARE(StationLock(dir.path()).state(), State::Held);
        child.kill();
        child.waitForFinished();
    }

    void refusalOnADisplayWaitsForTheOperatorsOk()
    {
        const StationLock first(dir.path());
        const StationLock second(dir.path());
        QCOMPARE(second.state(), State::HeldElsewhere);
        QString shown;
        answerNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), "Zelvo");
            QCOMPARE(box->standardButtons(), QMessageBox::Ok);
            shown = box->text();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        tellStartRefused(second, true);
        QCOMPARE(shown, second.refusalText());
    }

    void stopSignalClosesTheQuestionThenTheWindow()
    {
        QWidget window;
        window.show();
        StopSignals stop;
        closeOnStopSignals(stop, window);
        QMessageBox box(QMessageBox::NoIcon, "Zelvo", "Remover?",
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, &window);
        QTimer::singleShot(0, [] { ::raise(SIGTERM); });
        QCOMPARE(box.exec(), int(QMessageBox::Cancel));
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(stop.received(), SIGTERM);
    }

    // The kernel frees the lock of a killed station: no stale lock blocks the next start. A
    // shutdown or a logout ends the program as closing its window does, and the log says so.
    void secondStartRefused_lockFreedByAKill_stopSignalClosesAndSaysSo()
    {
        QVERIFY(QFile::copy(ZELVO_BINARY, dir.filePath("zelvo")));
        QVERIFY(writeFile(dir.filePath("zelvo.ini"),
                          "[General]\nPRINT_ALL=True\n[Printers]\n10x15=Zelvo PDF\n"));
        QByteArray errors;
        const auto first = startStation(dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(startedUp(*first, errors), 30000);

        const auto second = startStation(dir.path());
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(second->readAllStandardError()).contains("já está aberto"));
        QVERIFY(readFile(dir.filePath("zelvo.log")).contains("Start refused: another station"));
        QCOMPARE(first->state(), QProcess::Running);

        first->kill();
        QVERIFY(first->waitForFinished(30000));
        errors.clear();
        const auto third = startStation(dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(startedUp(*third, errors), 30000);
        ::kill(pid_t(third->processId()), SIGTERM);
        QVERIFY(third->waitForFinished(30000));
        QCOMPARE(third->exitStatus(), QProcess::NormalExit);
        QCOMPARE(third->exitCode(), 0);
        const QByteArray log = readFile(dir.filePath("zelvo.log"));
        QVERIFY2(log.contains("SIGTERM received: the station closes")
                     && log.endsWith("Zelvo stopped\n"),
                 log.constData());
    }
};

QTEST_MAIN(TestStationLock)
#include "tst_stationlock.moc"
