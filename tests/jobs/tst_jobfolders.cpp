#include "JobIntake.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "JobsTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

static QByteArray jobText(int photos)
{
    QByteArray text;
    for (int i = 1; i <= photos; ++i)
        text += "0" + QByteArray::number(i).rightJustified(4, '0') + "000100000100\r\n";
    return text;
}

// The table, jobCount and the list hold the same jobs; an emptied table keeps one stale slot.
static bool inStep(const JobStore &store)
{
    const size_t tableSize
        = store.jobCount > 0 || store.printJobs.empty() ? size_t(store.jobCount) : 1;
    return store.LstJobs.count() == store.jobCount && store.printJobs.size() == tableSize;
}

class TestJobFolders : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void createFolderLayout_stopsAtFirstFailure();
    void intake_takesByStatusDigit_data();
    void intake_takesByStatusDigit();
    void intake_queuesInNameOrderAndReloadsAfterRestart();
    void refusedJobFile_staysAndIsLoggedOnce_data();
    void refusedJobFile_staysAndIsLoggedOnce();
    void claim_neverReplacesAFile_data();
    void claim_neverReplacesAFile();
    void claim_fileReplacedMeanwhile_data();
    void claim_fileReplacedMeanwhile();
    void limits_fullQueueAndQueueOrder();
    void retireJob_slot_data();
    void retireJob_slot();
    void retireJob_lastJob_replacesOlderBackupSkipsMissingFiles();
    void retireJob_urgentCopy();
    void retireJob_goesOnPastRefusedMoves_data();
    void retireJob_goesOnPastRefusedMoves();

private:
    QString at(const QString &relative) const { return m_dir->filePath(relative); }
    QStringList files(const QString &folder) const
    {
        return QDir(at(folder)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // Job files 1AB<key>.job with their images, as the order-taking program leaves them.
    void deliver(const QStringList &keys, int photos = 2)
    {
        for (const QString &key : keys) {
            QVERIFY(writeFile(at("jobs/1AB" + key + ".job"), jobText(photos)));
            for (int i = 1; i <= photos; ++i)
                QVERIFY(
                    writeFile(at(QStringLiteral("images/AB%1_000%2.jpg").arg(key).arg(i)), "jpeg"));
        }
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
};

void TestJobFolders::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_root = m_dir->path();
    QVERIFY(CreateFolderLayout(m_root));
}

void TestJobFolders::createFolderLayout_stopsAtFirstFailure()
{
    JobsLogRecorder log;
    QVERIFY(!CreateFolderLayout(at("missing/system")));
    QVERIFY(QDir().mkdir(at("system")) && writeFile(at("system/images"), "a file"));
    QVERIFY(CreateFolderLayout(at("system"))); // something of that name is there: not made again
    QVERIFY(QDir().mkdir(at("other")) && writeFile(at("other/backup"), "a file"));
    QVERIFY(!CreateFolderLayout(at("other")));
    QCOMPARE(QDir(at("other")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList { "backup", "images", "jobs" }));
    QCOMPARE(log.lines.size(), 2);
}

void TestJobFolders::intake_takesByStatusDigit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("printAll");
    QTest::addColumn<QString>("after"); // the name in the jobs folder after the scan
    QTest::newRow("released") << "1AB12345.job" << false << "2AB12345.job";
    QTest::newRow("awaiting payment") << "0AB12345.job" << false << "0AB12345.job";
    QTest::newRow("awaiting payment, print all") << "0AB12345.job" << true << "2AB12345.job";
    QTest::newRow("upper-case extension") << "1AB12345.JOB" << false << "2AB12345.JOB";
    QTest::newRow("already taken") << "2AB12345.job" << true << "2AB12345.job";
    QTest::newRow("retired") << "3AB12345.job" << true << "3AB12345.job";
    QTest::newRow("other extension") << "1AB12345.txt" << true << "1AB12345.txt";
}

void TestJobFolders::intake_takesByStatusDigit()
{
    QFETCH(QString, name);
    QFETCH(bool, printAll);
    QFETCH(QString, after);
    QVERIFY(writeFile(at("jobs/" + name), jobText(1)));
    JobStore store;
    JobsLogRecorder log;
    const bool taken = after != name;
    QCOMPARE(ScanNewJobs(store, m_root, printAll), int(taken));
    QCOMPARE(files("jobs"), QStringList { after });
    QVERIFY(log.lines.isEmpty() && inStep(store) && store.jobCount == int(taken));
    if (taken)
        QCOMPARE(store.printJobs[0].fileName + " " + store.LstJobs.text(0), after + " job 12345");
}

void TestJobFolders::intake_queuesInNameOrderAndReloadsAfterRestart()
{
    deliver({ "00003", "00001" });
    QVERIFY(writeFile(at("jobs/0AB00002.job"), "10001000100000100\r\n")); // sorts first
    JobStore store;
    QStringList shown;
    store.showJobThumbnails = [&](const QString &key) { shown << key; };
    QCOMPARE(ScanNewJobs(store, m_root, true), 3);
    deliver({ "00004" });
    QCOMPARE(ScanNewJobs(store, m_root, true), 1);
    QCOMPARE(store.LstJobs.text(0) + ", " + store.LstJobs.text(3), "job 00002, job 00004");
    QCOMPARE(queueOrders(store), (QList<int> { 0, 1, 2, 3 }));
    QCOMPARE(shown,
             QStringList { "00002" }); // the first job is selected; later ones change nothing

    deliver({ "00005" }); // not yet taken when the station stops
    JobStore restarted;
    restarted.showJobThumbnails = [&](const QString &key) { shown << key; };
    QCOMPARE(LoadWaitingJobs(restarted, m_root), 4);
    QCOMPARE(restarted.LstJobs.text(0) + ", " + restarted.LstJobs.text(1), "job 00001, job 00002");
    QCOMPARE(queueOrders(restarted), (QList<int> { 0, 1, 2, 3 }));
    QCOMPARE(restarted.printJobs[1].photos[0].printed, 1); // as written in the file
    QCOMPARE(shown.last(), "00001");
    QVERIFY(files("jobs").contains("1AB00005.job"));
}

void TestJobFolders::refusedJobFile_staysAndIsLoggedOnce_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("whenOpened"); // what becomes of the file between listing and reading
    QTest::addColumn<QString>("reason");
    const QByteArray name = "1AB12345.job";
    QTest::newRow("short name") << QByteArray("1A.job") << jobText(1) << ""
                                << "shorter than 7";
    QTest::newRow("malformed column") << name << QByteArray("0000100x200001250") << ""
                                      << "line 1: copies";
    QTest::newRow("blank line") << name << jobText(1) + "\r\n" + jobText(1) << ""
                                << "line 2: the line is blank";
    QTest::newRow("too many lines") << name << jobText(1).repeated(32768) << ""
                                    << "more than 32767";
    QTest::newRow("name not text") << QByteArray("1AB\xff"
                                                 "2345.job")
                                   << jobText(1) << ""
                                   << "not valid text";
    QTest::newRow("urgent marker") << QByteArray("1ABrgent.job") << jobText(1) << ""
                                   << "rgent";
    QTest::newRow("removed") << name << jobText(1) << "removed"
                             << ""; // taken elsewhere: no log
    QTest::newRow("now a folder") << name << jobText(1) << "folder"
                                  << "not a regular file";
}

void TestJobFolders::refusedJobFile_staysAndIsLoggedOnce()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, whenOpened);
    const QByteArray path = QFile::encodeName(at("jobs/")) + name; // raw: may not be valid text
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size());
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
    deliver({ "99999" }); // a good job beside it is taken as usual

    JobStore store;
    JobsLogRecorder log;
    QCOMPARE(ScanNewJobs(store, m_root, false) + ScanNewJobs(store, m_root, false), 1);
    QFETCH(QString, reason);
    QCOMPARE(log.lines.size(), int(!reason.isEmpty()));
    if (!reason.isEmpty())
        QVERIFY2(log.lines[0].contains(reason) && log.lines[0].contains(QFile::decodeName(path)),
                 qPrintable(log.lines[0]));
    QVERIFY(inStep(store) && store.printJobs[0].listKey == "99999");
    if (whenOpened.isEmpty()) // still there under its own name
        QVERIFY(::access(path.constData(), F_OK) == 0);
}

void TestJobFolders::claim_neverReplacesAFile_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<int>("renameNoReplaceError"); // 0: the real call
    QTest::addColumn<bool>("sourceCannotGo");
    QTest::addColumn<bool>("taken");
    QTest::newRow("target exists") << true << 0 << false << false;
    QTest::newRow("target exists, link fallback") << true << EINVAL << false << false;
    QTest::newRow("link fallback") << false << EINVAL << false << true;
    QTest::newRow("link fallback, source stays") << false << EINVAL << true << false;
}

void TestJobFolders::claim_neverReplacesAFile()
{
    QFETCH(bool, targetExists);
    QFETCH(int, renameNoReplaceError);
    QFETCH(bool, sourceCannotGo);
    QFETCH(bool, taken);
    ScopedSysCalls restore;
    if (renameNoReplaceError)
        JobFs::sysCalls().renameNoReplace
            = [=](const char *, const char *) { return renameNoReplaceError; };
    JobFs::sysCalls().unlink = [=, unlink = restore.saved.unlink](const char *p) {
        return sourceCannotGo && QByteArray(p).endsWith("1AB12345.job") ? EBUSY : unlink(p);
    };
    deliver({ "12345" });
    if (targetExists)
        QVERIFY(writeFile(at("jobs/2AB12345.job"), "in a queue"));

    JobStore store;
    JobsLogRecorder log;
    QCOMPARE(ScanNewJobs(store, m_root, false) + ScanNewJobs(store, m_root, false), int(taken));
    QVERIFY(inStep(store) && store.printJobs.size() == size_t(taken));
    QCOMPARE(log.lines.size(), int(!taken));
    QCOMPARE(readFile(at("jobs/2AB12345.job")),
             targetExists ? "in a queue"
                 : taken  ? jobText(2)
                          : "");
    QCOMPARE(readFile(at("jobs/1AB12345.job")), taken ? "" : jobText(2));
    if (targetExists) { // once the earlier job has left, the waiting file is taken
        QVERIFY(QFile::remove(at("jobs/2AB12345.job")));
        QCOMPARE(ScanNewJobs(store, m_root, false), 1);
        QCOMPARE(readFile(at("jobs/2AB12345.job")), jobText(2));
    }
}

void TestJobFolders::claim_fileReplacedMeanwhile_data()
{
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<int>("photos"); // 0: not taken
    QTest::newRow("well-formed") << jobText(3) << 3;
    QTest::newRow("malformed") << QByteArray("garbage") << 0;
}

void TestJobFolders::claim_fileReplacedMeanwhile()
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
    deliver({ "12345" });
    JobStore store;
    JobsLogRecorder log;
    QCOMPARE(ScanNewJobs(store, m_root, false), int(photos > 0));
    if (photos > 0)
        QCOMPARE(store.printJobs[0].photoCount, photos);
    else
        QCOMPARE(files("jobs"), QStringList { "1AB12345.job" });
}

void TestJobFolders::limits_fullQueueAndQueueOrder()
{
    JobStore store;
    QStringList keys;
    for (int i = 0; i < MaxJobs; ++i)
        keys << QString::number(i);
    fillQueue(store, keys);
    deliver({ "12345" });
    JobsLogRecorder log;
    QCOMPARE(ScanNewJobs(store, m_root, false), 0);
    QVERIFY(inStep(store) && store.jobCount == MaxJobs);
    QVERIFY(log.lines.value(0).contains("queue is full"));

    // queueOrder only grows between renumberings: compacted, in print order, before it passes
    // 32767.
    JobStore old;
    fillQueue(old, { "1", "2", "3" });
    old.printJobs[0].queueOrder = old.printJobs[2].queueOrder = 32767;
    old.printJobs[1].queueOrder = 30000;
    QCOMPARE(ScanNewJobs(old, m_root, false), 1);
    QCOMPARE(queueOrders(old), (QList<int> { 1, 0, 2, 3 }));
}

void TestJobFolders::retireJob_slot_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("keysAfter"); // in slot order
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("first, the shown one") << 0 << "00003 00002" << QStringList { "00001", "00002" };
    QTest::newRow("middle") << 1 << "00001 00003" << QStringList { "00001" };
    QTest::newRow("last") << 2 << "00001 00002" << QStringList { "00001" };
}

void TestJobFolders::retireJob_slot()
{
    QFETCH(int, slot);
    deliver({ "00001", "00002", "00003" });
    JobStore store;
    QStringList shown;
    store.showJobThumbnails = [&](const QString &key) { shown << key; };
    QCOMPARE(ScanNewJobs(store, m_root, false), 3);
    const QString key = store.printJobs[size_t(slot)].listKey;

    JobsLogRecorder log;
    RetireJob(store, slot, m_root);
    QVERIFY(log.lines.isEmpty() && inStep(store));
    QCOMPARE(files("backup/jobs"), QStringList { "3AB" + key + ".job" });
    QCOMPARE(files("backup/images"),
             QStringList({ "AB" + key + "_0001.jpg", "AB" + key + "_0002.jpg" }));
    QCOMPARE(files("jobs").size() + files("images").size(), 2 + 4);
    QTEST(store.printJobs[0].listKey + " " + store.printJobs[1].listKey, "keysAfter");
    QCOMPARE(store.LstJobs.selectedIndex(), 0);
    QCOMPARE(store.lastShownIndex, 0);
    QTEST(shown, "shown");
    QCOMPARE(store.forceThumbRefresh, slot == 0);
    const auto head = FindNextJobToPrint(store.printJobs); // the moved record prints in its turn
    QCOMPARE(formJobEntryText(store.printJobs[size_t(head.index)].listKey), store.LstJobs.text(0));
}

void TestJobFolders::retireJob_lastJob_replacesOlderBackupSkipsMissingFiles()
{
    deliver({ "00001" }, 3);
    QVERIFY(QFile::remove(at("images/AB00001_0002.jpg")));
    QVERIFY(writeFile(at("backup/jobs/3AB00001.job"), "older delivery"));
    QVERIFY(writeFile(at("backup/images/AB00001_0001.jpg"), "older photo"));
    JobStore store;
    int cleared = 0;
    store.clearThumbnails = [&] { ++cleared; };
    QCOMPARE(ScanNewJobs(store, m_root, false), 1);
    JobsLogRecorder log;
    RetireJob(store, 1, m_root); // not a job of the queue: nothing happens
    QCOMPARE(store.jobCount, 1);

    RetireJob(store, 0, m_root);
    QCOMPARE(readFile(at("backup/jobs/3AB00001.job")), jobText(3));
    QCOMPARE(readFile(at("backup/images/AB00001_0001.jpg")), "jpeg");
    QCOMPARE(files("backup/images"), QStringList({ "AB00001_0001.jpg", "AB00001_0003.jpg" }));
    QVERIFY(inStep(store) && store.jobCount == 0 && store.printJobs.size() == 1);
    QCOMPARE(cleared, 1);
    QCOMPARE(store.lastShownIndex, -1);
    RetireJob(store, 0, m_root); // the stale slot is no job either
    QCOMPARE(log.lines.size(), 2);

    deliver({ "00002" }); // the next job after an emptied queue: queueOrder 0, selected
    QCOMPARE(ScanNewJobs(store, m_root, false), 1);
    QCOMPARE(store.printJobs[0].queueOrder, 0);
    QCOMPARE(store.LstJobs.selectedIndex(), 0);
}

void TestJobFolders::retireJob_urgentCopy()
{
    deliver({ "00001" });
    JobStore store;
    QCOMPARE(ScanNewJobs(store, m_root, false), 1);
    // An urgent copy of photo 1 as print now makes it: its own image, the source's file name.
    JobRecord urgent = store.printJobs[0];
    urgent.listKey = "Urgente 1";
    urgent.photos.resize(1);
    urgent.photoCount = 1;
    urgent.photos[0].imageFileName = "AB00001_0001u0.jpg";
    QVERIFY(writeFile(at("images/AB00001_0001u0.jpg"), "copy"));
    store.printJobs.push_back(urgent);
    store.LstJobs.insert(0, "Urgente 1");
    ++store.jobCount;

    RetireJob(store, 1, m_root);
    QVERIFY(inStep(store) && store.LstJobs.text(0) == "job 00001");
    QCOMPARE(files("backup/images"), QStringList { "AB00001_0001u0.jpg" });
    QCOMPARE(files("backup/jobs"),
             QStringList { "3AB00001.job" }); // goes with the first copy retired
    RetireJob(store, 0, m_root); // then the source: no job file left, its images go as usual
    QCOMPARE(files("backup/images").size(), 3);
}

void TestJobFolders::retireJob_goesOnPastRefusedMoves_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("jobFileMoved");
    QTest::addColumn<bool>("imagesMoved");
    QTest::newRow("folder at the backup name") << "folder" << false << true;
    QTest::newRow("other file system") << "exdev" << true << true;
    QTest::newRow("other file system, backup folder gone") << "exdev, no folder" << true << false;
}

void TestJobFolders::retireJob_goesOnPastRefusedMoves()
{
    QFETCH(QString, fault);
    QFETCH(bool, jobFileMoved);
    QFETCH(bool, imagesMoved);
    ScopedSysCalls restore;
    if (fault.startsWith("exdev")) { // every folder its own file system
        JobFs::sysCalls().rename
            = [rename = restore.saved.rename](const char *from, const char *to) {
                  const auto folder = [](QByteArray p) { return p.left(p.lastIndexOf('/')); };
                  return folder(from) == folder(to) ? rename(from, to) : EXDEV;
              };
    }
    if (fault == "folder")
        QVERIFY(QDir().mkdir(at("backup/jobs/3AB00001.job")));
    else
        QVERIFY(writeFile(at("backup/jobs/3AB00001.job"), "older"));
    if (fault.endsWith("no folder"))
        QVERIFY(QDir(at("backup/images")).removeRecursively());
    deliver({ "00001", "00002" });
    JobStore store;
    QCOMPARE(ScanNewJobs(store, m_root, false), 2);

    JobsLogRecorder log;
    RetireJob(store, 0, m_root);
    QCOMPARE(log.lines.isEmpty(), jobFileMoved && imagesMoved);
    // A job file that cannot go keeps its retiring name, so it is not listed again at a start.
    QCOMPARE(files("jobs").contains("2AB00001.job.retiring"), !jobFileMoved);
    QCOMPARE(readFile(at("backup/jobs/3AB00001.job")), jobFileMoved ? jobText(2) : "");
    QCOMPARE(files("backup/jobs").size(), int(jobFileMoved)); // and no temporary copy left
    QCOMPARE(files("images").contains("AB00001_0001.jpg"), !imagesMoved);
    QCOMPARE(files("backup/images").size(), imagesMoved ? 2 : 0);
    QVERIFY(inStep(store) && store.LstJobs.text(0) == "job 00002");
    JobStore restarted;
    QCOMPARE(LoadWaitingJobs(restarted, m_root), 1);
    QCOMPARE(restarted.LstJobs.text(0), "job 00002");
}

QTEST_GUILESS_MAIN(TestJobFolders)
#include "tst_jobfolders.moc"
