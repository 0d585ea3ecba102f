#include "HardeningSupport.h"
#include "JobIntake.h"
#include "JobsTestSupport.h"

#include <QFileInfo>
#include <QHash>
#include <QtTest>

#include <limits>

using namespace Hardening;

// Two stations on one system folder: every job file is taken by exactly one of them, and no
// file is ever replaced. Two and three stations restarted while jobs flow, and one gone for
// good: every photo printed exactly once.
class TestClaims : public SystemFolderTest
{
    Q_OBJECT

    // The jobs `station` said it listed at start-up, or claimed, took over or adopted later, by
    // file name.
    static QStringList jobsTold(const StationProcess &station,
                                const QStringList &what = { "LISTED", "CLAIM" })
    {
        QStringList jobs;
        for (const QString &line : station.lines)
            if (what.contains(line.section(' ', 0, 0)))
                jobs << line.section(' ', 1, 1);
        return jobs;
    }

    QString pdf; // the built-in printer's documents, beside the system folder

private slots:
    void init()
    {
        QVERIFY(newSystemFolder("system"));
        pdf = m_dir->filePath("pdf");
    }

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
        const QString jobs = at("jobs/");
        QHash<QString, QByteArray> delivered; // claimed name -> the content delivered
        const auto deliver = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                const QString name = QStringLiteral("AB%1.job").arg(i, 5, 10, QLatin1Char('0'));
                QVERIFY(dropFile(jobs + '1' + name, jobText(1 + i % 3, i)));
                delivered.insert('2' + name, jobText(1 + i % 3, i));
            }
        };
        deliver(0, Jobs / 2);

        QStringList arguments { m_root, pdf, "--scan-only", "--wait-go" };
        if (byLink)
            arguments << "--claim-by-link";
        StationProcess a(arguments), b(arguments);
        QTRY_VERIFY_WITH_TIMEOUT(a.ready() && b.ready(), 60000);
        a.send("go");
        b.send("go");
        for (int batch = Jobs / 2; batch < Jobs; batch += 50) {
            deliver(batch, batch + 50);
            QTest::qWait(10);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(a.claims().size() + b.claims().size() >= Jobs,
                                  (a.errors + b.errors).right(2000).constData(), 300000);
        a.send("quit");
        b.send("quit");
        QTRY_VERIFY_WITH_TIMEOUT(!a.running() && !b.running(), 30000);
        QCOMPARE(a.process.exitCode() + b.process.exitCode(), 0);

        QSet<QString> claimed;
        for (const StationProcess *station : { &a, &b }) {
            for (const QString &claim : station->claims()) {
                const QStringList words = claim.split(' '); // CLAIM <file> <photos>
                QVERIFY2(!claimed.contains(words[1]), qPrintable("claimed twice: " + words[1]));
                claimed << words[1];
                QCOMPARE(words[2].toInt(), delivered.value(words[1]).count('\n'));
            }
            // Races are not reported.
            for (const QByteArray &line : station->errors.split('\n'))
                QVERIFY2(!line.contains("Job file"), line.constData());
        }
        QCOMPARE(claimed.size(), Jobs);
        for (auto it = delivered.cbegin(); it != delivered.cend(); ++it)
            QVERIFY2(readFile(jobs + it.key()) == it.value(),
                     qPrintable(it.key() + " is replaced"));
        QCOMPARE(filesIn(jobs).size(), Jobs);

        const int byA = int(a.claims().size());
        QVERIFY2(byA > 0 && byA < Jobs, "the two stations did not contend");
    }

    // Two stations on one job, one stopped (SIGSTOP) at the step the row names while the other
    // goes on, with lease ages set as file times: the job is held, and each photo printed, once.
    //  - lock: a station gone left the job's lock. a stops at the step after its look at it
    //    (breaking it, or taking the next one); b takes the lock and stops before it marks the
    //    job; a goes on;
    //  - alone: a starts alone and stops after its look at the markers; b starts and adopts
    //    the job meanwhile; a goes on;
    //  - pause: a stops once its document is open; its lease made old, b takes the job over,
    //    prints and retires it; a goes on.
    void takeover_stationStoppedMidway_jobHeldAndPrintedOnce_data()
    {
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("aStopsAt");
        const auto row = [](const char *tag, const char *order, const char *aStopsAt) {
            QTest::newRow(tag) << QString(order) << QString(aStopsAt);
        };
        row("lock broken under a taker", "lock", "rename:1");
        row("lock taken by both", "lock", "renameNoReplace:1");
        row("alone at start-up", "alone", "unlink:1");
        row("back from a pause, document open", "pause", "");
    }
    void takeover_stationStoppedMidway_jobHeldAndPrintedOnce()
    {
        QFETCH(QString, order);
        QFETCH(QString, aStopsAt);
        const QString job = "2AB00001.job";
        const QStringList photos = deliverJob(m_root, "00001", 2, 1).keys();
        if (order != "pause") // claimed by an earlier version: no station holds it
            QVERIFY(QFile::rename(at("jobs/1AB00001.job"), at("jobs/" + job)));
        const qint64 now = ::time(nullptr) * 1000000000LL;
        QVERIFY(QDir().mkpath(at(".zelvo/locks")));
        if (order == "lock") { // c, always alive, keeps a and b from being alone
            QVERIFY(addStation(m_root, "c", now + 3600 * 1000000000LL));
            QVERIFY(writeFile(at(".zelvo/locks/" + job), "g"));
        } else if (order == "alone") { // a's step after its look: forgetting a job gone
            QVERIFY(QDir().mkpath(at(".zelvo/owners/a")));
            QVERIFY(writeFile(at(".zelvo/owners/a/2AB99999.job"), ""));
        }
        const QStringList common { m_root, pdf, "--lease-timeout", "1000", "--station" };
        const QStringList scanOnly { order == "pause" ? "--exit-when-idle" : "--scan-only" };
        std::unique_ptr<StationProcess> a, b;
        const auto startB = [&] {
            b = std::make_unique<StationProcess>(
                common + QStringList { "b", "--wait-go" } + scanOnly
                + (order == "lock" ? QStringList { "--stop-at", "createFile:1" } : QStringList()));
            QTRY_VERIFY_WITH_TIMEOUT(b->ready(), 30000);
        };
        if (order == "lock")
            startB();
        a = std::make_unique<StationProcess>(
            common + QStringList { "a" } + scanOnly
            + (order == "pause" ? QStringList { "--stop-at-document", "1" }
                                : QStringList { "--stop-at", aStopsAt })
            + (order == "lock" ? QStringList { "--wait-go" } : QStringList()));
        if (order == "lock") {
            QTRY_VERIFY_WITH_TIMEOUT(a->ready(), 30000);
            a->send("go");
        }
        QTRY_VERIFY_WITH_TIMEOUT(a->stopped() || (order == "lock" && !a->claims().isEmpty()),
                                 30000);
        if (order == "pause")
            QVERIFY(setFileTime(at(".zelvo/leases/a"), now - 60 * 1000000000LL));
        if (!b)
            startB();
        b->send("go");
        if (order == "lock") // one tick: the job is due already
            b->send("quit");
        QTRY_VERIFY2_WITH_TIMEOUT(b->stopped() || !b->running() || jobsTold(*b).contains(job),
                                  b->errors.constData(), 30000);
        // a finishes what it was doing, and ends, before b goes on; after a pause b is told to
        // quit once every photo is out, as a quit sent while it prints would cut the job short.
        for (StationProcess *station : { a.get(), b.get() }) {
            station->resume();
            if (order == "pause" && station == b.get())
                QTRY_VERIFY_WITH_TIMEOUT(documentsByPhoto(pdf).size() == photos.size(), 30000);
            station->send("quit");
            QTRY_VERIFY_WITH_TIMEOUT(!station->running(), 30000);
        }
        if (order == "pause")
            QCOMPARE(notPrintedOnce(pdf, photos), QString());
        else
            QCOMPARE((jobsTold(*a) + jobsTold(*b)).count(job), 1);
    }

    void stations_restartedWhileJobsFlow_printEachPhotoOnce_data()
    {
        QTest::addColumn<int>("stations");
        QTest::newRow("two") << 2;
        QTest::newRow("three") << 3;
    }
    void stations_restartedWhileJobsFlow_printEachPhotoOnce()
    {
        QFETCH(int, stations);
        // Restarts of each station; a longer run: ZELVO_STATION_RESTARTS=50.
        const int restarts = qEnvironmentVariableIsSet("ZELVO_STATION_RESTARTS")
            ? qEnvironmentVariableIntValue("ZELVO_STATION_RESTARTS")
            : ZELVO_STATION_RESTARTS;
        constexpr qint64 TimeoutMs = 3000;
        QStringList photos;
        const auto deliver = [&](int count) {
            for (int n = 0; n < count; ++n) {
                const int number = photos.size();
                photos << deliverJob(m_root, QString::number(10000 + number), 1 + number % 3,
                                     number)
                              .keys();
            }
        };
        std::vector<std::unique_ptr<StationProcess>> running(static_cast<size_t>(stations));
        QList<QSet<QString>> held(stations); // every job each station has listed or claimed
        const auto start = [&](int s, const QStringList &more = {}) {
            running[size_t(s)] = std::make_unique<StationProcess>(
                QStringList { m_root, pdf, "--station", "s" + QString::number(s), "--lease-timeout",
                              QString::number(TimeoutMs) }
                + more);
            QTRY_VERIFY_WITH_TIMEOUT(running[size_t(s)]->ready(), 30000);
            for (const QString &job : jobsTold(*running[size_t(s)], { "LISTED" }))
                QVERIFY2(held[s].contains(job), qPrintable(job + " listed by another station"));
        };
        const auto stop = [&](int s) {
            StationProcess &station = *running[size_t(s)];
            station.send("quit");
            QTRY_VERIFY_WITH_TIMEOUT(!station.running(), 30000);
            for (const QString &job : jobsTold(station, { "CLAIM" }))
                held[s] << job;
        };
        for (int s = 0; s < stations; ++s)
            start(s);

        // Each station stopped and started again in turn while jobs arrive and print.
        for (int round = 0; round < restarts * stations; ++round) {
            deliver(3);
            const int printed = documentsByPhoto(pdf).size();
            QTRY_VERIFY_WITH_TIMEOUT(documentsByPhoto(pdf).size() > printed, 30000);
            stop(round % stations);
            start(round % stations);
        }

        // The last one gone for good: with the others stopped it takes a batch of jobs, and it
        // is killed right after it recorded its second printed photo. The others, started
        // again meanwhile, do not list its jobs.
        const int gone = stations - 1;
        for (int s = 0; s < stations; ++s)
            stop(s);
        deliver(5);
        start(gone, { "--crash-at", "syncData:2:after" });
        QTRY_VERIFY_WITH_TIMEOUT(!running[size_t(gone)]->running(), 30000);
        for (const QString &job : jobsTold(*running[size_t(gone)], { "CLAIM" }))
            held[gone] << job;
        for (int s = 0; s < gone; ++s)
            start(s);
        const QStringList orphans = filesIn(at("jobs"));
        QVERIFY2(
            !orphans.isEmpty()
                && QSet<QString>(orphans.begin(), orphans.end()).subtract(held[gone]).isEmpty(),
            "the station went with jobs of no one else queued");
        const qint64 lastRenewal = QFileInfo(at(".zelvo/leases/s" + QString::number(gone)))
                                       .lastModified()
                                       .toMSecsSinceEpoch();

        // Its jobs are taken over once its lease is older than the timeout, never before.
        QTRY_VERIFY_WITH_TIMEOUT(filesIn(at("jobs")).isEmpty(), 60000);
        qint64 firstTaken = std::numeric_limits<qint64>::max();
        for (int s = 0; s < gone; ++s) {
            StationProcess &station = *running[size_t(s)];
            for (qsizetype i = 0; i < station.lines.size(); ++i)
                if (orphans.contains(station.lines[i].section(' ', 1, 1)))
                    firstTaken = std::min(firstTaken, station.times[i] - lastRenewal);
            stop(s);
        }
        QVERIFY2(
            firstTaken >= TimeoutMs && firstTaken < 3 * TimeoutMs,
            qPrintable(QStringLiteral("taken over %1 ms after the last renewal").arg(firstTaken)));

        QCOMPARE(notPrintedOnce(pdf, photos), QString());
    }
};

QTEST_GUILESS_MAIN(TestClaims)
#include "tst_claims.moc"
