#include "NextModal.h"
#include "StationLock.h"
#include "StationStart.h"
#include "TestFiles.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using State = StationLock::State;

// One station per program folder: the lock, what a refused start tells, and the program itself
// refusing a second start and starting again once the first was killed.
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

    // The kernel frees the lock of a killed station: no stale lock blocks the next start.
    void secondStationRefusedAndKilledStationLeavesNoLock()
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
        third->kill();
        QVERIFY(third->waitForFinished(30000));
    }
};

QTEST_MAIN(TestStationLock)
#include "tst_stationlock.moc"
