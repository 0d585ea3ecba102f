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
#include <memory>

using namespace Hardening;

// Two stations on one system folder: every job file is taken by exactly one of them, and no
// file is ever replaced.
class TestClaims : public QObject
{
    Q_OBJECT

private slots:
    void twoStations_claimEachJobOnce_data();
    void twoStations_claimEachJobOnce();
    void linkClaim_cutShortOrFinishedElsewhere_data();
    void linkClaim_cutShortOrFinishedElsewhere();
};

void TestClaims::twoStations_claimEachJobOnce_data()
{
    QTest::addColumn<bool>("byLink");
    QTest::newRow("rename without replacing") << false;
    QTest::newRow("link and unlink") << true;
}

void TestClaims::twoStations_claimEachJobOnce()
{
    QFETCH(bool, byLink);
    constexpr int Jobs = 1000;
    QTemporaryDir dir;
    const QString root = dir.filePath("system");
    QVERIFY(QDir().mkdir(root) && CreateFolderLayout(root));
    const QString jobs = root + "/jobs/";
    QHash<QString, QByteArray> delivered; // job file as delivered -> hash of its content
    QHash<QString, int> photos;
    const auto deliver = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const QString name = QStringLiteral("1AB%1.job").arg(i, 5, 10, QLatin1Char('0'));
            const QByteArray text = jobText(1 + i % 3, i);
            QVERIFY(dropFile(jobs + name, text));
            delivered.insert(name, hashOf(text));
            photos.insert(QLatin1Char('2') + name.mid(1), 1 + i % 3);
        }
    };
    deliver(0, Jobs / 2);

    QStringList arguments { "--system",    root,    "--pdf",    dir.filePath("pdf"),
                            "--scan-only", "--log", "--wait-go" };
    if (byLink)
        arguments << "--claim-by-link";
    Station a(arguments), b(arguments);
    QTRY_VERIFY_WITH_TIMEOUT(a.ready() && b.ready(), 30000);
    QElapsedTimer clock;
    clock.start();
    a.send("go");
    b.send("go");

    const auto claimed = [&] { return a.events("CLAIM").size() + b.events("CLAIM").size(); };
    for (int batch = Jobs / 2; batch < Jobs; batch += 50) {
        deliver(batch, batch + 50);
        if (batch == 700) { // a stray "2" of the same name as a new "1": neither is touched
            QVERIFY(dropFile(jobs + "2ZZ77777.job", jobText(2, 1)));
            QVERIFY(dropFile(jobs + "1ZZ77777.job", jobText(3, 2)));
        }
        QTest::qWait(10);
    }
    QTRY_COMPARE_WITH_TIMEOUT(claimed(), Jobs, 120000);
    const qint64 elapsed = clock.elapsed();
    a.send("quit");
    b.send("quit");
    QTRY_VERIFY_WITH_TIMEOUT(!a.running() && !b.running(), 30000);
    QCOMPARE(a.process.exitCode() + b.process.exitCode(), 0);

    QHash<QString, int> claims;
    for (const Station *station : { &a, &b }) {
        for (const QString &claim : station->events("CLAIM")) {
            const QStringList words = claim.split(' ');
            QVERIFY2(++claims[words[0]] == 1, qPrintable("claimed twice: " + words[0]));
            QCOMPARE(words[1].toInt(), photos.value(words[0]));
        }
        // Only the file that waits for its stray namesake is reported; races are not.
        for (const QByteArray &line : station->errors.split('\n'))
            QVERIFY2(!line.contains("Job file") || line.contains("1ZZ77777.job"), line.constData());
    }
    QCOMPARE(claims.size(), Jobs);
    QStringList expected;
    for (const QString &name : delivered.keys()) {
        const QString claimedName = QLatin1Char('2') + name.mid(1);
        expected << claimedName;
        QVERIFY2(hashOf(readFile(jobs + claimedName)) == delivered.value(name),
                 qPrintable(claimedName + " is not the file delivered as " + name));
    }
    expected << "1ZZ77777.job"
             << "2ZZ77777.job";
    expected.sort();
    QCOMPARE(filesIn(jobs), expected);
    QCOMPARE(readFile(jobs + "2ZZ77777.job"), jobText(2, 1));
    QCOMPARE(readFile(jobs + "1ZZ77777.job"), jobText(3, 2));

    const int byA = int(a.events("CLAIM").size());
    QVERIFY2(byA > 0 && byA < Jobs, "the two stations did not contend");
    qInfo("%d jobs claimed in %lld ms after the start: %d by one station, %d by the other", Jobs,
          elapsed, byA, Jobs - byA);
}

void TestClaims::linkClaim_cutShortOrFinishedElsewhere_data()
{
    QTest::addColumn<bool>("cutShort");
    // The station stopped between the link and the unlink: two names of one file.
    QTest::newRow("cut short after the link") << true;
    // Another station removed the old name before this one could.
    QTest::newRow("old name removed elsewhere") << false;
}

void TestClaims::linkClaim_cutShortOrFinishedElsewhere()
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
        QCOMPARE(
            ::link(QFile::encodeName(oldName).constData(), QFile::encodeName(newName).constData()),
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
    RetireJob(store, 0, root);
    QCOMPARE(ScanNewJobs(store, root, false), 0); // never taken a second time
    QCOMPARE(readFile(root + "/backup/jobs/3AB12345.job"), jobText(2, 7));
}

QTEST_GUILESS_MAIN(TestClaims)
#include "tst_claims.moc"
