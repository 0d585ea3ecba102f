#include "HardeningSupport.h"
#include "JobFileSystem.h"
#include "JobIntake.h"
#include "JobRetirement.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

using namespace Hardening;

namespace {

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

// The backup folders on another file system than the jobs and images: retiring copies,
// verifies, flushes and only then removes, and a backup that is full or fails loses nothing.
class TestCrossFs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void moveAcrossFileSystems_data();
    void moveAcrossFileSystems();
    void retireJob_backupFull_filesStayJobLeaves();
    void leftoverCopies_goAtStartUnlessInProgress();

private:
    QString at(const QString &relative) const { return m_dir->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCrossFs::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(at(".")).mkpath("backup"));
}

void TestCrossFs::moveAcrossFileSystems_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("error");
    QTest::newRow("none") << "" << 300 * 1024 << 0;
    QTest::newRow("copy altered on its way") << "alter" << 300 * 1024 << EIO;
    QTest::newRow("flush fails") << "flush" << 300 * 1024 << EIO;
    QTest::newRow("backup full") << "" << 2 * 1024 * 1024 << ENOSPC;
}

void TestCrossFs::moveAcrossFileSystems()
{
    QFETCH(QString, fault);
    QFETCH(int, size);
    QFETCH(int, error);
    const TmpfsMount backup(at("backup"), "size=1m");
    if (!backup.mounted())
        QSKIP(qPrintable("cannot mount a tmpfs (" + backup.error() + "); run as root"));
    const QString from = at("photo.jpg"), to = at("backup/photo.jpg");
    const QByteArray photo = randomBytes(size);
    QVERIFY(dropFile(from, photo));
    QVERIFY(dropFile(to, "an older backup of the same name"));

    const JobFs::SysCalls saved = JobFs::sysCalls();
    const auto restore = qScopeGuard([&] { JobFs::sysCalls() = saved; });
    QStringList steps; // each kind of call once, in the order first made
    const auto step = [&](const QString &name) {
        if (steps.isEmpty() || steps.last() != name)
            steps << name;
    };
    JobFs::SysCalls &calls = JobFs::sysCalls();
    calls.write = [&](int fd, const void *data, size_t length) {
        step("write");
        if (fault != "alter")
            return saved.write(fd, data, length);
        QByteArray altered(static_cast<const char *>(data), qsizetype(length));
        altered[0] = char(altered[0] ^ 1); // a fault no call reports
        return saved.write(fd, altered.constData(), length);
    };
    calls.syncFile = [&](int fd) {
        step("flush");
        return fault == "flush" ? EIO : saved.syncFile(fd);
    };
    calls.rename = [&](const char *a, const char *b) {
        step("rename");
        return saved.rename(a, b);
    };
    calls.unlink = [&](const char *path) {
        step("remove");
        return saved.unlink(path);
    };

    QCOMPARE(JobFs::moveReplacing(from, to), error);
    if (error == 0) {
        QCOMPARE(steps, QStringList({ "rename", "write", "flush", "rename", "remove" }));
        QCOMPARE(readFile(to), photo);
        QVERIFY(!QFile::exists(from));
    } else { // the source untouched, the older backup kept, no partial copy left
        QVERIFY(!steps.contains("remove"));
        QCOMPARE(readFile(from), photo);
        QCOMPARE(readFile(to), "an older backup of the same name");
    }
    QCOMPARE(filesIn(at("backup")), QStringList { "photo.jpg" });
}

void TestCrossFs::retireJob_backupFull_filesStayJobLeaves()
{
    const TmpfsMount backup(at("backup"), "size=256k");
    if (!backup.mounted())
        QSKIP(qPrintable("cannot mount a tmpfs (" + backup.error() + "); run as root"));
    QVERIFY(CreateFolderLayout(at("."))); // the backup folders on the tmpfs
    const QByteArray big = randomBytes(400 * 1024), small = randomBytes(4 * 1024);
    QVERIFY(dropFile(at("images/AB00001_0001.jpg"), small));
    QVERIFY(dropFile(at("images/AB00001_0002.jpg"), big));
    QVERIFY(dropFile(at("jobs/1AB00001.job"), jobText(2, 1)));
    QVERIFY(dropFile(at("images/AB00002_0001.jpg"), small));
    QVERIFY(dropFile(at("jobs/1AB00002.job"), jobText(1, 2)));
    JobStore store;
    QCOMPARE(ScanNewJobs(store, at("."), false), 2);

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("Cannot move .*/AB00001_0002.jpg .*No space left"));
    RetireJob(store, 0, at(".")); // the big photo does not fit
    QCOMPARE(store.jobCount, 1);
    QCOMPARE(store.LstJobs.count(), 1);
    QCOMPARE(store.LstJobs.text(0), "job 00002");
    QCOMPARE(filesIn(at("images")), QStringList({ "AB00001_0002.jpg", "AB00002_0001.jpg" }));
    QCOMPARE(readFile(at("images/AB00001_0002.jpg")), big);
    QCOMPARE(filesIn(at("backup/images")), QStringList { "AB00001_0001.jpg" });
    QCOMPARE(filesIn(at("backup/jobs")), QStringList { "3AB00001.job" });

    RetireJob(store, 0, at(".")); // the station goes on
    QCOMPARE(store.jobCount, 0);
    QCOMPARE(filesIn(at("backup/jobs")), QStringList({ "3AB00001.job", "3AB00002.job" }));
    QCOMPARE(filesIn(at("images")), QStringList { "AB00001_0002.jpg" });
    JobStore restarted;
    QCOMPARE(LoadWaitingJobs(restarted, at(".")), 0);
}

void TestCrossFs::leftoverCopies_goAtStartUnlessInProgress()
{
    QVERIFY(CreateFolderLayout(at(".")));
    // Left by moves cut short: one of a job file, one of a photo, and one still being made.
    QVERIFY(dropFile(at("backup/jobs/.zelvo-copy-a1b2c3"), jobText(1, 1)));
    QVERIFY(dropFile(at("backup/images/.zelvo-copy-d4e5f6"), "half a photo"));
    QVERIFY(dropFile(at("backup/images/.zelvo-copy-g7h8i9"), "a photo being copied"));
    const int copying
        = ::open(QFile::encodeName(at("backup/images/.zelvo-copy-g7h8i9")).constData(), O_RDONLY);
    QVERIFY(copying >= 0 && ::flock(copying, LOCK_EX) == 0);
    QVERIFY(dropFile(at("backup/images/AB00001_0001.jpg"), "a retired photo"));

    JobStore store;
    QCOMPARE(LoadWaitingJobs(store, at(".")), 0);
    QCOMPARE(filesIn(at("backup/jobs")), QStringList());
    QCOMPARE(filesIn(at("backup/images")),
             QStringList({ ".zelvo-copy-g7h8i9", "AB00001_0001.jpg" }));
    ::close(copying); // the station making it has stopped
    QCOMPARE(LoadWaitingJobs(store, at(".")), 0);
    QCOMPARE(filesIn(at("backup/images")), QStringList { "AB00001_0001.jpg" });
}

QTEST_GUILESS_MAIN(TestCrossFs)
#include "tst_crossfs.moc"
