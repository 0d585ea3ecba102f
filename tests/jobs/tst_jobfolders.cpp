#include "JobIntake.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "JobsTestSupport.h"
#include "StationLogRecorder.h"

#include <QDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

// The table, jobCount and the list hold the same jobs; an emptied table keeps one stale slot.
static bool inStep(const JobStore &store)
{
    const size_t tableSize
        = store.jobCount > 0 || store.printJobs.empty() ? size_t(store.jobCount) : 1;
    return store.LstJobs.count() == store.jobCount && store.printJobs.size() == tableSize;
}

// Intake, retirement and every file-system fault, in a temporary system folder.
class TestJobFolders : public SystemFolderTest
{
    Q_OBJECT

    const QStringList &log = StationLogRecorder::warnings();

    // Job files 1AB<key>.job with their images, as the order-taking program leaves them.
    [[nodiscard]] bool deliver(const QStringList &keys, int photos = 2)
    {
        for (const QString &key : keys) {
            if (!writeFile(at("jobs/1AB" + key + ".job"), jobText(photos)))
                return false;
            for (int i = 1; i <= photos; ++i)
                if (!writeFile(at(QString("images/AB%1_000%2.jpg").arg(key).arg(i)), "jpeg"))
                    return false;
        }
        return true;
    }

private slots:
    void init() { QVERIFY(newSystemFolder()); }

    void intake_takesByStatusDigit_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("printAll");
        QTest::addColumn<QString>("after"); // the name in the jobs folder after the scan
        QTest::newRow("released") << "1AB12345.job" << false << "2AB12345.job";
        QTest::newRow("awaiting payment") << "0AB12345.job" << false << "0AB12345.job";
        QTest::newRow("upper-case extension") << "1AB12345.JOB" << false << "2AB12345.JOB";
        QTest::newRow("7 characters, no job number") << "1AB.job" << false << "2AB.job";
        QTest::newRow("retired") << "3AB12345.job" << true << "3AB12345.job";
        QTest::newRow("other extension") << "1AB12345.txt" << true << "1AB12345.txt";
    }
    void intake_takesByStatusDigit()
    {
        QFETCH(QString, name);
        QFETCH(bool, printAll);
        QFETCH(QString, after);
        QVERIFY(writeFile(at("jobs/" + name), jobText(1)));
        JobStore store;
        StationLogRecorder recorder;
        QCOMPARE(ScanNewJobs(store, m_root, printAll), int(after != name));
        QCOMPARE(filesIn(at("jobs")), QStringList { after });
        QVERIFY(log.isEmpty() && inStep(store));
    }

    void intake_queuesInNameOrderAndReloadsAfterRestart()
    {
        QVERIFY(deliver({ "00003", "00001" }));
        QVERIFY(writeFile(at("jobs/0AB00002.job"), "10001000100000100\r\n")); // sorts first
        ShowingStore store;
        QCOMPARE(ScanNewJobs(store, m_root, true), 3);
        QVERIFY(deliver({ "00004" }));
        QCOMPARE(ScanNewJobs(store, m_root, true), 1);
        QCOMPARE(entryTexts(store.LstJobs),
                 (QStringList { "job 00002", "job 00001", "job 00003", "job 00004" }));
        QCOMPARE(queueOrders(store), (QList<int> { 0, 1, 2, 3 }));
        // The first job is selected; later ones change nothing.
        QCOMPARE(store.shown, QStringList { "00002" });

        QVERIFY(deliver({ "00005" })); // not yet taken when the station stops
        ShowingStore restarted;
        QCOMPARE(LoadWaitingJobs(restarted, m_root), 4);
        QCOMPARE(entryTexts(restarted.LstJobs),
                 (QStringList { "job 00001", "job 00002", "job 00003", "job 00004" }));
        QCOMPARE(queueOrders(restarted), (QList<int> { 0, 1, 2, 3 }));
        QCOMPARE(restarted.printJobs[1].photos[0].printed, 1); // as written in the file
        QCOMPARE(restarted.shown, QStringList { "00001" });
    }

    // How a file is parsed is tst_jobrecords' matter; here: what a refusal leaves behind.
    void refusedJobFile_staysAndIsLoggedOnce_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("content");
        // What becomes of the file between listing and reading.
        QTest::addColumn<QString>("whenOpened");
        QTest::addColumn<QString>("reason"); // logged; "": nothing
        const auto row = [](const char *tag, const QByteArray &name, const QByteArray &content,
                            const char *whenOpened, const char *reason) {
            QTest::newRow(tag) << name << content << QString(whenOpened) << QString(reason);
        };
        const QByteArray name = "1AB12345.job", good = jobText(1);
        row("short name", "1A.job", good, "", "shorter than 7");
        row("malformed", name, "0000100x200001250", "", "line 1: copies");
        row("name not text", "1AB\3772345.job", good, "", "not valid text");
        row("urgent marker", "1ABrgent.job", good, "", "rgent");
        row("removed", name, good, "removed", ""); // taken elsewhere: no log
        row("now a folder", name, good, "folder", "not a regular file");
    }
    void refusedJobFile_staysAndIsLoggedOnce()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, whenOpened);
        QFETCH(QString, reason);
        const QByteArray path = QFile::encodeName(at("jobs/")) + name; // raw: may not be valid text
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0
                && ::write(fd, content.constData(), size_t(content.size())) == content.size());
        ::close(fd);
        const auto removeFile = qScopeGuard([&] { ::unlink(path.constData()); }); // QDir cannot
        ScopedSysCalls restore;
        JobFs::sysCalls().openForReading = [=, open = restore.saved.openForReading](const char *p) {
            if (p == path && !whenOpened.isEmpty()) {
                ::unlink(p);
                if (whenOpened == "folder")
                    ::mkdir(p, 0755);
            }
            return open(p);
        };
        QVERIFY(deliver({ "99999" })); // a good job beside it is taken as usual

        JobStore store;
        StationLogRecorder recorder;
        QCOMPARE(ScanNewJobs(store, m_root, false) + ScanNewJobs(store, m_root, false), 1);
        QVERIFY(inStep(store) && store.printJobs[0].listKey == "99999");
        QCOMPARE(log.size(), int(!reason.isEmpty()));
        if (!reason.isEmpty())
            QVERIFY2(log[0].contains(reason) && log[0].contains(QFile::decodeName(path)),
                     qPrintable(log[0]));
        if (whenOpened.isEmpty()) // still there under its own name
            QVERIFY(::access(path.constData(), F_OK) == 0);
    }

    void claim_neverReplacesAFile_data()
    {
        QTest::addColumn<QString>("target"); // at the claimed name already: "other" file, "link"
        QTest::addColumn<int>("renameNoReplaceError"); // 0: the real call
        QTest::addColumn<int>("unlinkError"); // of the old name; ENOENT: removed elsewhere first
        QTest::addColumn<bool>("taken");
        QTest::newRow("target exists") << "other" << 0 << 0 << false;
        QTest::newRow("target exists, link fallback") << "other" << EINVAL << 0 << false;
        QTest::newRow("link fallback") << "" << EINVAL << 0 << true;
        QTest::newRow("link fallback, source stays") << "" << EINVAL << EBUSY << false;
        QTest::newRow("link fallback, old name removed elsewhere")
            << "" << EINVAL << ENOENT << true;
        // A link claim cut short between the link and the unlink: two names of one file.
        QTest::newRow("target a second name of it") << "link" << 0 << 0 << false;
    }
    void claim_neverReplacesAFile()
    {
        QFETCH(QString, target);
        QFETCH(int, renameNoReplaceError);
        QFETCH(int, unlinkError);
        QFETCH(bool, taken);
        ScopedSysCalls restore;
        if (renameNoReplaceError)
            JobFs::sysCalls().renameNoReplace
                = [=](const char *, const char *) { return renameNoReplaceError; };
        JobFs::sysCalls().unlink = [=, unlink = restore.saved.unlink](const char *p) {
            if (!unlinkError || !QByteArray(p).endsWith("1AB12345.job"))
                return unlink(p);
            if (unlinkError == ENOENT)
                unlink(p);
            return unlinkError;
        };
        QVERIFY(deliver({ "12345" }));
        if (target == "other")
            QVERIFY(writeFile(at("jobs/2AB12345.job"), "in a queue"));
        if (target == "link")
            QVERIFY(::link(QFile::encodeName(at("jobs/1AB12345.job")).constData(),
                           QFile::encodeName(at("jobs/2AB12345.job")).constData())
                    == 0);

        JobStore store;
        StationLogRecorder recorder;
        QCOMPARE(ScanNewJobs(store, m_root, false) + ScanNewJobs(store, m_root, false), int(taken));
        QVERIFY(inStep(store));
        QCOMPARE(log.size(), int(!taken && target != "link"));
        const bool claimed = taken || target == "link";
        QCOMPARE(readFile(at("jobs/2AB12345.job")),
                 target == "other" ? "in a queue"
                     : claimed     ? jobText(2)
                                   : "");
        QCOMPARE(readFile(at("jobs/1AB12345.job")), claimed ? "" : jobText(2));
        if (target == "other") { // once the earlier job has left, the waiting file is taken
            QVERIFY(QFile::remove(at("jobs/2AB12345.job")));
            QCOMPARE(ScanNewJobs(store, m_root, false), 1);
        }
    }

    void claim_fileReplacedMeanwhile_data()
    {
        QTest::addColumn<QByteArray>("replacement");
        QTest::addColumn<int>("photos"); // 0: not taken
        QTest::newRow("well-formed") << jobText(3) << 3;
        QTest::newRow("malformed, back under its name") << QByteArray("garbage") << 0;
    }
    void claim_fileReplacedMeanwhile()
    {
        QFETCH(QByteArray, replacement);
        QFETCH(int, photos);
        ScopedSysCalls restore;
        bool replaced = false;
        JobFs::sysCalls().renameNoReplace = [&](const char *from, const char *to) {
            if (!std::exchange(replaced, true)) { // the writer delivers again, by a rename
                writeFile(at("new.tmp"), replacement);
                ::rename(QFile::encodeName(at("new.tmp")).constData(), from);
            }
            return restore.saved.renameNoReplace(from, to);
        };
        QVERIFY(deliver({ "12345" }));
        JobStore store;
        QCOMPARE(ScanNewJobs(store, m_root, false), int(photos > 0));
        if (photos > 0)
            QCOMPARE(store.printJobs[0].photoCount, photos);
        else
            QCOMPARE(filesIn(at("jobs")), QStringList { "1AB12345.job" });
    }

    // queueOrder only grows between renumberings: compacted, in print order, before it passes
    // 32767. (A full queue is tst_scale's matter.)
    void queueOrder_compactedBeforeItOverflows()
    {
        JobStore store;
        for (const char *key : { "1", "2", "3" })
            appendJob(store, key);
        store.printJobs[0].queueOrder = store.printJobs[2].queueOrder = 32767;
        store.printJobs[1].queueOrder = 30000;
        QVERIFY(deliver({ "12345" }));
        QCOMPARE(ScanNewJobs(store, m_root, false), 1);
        QCOMPARE(queueOrders(store), (QList<int> { 1, 0, 2, 3 }));
    }

    void retireJob_slot_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("keysAfter"); // in slot order
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("first, the shown one")
            << 0 << "00003 00002" << QStringList { "00001", "00002" };
        QTest::newRow("middle") << 1 << "00001 00003" << QStringList { "00001" };
        QTest::newRow("last") << 2 << "00001 00002" << QStringList { "00001" };
    }
    void retireJob_slot()
    {
        QFETCH(int, slot);
        QVERIFY(deliver({ "00001", "00002", "00003" }));
        ShowingStore store;
        QCOMPARE(ScanNewJobs(store, m_root, false), 3);
        const QString key = store.printJobs[size_t(slot)].listKey;

        StationLogRecorder recorder;
        RetireJob(store, slot);
        QVERIFY(log.isEmpty() && inStep(store));
        QCOMPARE(filesIn(at("backup/jobs")) + filesIn(at("backup/images")),
                 QStringList(
                     { "3AB" + key + ".job", "AB" + key + "_0001.jpg", "AB" + key + "_0002.jpg" }));
        QTEST(store.printJobs[0].listKey + " " + store.printJobs[1].listKey, "keysAfter");
        QCOMPARE(store.LstJobs.selectedIndex(), 0);
        QTEST(store.shown, "shown");
        QCOMPARE(store.forceThumbRefresh, slot == 0);
        // The moved record prints in its turn.
        const auto head = FindNextJobToPrint(store.printJobs);
        QCOMPARE(formJobEntryText(store.printJobs[size_t(head.index)].listKey),
                 store.LstJobs.text(0));
    }

    void retireJob_lastJob_replacesOlderBackupSkipsMissingFiles()
    {
        QVERIFY(deliver({ "00001" }, 3));
        QVERIFY(QFile::remove(at("images/AB00001_0002.jpg")));
        QVERIFY(writeFile(at("backup/jobs/3AB00001.job"), "older delivery"));
        QVERIFY(writeFile(at("backup/images/AB00001_0001.jpg"), "older photo"));
        JobStore store;
        int cleared = 0;
        store.clearThumbnails = [&] { ++cleared; };
        QCOMPARE(ScanNewJobs(store, m_root, false), 1);
        StationLogRecorder recorder;
        RetireJob(store, 1); // not a job of the queue: nothing happens
        QCOMPARE(store.jobCount, 1);

        RetireJob(store, 0);
        QCOMPARE(readFile(at("backup/jobs/3AB00001.job"))
                     + readFile(at("backup/images/AB00001_0001.jpg")),
                 jobText(3) + "jpeg");
        QCOMPARE(filesIn(at("backup/images")),
                 QStringList({ "AB00001_0001.jpg", "AB00001_0003.jpg" }));
        QVERIFY(inStep(store) && store.jobCount == 0 && store.printJobs.size() == 1);
        QVERIFY(cleared == 1 && store.lastShownIndex == -1);
        RetireJob(store, 0); // the stale slot is no job either
        QCOMPARE(log.size(), 2);

        // The next job after an emptied queue: queueOrder 0, selected.
        QVERIFY(deliver({ "00002" }));
        QCOMPARE(ScanNewJobs(store, m_root, false), 1);
        QCOMPARE(store.printJobs[0].queueOrder, 0);
        QCOMPARE(store.LstJobs.selectedIndex(), 0);
    }

    void retireJob_goesOnPastRefusedMoves_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("jobFileMoved");
        QTest::addColumn<bool>("imagesMoved");
        QTest::newRow("folder at the backup name") << "folder" << false << true;
        QTest::newRow("other file system") << "exdev" << true << true;
        QTest::newRow("other file system, backup folder gone")
            << "exdev, no folder" << true << false;
    }
    void retireJob_goesOnPastRefusedMoves()
    {
        QFETCH(QString, fault);
        QFETCH(bool, jobFileMoved);
        QFETCH(bool, imagesMoved);
        ScopedSysCalls restore;
        if (fault.startsWith("exdev"))
            splitFileSystems();
        if (fault == "folder")
            QVERIFY(QDir().mkdir(at("backup/jobs/3AB00001.job")));
        else
            QVERIFY(writeFile(at("backup/jobs/3AB00001.job"), "older"));
        if (fault.endsWith("no folder"))
            QVERIFY(QDir(at("backup/images")).removeRecursively());
        QVERIFY(deliver({ "00001", "00002" }));
        JobStore store;
        QCOMPARE(ScanNewJobs(store, m_root, false), 2);

        StationLogRecorder recorder;
        RetireJob(store, 0);
        QCOMPARE(log.isEmpty(), jobFileMoved && imagesMoved);
        QVERIFY(inStep(store) && store.LstJobs.text(0) == "job 00002");
        // A job file that cannot go keeps its retiring name, so it is not listed again at a start.
        QCOMPARE(filesIn(at("jobs")).contains("2AB00001.job.retiring"), !jobFileMoved);
        // No temporary copy is left beside the backup.
        QCOMPARE(filesIn(at("backup/jobs")),
                 jobFileMoved ? QStringList { "3AB00001.job" } : QStringList());
        QCOMPARE(readFile(at("backup/jobs/3AB00001.job")), jobFileMoved ? jobText(2) : "");
        QCOMPARE(filesIn(at("images")).contains("AB00001_0001.jpg"), !imagesMoved);
        QCOMPARE(filesIn(at("backup/images")).size(), imagesMoved ? 2 : 0);
        JobStore restarted;
        QCOMPARE(LoadWaitingJobs(restarted, m_root), 1);
    }

    // The same order delivered again while the first is queued: the photos its file names have
    // the same names as the first's and must stay for it.
    void retireJob_orderDeliveredAgainKeepsItsPhotos_data()
    {
        QTest::addColumn<QByteArray>("again"); // the second delivery's job file
        QTest::addColumn<QString>("status"); // its name's first digit
        QTest::addColumn<bool>("claimed"); // after a failed backup, then a restart finishes it
        QTest::addColumn<QStringList>("staying");
        const QByteArray photo2 = "00002000100000100\r\n";
        const QStringList second { "AB00001_0002.jpg" };
        QTest::newRow("naming photo 2") << photo2 << "1" << false << second;
        QTest::newRow("awaiting payment, naming photo 2") << photo2 << "0" << false << second;
        QTest::newRow("unreadable: all stay")
            << QByteArray("garbage\r\n") << "1" << false
            << QStringList({ "AB00001_0001.jpg", "AB00001_0002.jpg" });
        QTest::newRow("claimed, naming photo 2") << photo2 << "1" << true << second;
    }

    void retireJob_orderDeliveredAgainKeepsItsPhotos()
    {
        QFETCH(QByteArray, again);
        QFETCH(QString, status);
        QFETCH(bool, claimed);
        QFETCH(QStringList, staying);
        QVERIFY(deliver({ "00001" }));
        JobStore store;
        QCOMPARE(ScanNewJobs(store, m_root, false), 1);
        StationLogRecorder recorder;
        if (claimed) {
            // The job file cannot go to backup and keeps its retiring name; the order comes again
            // with its photo and is taken before the next start finishes the first retirement.
            QVERIFY(QDir().mkdir(at("backup/jobs/3AB00001.job")));
            RetireJob(store, 0);
            QVERIFY(writeFile(at("images/AB00001_0002.jpg"), "again"));
            QVERIFY(writeFile(at("jobs/1AB00001.job"), again));
            QCOMPARE(ScanNewJobs(store, m_root, false), 1);
            QVERIFY(QDir().rmdir(at("backup/jobs/3AB00001.job")));
            JobStore restarted;
            QCOMPARE(LoadWaitingJobs(restarted, m_root), 1);
            QVERIFY(!filesIn(at("jobs")).contains("2AB00001.job.retiring"));
        } else {
            QVERIFY(writeFile(at("jobs/" + status + "AB00001.job"), again));
            RetireJob(store, 0);
        }
        QCOMPARE(filesIn(at("images")), staying);
        QCOMPARE(filesIn(at("backup/images")),
                 QStringList({ "AB00001_0001.jpg", "AB00001_0002.jpg" }));
        QCOMPARE(log.filter("delivered twice").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestJobFolders)
#include "tst_jobfolders.moc"
