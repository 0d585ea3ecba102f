#include "JobFile.h"
#include "JobIntake.h"
#include "JobOwnership.h"
#include "JobRetirement.h"
#include "JobsTestSupport.h"
#include "StationIdentity.h"
#include "StationLogRecorder.h"

#include <QtTest>

#include <cerrno>

// Printing progress recorded in the claimed job file, and stations on one system folder that
// keep their ids and leases, take over jobs under their earlier id and adopt claimed jobs that
// nobody holds (restarts and takeovers between running stations: tst_claims). Each station is
// a job store of its own; the lease ages are set as file times against the station's own last
// renewal, the clock that counts.
class TestStations : public SystemFolderTest
{
    Q_OBJECT

    static constexpr qint64 TimeoutNs = DefaultLeaseTimeoutMs * 1000000;

private slots:
    void init() { QVERIFY(newSystemFolder()); }

    // The id kept beside the program: the same at every start, with an adapter changed or none
    // found, another on a disk copied to another PC, and a station of the version before (its id
    // one per program folder, however the path is written) still holds its jobs after the
    // update, although that version's lease is fresh.
    void stationId_keptPerInstallation_copiedDiskMakesItsOwn()
    {
        const QString program = at("program"), copy = at("copy");
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(copy));
        const QString earlier = stationIdFor(program);
        QCOMPARE(stationIdFor(at("copy/../program")), earlier);
        QVERIFY(stationIdFor(copy) != earlier);
        QVERIFY(addStation(m_root, earlier, QDateTime::currentMSecsSinceEpoch() * 1000000));
        QVERIFY(writeFile(at("jobs/2AB00001.job"), jobText(1))
                && writeFile(at(".zelvo/owners/" + earlier + "/2AB00001.job"), ""));

        const StationIdentity first = loadStationIdentity(program, "aaaa,bbbb");
        QVERIFY(first.id != earlier);
        const StationIdentity again = loadStationIdentity(program, "bbbb,cccc");
        QCOMPARE(again.id, first.id);
        QCOMPARE(again.previousIds, QStringList { earlier });
        QCOMPARE(loadStationIdentity(program, "").id, first.id); // no adapter found this time
        QVERIFY(QFile::copy(program + "/zelvo-station", copy + "/zelvo-station"));
        const StationIdentity copied = loadStationIdentity(copy, "dddd");
        QVERIFY(copied.id != first.id && copied.previousIds.isEmpty());
        QCOMPARE(loadStationIdentity(copy, "dddd").id, copied.id);

        StationStore updated(again.id);
        updated.station.previousIds = again.previousIds;
        QCOMPARE(LoadWaitingJobs(updated, m_root), 1);
        QCOMPARE(QDir(at(".zelvo/owners/" + again.id)).entryList(QDir::Files),
                 QStringList { "2AB00001.job" });
        QVERIFY(!QFileInfo::exists(at(".zelvo/owners/" + earlier)));
        StationStore clone(copied.id);
        QCOMPARE(LoadWaitingJobs(clone, m_root), 0);
    }

    // A job file removed by hand while queued, the order delivered again and claimed by another
    // station, before or after this one retires its job: the new file stays, and this station's
    // next start does not list it.
    void vanishedJobRetired_redeliveryListedByItsHolderOnly_data()
    {
        QTest::addColumn<bool>("retiredFirst");
        QTest::newRow("retired, then delivered again") << true;
        QTest::newRow("delivered again, then retired") << false;
    }
    void vanishedJobRetired_redeliveryListedByItsHolderOnly()
    {
        QFETCH(bool, retiredFirst);
        StationStore a("a"), b("b");
        QVERIFY(writeFile(at("jobs/1AB00001.job"), jobText(1)));
        QCOMPARE(ScanNewJobs(a, m_root, false), 1);
        // Moved away by hand; kept, so that the new file cannot get its inode.
        QVERIFY(QFile::rename(at("jobs/2AB00001.job"), at("2AB00001.job")));
        if (retiredFirst)
            RetireJob(a, 0);
        QVERIFY(writeFile(at("jobs/1AB00001.job"), jobText(1, 2)));
        QCOMPARE(ScanNewJobs(b, m_root, false), 1);
        if (!retiredFirst)
            RetireJob(a, 0);
        QCOMPARE(readFile(at("jobs/2AB00001.job")), jobText(1, 2));
        StationStore restarted("a");
        QCOMPARE(LoadWaitingJobs(restarted, m_root), 0);
    }

    // The lease cannot be written (a folder in its place): the station holds its jobs back and
    // says where, as the others take them over once the timeout has passed. Where no .zelvo
    // can be made at all, no other station can be sharing the folder: it prints.
    void leaseNeverWritten_stationWaits()
    {
        QVERIFY(QDir().mkpath(at(".zelvo/leases/a")));
        StationStore a("a");
        QVERIFY(writeFile(at("jobs/1AB00001.job"), jobText(1)));
        QCOMPARE(ScanNewJobs(a, m_root, false), 1);
        QVERIFY(!leaseAllowsPrinting(a.station, m_root));
        QCOMPARE(leaseFailures(a.station).size(), 1);
        QVERIFY(leaseFailures(a.station)[0].startsWith(m_root));
        // Nor does it take, at its next start, a claimed job no station holds: another may be
        // adopting it.
        QVERIFY(writeFile(at("jobs/2AB00002.job"), jobText(1)));
        StationStore restarted("a");
        QCOMPARE(LoadWaitingJobs(restarted, m_root), 1);

        QVERIFY(QDir(at(".zelvo")).removeRecursively());
        ScopedSysCalls calls;
        JobFs::sysCalls().makeDir = [](const char *) { return EACCES; };
        StationStore alone("b");
        QVERIFY(leaseAllowsPrinting(alone.station, m_root));
    }

    void recordPhotoPrinted_data()
    {
        QTest::addColumn<int>("photo");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("recorded");
        QTest::newRow("last line, no line end") << 2 << "" << true;
        QTest::newRow("file replaced since it was read") << 1 << "replaced" << false;
        QTest::newRow("line no longer the photo's") << 1 << "edited" << false;
        QTest::newRow("write refused") << 1 << "write" << false;
        QTest::newRow("flush fails") << 1 << "flush" << false;
    }
    void recordPhotoPrinted()
    {
        QFETCH(int, photo);
        QFETCH(QString, fault);
        QFETCH(bool, recorded);
        const QString path = at("jobs/2AB00001.job");
        const QByteArray text = "00001000100000100\r\n00002100200000200\n00003200300000300";
        QVERIFY(writeFile(path, text));
        const JobFileRead read = ReadJobFile(path);
        QVERIFY(read.ok());
        ScopedSysCalls restore;
        if (fault == "replaced") // the file read still there under another name
            QVERIFY(QFile::rename(path, path + ".old") && writeFile(path, text));
        else if (fault == "edited")
            QVERIFY(writeFile(path, QByteArray(text).replace("00002", "00009")));
        else if (fault == "write")
            JobFs::sysCalls().writeAt = [](int, const void *, size_t, off_t) { return -EIO; };
        else if (fault == "flush") // written, but not known to be on the disk
            JobFs::sysCalls().syncData = [](int) { return EIO; };
        QByteArray expected = readFile(path);
        if (recorded || fault == "flush")
            expected[read.record.photos[size_t(photo)].lineOffset] = '1';
        QCOMPARE(
            ::recordPhotoPrinted(path, read.record.fileIdentity, read.record.photos[size_t(photo)]),
            recorded);
        QCOMPARE(readFile(path), expected);
    }

    // A lease past half the timeout (the station back from a suspend, a stalled share) is
    // written again before a photo prints: the others count it gone only after the full timeout.
    void leaseRenewedBeforePrintingOnceHalfTheTimeoutHasPassed_data()
    {
        QTest::addColumn<qint64>("agedMs");
        QTest::newRow("a quarter") << DefaultLeaseTimeoutMs / 4;
        QTest::newRow("three quarters") << DefaultLeaseTimeoutMs * 3 / 4;
    }
    void leaseRenewedBeforePrintingOnceHalfTheTimeoutHasPassed()
    {
        QFETCH(qint64, agedMs);
        StationStore a("a");
        QCOMPARE(LoadWaitingJobs(a, m_root), 0);
        a.station.leases[m_root].renewedAtMs -= agedMs;
        QVERIFY(setFileTime(at(".zelvo/leases/a"), 0));
        QVERIFY(leaseAllowsPrinting(a.station, m_root));
        QCOMPARE(QFileInfo(at(".zelvo/leases/a")).lastModified().toSecsSinceEpoch() != 0,
                 agedMs > DefaultLeaseTimeoutMs / 2);
    }

    // A job of the same name is queued from the folder the station used before Setup moved it.
    void jobTakenOverBesideOneOfTheSameNameFromAnotherFolder()
    {
        const QString old = at("old");
        QVERIFY(QDir().mkpath(old) && CreateFolderLayout(old));
        StationStore a("a");
        QVERIFY(writeFile(old + "/jobs/1AB00001.job", jobText(1)));
        QCOMPARE(ScanNewJobs(a, old, false), 1);
        QVERIFY(addStation(m_root, "b", 0));
        QVERIFY(writeFile(at("jobs/2AB00001.job"), jobText(1))
                && writeFile(at(".zelvo/owners/b/2AB00001.job"), ""));
        QCOMPARE(ScanNewJobs(a, m_root, false), 1);
        QCOMPARE(a.printJobs[1].systemFolder, m_root);
    }

    // Its marker cannot be written: the job is still printed here, and the others are warned.
    void markerCannotBeWritten_jobStillQueued()
    {
        StationStore a("a");
        QVERIFY(QDir().mkpath(at(".zelvo/owners/a/2AB00001.job")));
        QVERIFY(writeFile(at("jobs/1AB00001.job"), jobText(1)));
        StationLogRecorder recorder;
        QCOMPARE(ScanNewJobs(a, m_root, false), 1);
        QCOMPARE(StationLogRecorder::warnings().filter("holds 2AB00001.job").size(), 1);
    }

    // A claimed job that no station holds: claimed by an earlier version, or a crash between
    // the claim and its marker.
    void unheldClaimedJob_adopted_data()
    {
        QTest::addColumn<bool>("otherAlive");
        QTest::addColumn<QString>("lock"); // whose lock is on the job
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<bool>("afterTimeout");
        QTest::newRow("alone at start-up") << false << "" << true << true;
        QTest::newRow("another station alive") << true << "" << false << true;
        QTest::newRow("locked by a live station") << true << "c" << false << false;
        QTest::newRow("locked by a station gone") << true << "g" << false << true;
        QTest::newRow("locked by this station before a restart") << true << "a" << false << true;
    }
    void unheldClaimedJob_adopted()
    {
        QFETCH(bool, otherAlive);
        QFETCH(QString, lock);
        QFETCH(bool, atStart);
        QFETCH(bool, afterTimeout);
        QVERIFY(writeFile(at("jobs/2AB00001.job"), jobText(1)));
        const qint64 far = 3600 * 1000000000LL + QDateTime::currentMSecsSinceEpoch() * 1000000;
        if (otherAlive)
            QVERIFY(addStation(m_root, "c", far));
        if (!lock.isEmpty()) {
            QVERIFY(QDir().mkpath(at(".zelvo/locks")));
            QVERIFY(writeFile(at(".zelvo/locks/2AB00001.job"), lock.toUtf8()));
        }
        StationStore a("a");
        QCOMPARE(LoadWaitingJobs(a, m_root), int(atStart));
        if (atStart)
            return;
        a.station.leases[m_root].fileTimeNs += TimeoutNs + 1; // "now": the timeout has passed
        QCOMPARE(ScanNewJobs(a, m_root, false), int(afterTimeout));
        QCOMPARE(QFile::exists(at(".zelvo/owners/a/2AB00001.job")), afterTimeout);
        QCOMPARE(QFile::exists(at(".zelvo/locks/2AB00001.job")), lock == "c");
    }
};

QTEST_GUILESS_MAIN(TestStations)
#include "tst_stations.moc"
