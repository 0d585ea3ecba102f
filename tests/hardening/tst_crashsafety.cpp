#include "HardeningSupport.h"
#include "JobIntake.h"
#include "JobStore.h"
#include "TestPhotos.h"

#include <QElapsedTimer>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <algorithm>
#include <numeric>

using namespace Hardening;

namespace {

struct Photo
{
    QString name;
    QByteArray hash;
};

struct DeliveredJob
{
    QString key; // the job number; the files are ?AB<key>.job
    QByteArray hash;
    QList<Photo> photos;
};

// Where a file is, by name, and which file it is: two names of one file are one file.
struct Place
{
    QString path;
    ino_t inode = 0;
};

QList<Place> placesOf(const QStringList &paths)
{
    QList<Place> found;
    for (const QString &path : paths) {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        const bool sameFile = std::any_of(found.begin(), found.end(),
                                          [&](const Place &p) { return p.inode == st.st_ino; });
        if (!sameFile)
            found << Place { path, st.st_ino };
    }
    return found;
}

} // namespace

// The station killed at random points of claiming, printing and retiring, and started again:
// no job file or photo is ever lost or kept twice, and every job ends printed and retired.
class TestCrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void killedAnywhere_nothingLostOrDoubled();
    void retirementCutShort_finishedAtStart_data();
    void retirementCutShort_finishedAtStart();

private:
    QString at(const QString &relative) const { return m_root + QLatin1Char('/') + relative; }
    // Job files 1AB<key>.job with 1-3 photos (or `photos`), as the order-taking program
    // delivers them: the photos first.
    void deliver(int count, QRandomGenerator &random, int photos = 0);
    // "" when every job file and photo is in exactly one place, with its own content, and a
    // job in backup has all its photos there; otherwise what is wrong. `finished`: everything
    // must be in backup.
    QString misplaced(bool finished) const;

    QString m_root;
    QList<DeliveredJob> m_jobs;
};

void TestCrashSafety::deliver(int count, QRandomGenerator &random, int photoCount)
{
    for (int n = 0; n < count; ++n) {
        DeliveredJob job;
        const int number = int(m_jobs.size());
        job.key = QStringLiteral("%1").arg(number, 5, 10, QLatin1Char('0'));
        const int photos = photoCount > 0 ? photoCount : 1 + random.bounded(3);
        for (int p = 1; p <= photos; ++p) {
            const QString name
                = QStringLiteral("AB%1_%2.jpg").arg(job.key).arg(p, 4, 10, QChar('0'));
            // Sizes differ from photo to photo, so that no two have the same bytes.
            const QByteArray jpeg
                = TestPhotos::jpegBytes(16 + number % 64, 12 + p + 4 * (number / 64));
            QVERIFY(dropFile(at("images/" + name), jpeg));
            job.photos << Photo { name, hashOf(jpeg) };
        }
        const QByteArray text = jobText(photos, number);
        QVERIFY(dropFile(at("jobs/1AB" + job.key + ".job"), text));
        job.hash = hashOf(text);
        m_jobs << job;
    }
}

QString TestCrashSafety::misplaced(bool finished) const
{
    QSet<QString> known;
    for (const DeliveredJob &job : m_jobs) {
        const QStringList names { "jobs/1AB" + job.key + ".job", "jobs/2AB" + job.key + ".job",
                                  "backup/jobs/3AB" + job.key + ".job" };
        const QList<Place> places = placesOf({ at(names[0]), at(names[1]), at(names[2]) });
        if (places.size() != 1)
            return QStringLiteral("job %1 is in %2 places").arg(job.key).arg(places.size());
        if (hashOf(readFile(places[0].path)) != job.hash)
            return places[0].path + " is not the job file delivered";
        const bool inBackup = places[0].path.contains("/backup/");
        if (finished && !inBackup)
            return places[0].path + " was never retired";
        for (const QString &name : names)
            known << name;
        for (const Photo &photo : job.photos) {
            const QList<Place> photoPlaces
                = placesOf({ at("images/" + photo.name), at("backup/images/" + photo.name) });
            if (photoPlaces.size() != 1)
                return QStringLiteral("%1 is in %2 places").arg(photo.name).arg(photoPlaces.size());
            if (hashOf(readFile(photoPlaces[0].path)) != photo.hash)
                return photoPlaces[0].path + " is not the photo delivered";
            if (photoPlaces[0].path.contains("/backup/") != inBackup)
                return photo.name + " is not where its job file " + places[0].path + " is";
            known << "images/" + photo.name << "backup/images/" + photo.name;
        }
    }
    // Nothing else: no temporary copy, no name of a retirement under way, no stray file.
    for (const QString &folder : QStringList { "jobs", "images", "backup/jobs", "backup/images" })
        for (const QString &name : filesIn(at(folder)))
            if (!known.contains(folder + QLatin1Char('/') + name))
                return QStringLiteral("%1/%2 should not be there").arg(folder, name);
    return {};
}

void TestCrashSafety::killedAnywhere_nothingLostOrDoubled()
{
    const int cycles = qEnvironmentVariableIsSet("ZELVO_CRASH_CYCLES")
        ? qEnvironmentVariableIntValue("ZELVO_CRASH_CYCLES")
        : ZELVO_CRASH_CYCLES;
    const quint32 seed = qEnvironmentVariableIsSet("ZELVO_CRASH_SEED")
        ? quint32(qEnvironmentVariableIntValue("ZELVO_CRASH_SEED"))
        : QRandomGenerator::global()->generate();
    qInfo("%d cycles, seed %u (ZELVO_CRASH_CYCLES, ZELVO_CRASH_SEED)", cycles, seed);
    QRandomGenerator random(seed);

    QTemporaryDir dir;
    m_root = dir.filePath("system");
    m_jobs.clear();
    QVERIFY(QDir().mkpath(at("backup")));
    // The backup on a file system of its own, so that retiring copies and removes.
    const TmpfsMount backup(at("backup"), "size=64m");
    const bool mounted = backup.mounted();
    if (!mounted)
        qInfo("Cannot mount a tmpfs on the backup folder (%s); every folder is made to act as "
              "its own file system instead",
              qPrintable(backup.error()));
    QVERIFY(CreateFolderLayout(m_root));
    const QStringList base { "--system", m_root, "--pdf", dir.filePath("pdf"), "--log" };

    QElapsedTimer clock;
    clock.start();
    int pointKills = 0, startKills = 0, restarts = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        int unfinished = 0;
        for (const DeliveredJob &job : m_jobs)
            unfinished += !QFile::exists(at("backup/jobs/3AB" + job.key + ".job"));
        deliver(std::max(3, 10 - unfinished), random); // new jobs to claim in every run

        QStringList arguments = base;
        arguments << "--wait-go";
        if (!mounted)
            arguments << "--split-fs";
        const bool byLink = random.bounded(4) == 0;
        if (byLink)
            arguments << "--claim-by-link";
        // Half the runs die at an exact file-system call (some while putting right what the
        // run before left); the others are killed after a random time.
        const bool crashPoint = random.bounded(2) == 0;
        if (crashPoint) {
            const QStringList calls { byLink ? "link" : "renameNoReplace", "rename", "unlink" };
            arguments << "--crash-at"
                      << QStringLiteral("%1:%2%3")
                             .arg(calls[random.bounded(int(calls.size()))])
                             .arg(1 + random.bounded(3))
                             .arg(random.bounded(2) ? ":after" : "");
        }
        Station station(arguments);
        QTRY_VERIFY_WITH_TIMEOUT(station.ready() || !station.running(), 60000);
        ++restarts;
        if (!station.ready() && crashPoint) {
            ++startKills;
            continue;
        }
        QVERIFY2(station.ready(), station.errors.constData());
        const QString wrong = misplaced(false);
        QVERIFY2(wrong.isEmpty(),
                 qPrintable(QStringLiteral("cycle %1 (%2): %3\n%4")
                                .arg(cycle)
                                .arg(arguments.mid(base.size()).join(' '), wrong,
                                     QString::fromUtf8(station.errors))));
        station.send("go");
        if (random.bounded(4) == 0)
            deliver(1, random); // a job arrives while the station runs
        if (!crashPoint)
            QTest::qWait(random.bounded(100));
        else if (QTest::qWaitFor([&] { return !station.running(); }, 2000))
            ++pointKills;
        if (station.running()) {
            station.process.kill();
            QVERIFY(station.process.waitForFinished());
        }
    }

    Station last(base + QStringList { "--exit-when-idle" });
    QTRY_VERIFY_WITH_TIMEOUT(!last.running(), 300000);
    QCOMPARE(last.process.exitCode(), 0);
    const QString wrong = misplaced(true);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong + "\n" + QString::fromUtf8(last.errors)));

    // Every photo printed at least once, never onto an empty page; after a crash the photo
    // being printed and the rest of its job are printed again.
    QMap<QString, int> prints;
    static const QRegularExpression pdfName(QStringLiteral("_Zelvo_(.+\\.jpg)(-\\d+)?\\.pdf$"));
    for (const QString &name : QDir(dir.filePath("pdf")).entryList(QDir::Files)) {
        const QByteArray pdf = readFile(dir.filePath("pdf/" + name));
        QVERIFY2(pdf.startsWith("%PDF") && pdf.contains("/Image") && pdf.contains("%%EOF"),
                 qPrintable(name + " is not a complete document with the photo"));
        ++prints[pdfName.match(name).captured(1)];
    }
    int photos = 0;
    for (const DeliveredJob &job : m_jobs) {
        for (const Photo &photo : job.photos) {
            QVERIFY2(prints.value(photo.name) > 0, qPrintable(photo.name + " was never printed"));
            ++photos;
        }
    }
    qInfo("%d starts in %lld ms: %d died at a file-system call while starting, %d later, the "
          "others were killed after a random time; %d jobs, %d photos, %d documents printed",
          restarts, clock.elapsed(), startKills, pointKills, int(m_jobs.size()), photos,
          int(std::accumulate(prints.begin(), prints.end(), 0)));
}

void TestCrashSafety::retirementCutShort_finishedAtStart_data()
{
    QTest::addColumn<int>("photosMoved");
    QTest::addColumn<bool>("jobFileCopied"); // copied to backup, not yet removed
    QTest::newRow("before any photo moved") << 0 << false;
    QTest::newRow("after one photo") << 1 << false;
    QTest::newRow("after the job file's copy") << 3 << true;
}

void TestCrashSafety::retirementCutShort_finishedAtStart()
{
    QFETCH(int, photosMoved);
    QFETCH(bool, jobFileCopied);
    QTemporaryDir dir;
    m_root = dir.path();
    QVERIFY(CreateFolderLayout(m_root));
    QRandomGenerator random(1);
    m_jobs.clear();
    deliver(1, random, 3);
    // What a station leaves when it stops while retiring job 00000.
    QVERIFY(QFile::rename(at("jobs/1AB00000.job"), at("jobs/2AB00000.job.retiring")));
    for (int p = 0; p < photosMoved; ++p)
        QVERIFY(QFile::rename(at("images/" + m_jobs[0].photos[p].name),
                              at("backup/images/" + m_jobs[0].photos[p].name)));
    if (jobFileCopied)
        QVERIFY(QFile::copy(at("jobs/2AB00000.job.retiring"), at("backup/jobs/3AB00000.job")));

    JobStore store;
    QCOMPARE(LoadWaitingJobs(store, m_root), 0); // not listed, and so not printed, again
    const QString wrong = misplaced(true);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

QTEST_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
