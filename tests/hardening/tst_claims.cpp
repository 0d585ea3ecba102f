#include "HardeningSupport.h"
#include "JobFileSystem.h"
#include "JobIntake.h"
#include "JobRetirement.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include <cerrno>

using namespace Hardening;

// Two stations on one system folder: every job file is taken by exactly one of them, and no
// file is ever replaced.
class TestClaims : public QObject
{
    Q_OBJECT

private slots:
    void twoStations_claimEachJobOnce_data()
    {
        QTest::addColumn<bool>("byLink");
        QTest::newRow("rename without replacing") << false;
        QTest::newRow("link and unlink") << true;
    }
    void twoStations_claimEachJobOnce()
    {
        QFETCH(bool, byLink);
        constexpr int Jobs = 1000;
        QTemporaryDir dir;
        const QString root = dir.filePath("system"), jobs = root + "/jobs/";
        QVERIFY(QDir().mkdir(root) && CreateFolderLayout(root));
        QHash<QString, QByteArray> delivered; // claimed name -> the content delivered
        const auto deliver = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                const QString name = QStringLiteral("AB%1.job").arg(i, 5, 10, QLatin1Char('0'));
                QVERIFY(dropFile(jobs + '1' + name, jobText(1 + i % 3, i)));
                delivered.insert('2' + name, jobText(1 + i % 3, i));
            }
        };
        deliver(0, Jobs / 2);

        QStringList arguments { root, dir.filePath("pdf"), "--scan-only", "--wait-go" };
        if (byLink)
            arguments << "--claim-by-link";
        Station a(arguments), b(arguments);
        QCOMPARE(waitWhileStationsWork({ &a, &b }, [&] { return a.ready() && b.ready(); }),
                 QString());
        QElapsedTimer clock;
        clock.start();
        a.send("go");
        b.send("go");
        for (int batch = Jobs / 2; batch < Jobs; batch += 50) {
            deliver(batch, batch + 50);
            if (batch == 700) { // a stray "2" of the same name as a new "1": neither is touched
                QVERIFY(dropFile(jobs + "2ZZ77777.job", jobText(2, 1)));
                QVERIFY(dropFile(jobs + "1ZZ77777.job", jobText(3, 2)));
            }
            QTest::qWait(10);
        }
        QCOMPARE(waitWhileStationsWork(
                     { &a, &b }, [&] { return a.claims().size() + b.claims().size() >= Jobs; }),
                 QString());
        const qint64 elapsed = clock.elapsed();
        a.send("quit");
        b.send("quit");
        QTRY_VERIFY_WITH_TIMEOUT(!a.running() && !b.running(), 30000);
        QCOMPARE(a.process.exitCode() + b.process.exitCode(), 0);

        QSet<QString> claimed;
        for (const Station *station : { &a, &b }) {
            for (const QString &claim : station->claims()) {
                const QStringList words = claim.split(' '); // CLAIM <file> <photos>
                QVERIFY2(!claimed.contains(words[1]), qPrintable("claimed twice: " + words[1]));
                claimed << words[1];
                QCOMPARE(words[2].toInt(), delivered.value(words[1]).count('\n'));
            }
            // Only the file that waits for its stray namesake is reported; races are not.
            for (const QByteArray &line : station->errors.split('\n'))
                QVERIFY2(!line.contains("Job file") || line.contains("1ZZ77777.job"),
                         line.constData());
        }
        QCOMPARE(claimed.size(), Jobs);
        for (auto it = delivered.cbegin(); it != delivered.cend(); ++it)
            QVERIFY2(readFile(jobs + it.key()) == it.value(),
                     qPrintable(it.key() + " is replaced"));
        QCOMPARE(filesIn(jobs).size(), Jobs + 2);
        QCOMPARE(readFile(jobs + "2ZZ77777.job"), jobText(2, 1));
        QCOMPARE(readFile(jobs + "1ZZ77777.job"), jobText(3, 2));

        const int byA = int(a.claims().size());
        QVERIFY2(byA > 0 && byA < Jobs, "the two stations did not contend");
        qInfo("%d jobs claimed in %lld ms after the start: %d by one station, %d by the other",
              Jobs, elapsed, byA, Jobs - byA);
    }

    void linkClaim_cutShortOrFinishedElsewhere_data()
    {
        QTest::addColumn<bool>("cutShort");
        // The station stopped between the link and the unlink: two names of one file.
        QTest::newRow("cut short after the link") << true;
        // Another station removed the old name before this one could.
        QTest::newRow("old name removed elsewhere") << false;
    }
    void linkClaim_cutShortOrFinishedElsewhere()
    {
        QFETCH(bool, cutShort);
        QTemporaryDir dir;
        const QString root = dir.path();
        QVERIFY(CreateFolderLayout(root));
        const QString oldName = root + "/jobs/1AB12345.job", newName = root + "/jobs/2AB12345.job";
        QVERIFY(dropFile(oldName, jobText(2, 7)));
        const JobFs::SysCalls saved = JobFs::sysCalls();
        const auto restore = qScopeGuard([&] { JobFs::sysCalls() = saved; });
        JobFs::sysCalls().renameNoReplace = [](const char *, const char *) { return EINVAL; };

        JobStore store;
        if (cutShort) {
            QCOMPARE(::link(QFile::encodeName(oldName).constData(),
                            QFile::encodeName(newName).constData()),
                     0);
            QCOMPARE(LoadWaitingJobs(store, root), 1);
            QCOMPARE(ScanNewJobs(store, root, false), 0);
        } else {
            JobFs::sysCalls().unlink = [&](const char *path) {
                saved.unlink(path);
                return saved.unlink(path); // ENOENT: gone already
            };
            QCOMPARE(ScanNewJobs(store, root, false), 1);
        }
        QCOMPARE(filesIn(root + "/jobs"), QStringList { "2AB12345.job" });
        QCOMPARE(readFile(newName), jobText(2, 7));
        JobFs::sysCalls() = saved;
        RetireJob(store, 0);
        QCOMPARE(ScanNewJobs(store, root, false), 0); // never taken a second time
        QCOMPARE(readFile(root + "/backup/jobs/3AB12345.job"), jobText(2, 7));
    }
};

QTEST_GUILESS_MAIN(TestClaims)
#include "tst_claims.moc"
