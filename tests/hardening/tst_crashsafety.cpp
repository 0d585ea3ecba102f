#include "HardeningSupport.h"
#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobIntake.h"
#include "JobsTestSupport.h"

#include <QMap>
#include <QRandomGenerator>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <numeric>

using namespace Hardening;

// The station killed at random points of claiming, printing and retiring, and started again:
// no job file or photo is ever lost or kept twice, and every job ends printed and retired. With
// the backup on another file system (a tmpfs the test mounts, which needs root), retiring
// copies, verifies, flushes and only then removes, and a backup that is full or fails loses
// nothing.
class TestCrashSafety : public SystemFolderTest
{
    Q_OBJECT

private:
    struct DeliveredJob
    {
        QString key; // the job number; the files are ?AB<key>.job
        QByteArray text;
        QMap<QString, QByteArray> photos; // by name
    };

    // Job files 1AB<key>.job with 1-3 photos (or `photos`), as the order-taking program
    // delivers them.
    [[nodiscard]] bool deliver(int count, QRandomGenerator &random, int photos = 0)
    {
        for (int n = 0; n < count; ++n) {
            const int number = int(m_jobs.size());
            DeliveredJob job;
            job.key = QStringLiteral("%1").arg(number, 5, 10, QLatin1Char('0'));
            const ShopAccounts::AsOrderProgram asOrders(m_accounts.get());
            job.photos = deliverJob(m_root, job.key, photos > 0 ? photos : 1 + random.bounded(3),
                                    number, &job.text);
            if (job.photos.isEmpty())
                return false;
            m_jobs << job;
        }
        return true;
    }

    // The one of `names` that is there, holding `content`; "" when none or more than one is
    // (two names of one file count once) or it holds something else. A job file may have
    // photos marked printed where `content` has them to print.
    QString placeOf(const QStringList &names, const QByteArray &content) const
    {
        QStringList found;
        QList<JobFs::FileIdentity> files;
        for (const QString &name : names) {
            const auto file = JobFs::identityOf(at(name));
            if (file && !files.contains(*file)) {
                found << name;
                files << *file;
            }
        }
        return found.size() == 1 && withoutProgress(readFile(at(found[0]))) == content ? found[0]
                                                                                       : QString();
    }

    // "" when every job file and photo is in exactly one place, with its own content, and a
    // job in backup has all its photos there; otherwise what is wrong. `finished`: everything
    // must be in backup.
    QString misplaced(bool finished) const
    {
        QSet<QString> known;
        for (const DeliveredJob &job : m_jobs) {
            const QStringList names { "jobs/1AB" + job.key + ".job", "jobs/2AB" + job.key + ".job",
                                      "backup/jobs/3AB" + job.key + ".job" };
            const QString place = placeOf(names, job.text);
            if (place.isEmpty() || (finished && place != names[2]))
                return QStringLiteral("job %1 is not once, whole, where it belongs").arg(job.key);
            known += QSet<QString>(names.begin(), names.end());
            for (auto photo = job.photos.cbegin(); photo != job.photos.cend(); ++photo) {
                const QStringList photoNames { "images/" + photo.key(),
                                               "backup/images/" + photo.key() };
                if (placeOf(photoNames, photo.value()) != photoNames[place == names[2]])
                    return photo.key() + " is not once, whole, beside " + place;
                known += QSet<QString>(photoNames.begin(), photoNames.end());
            }
        }
        // Nothing else: no temporary copy, no name of a retirement under way, no stray file.
        for (const QString &folder :
             QStringList { "jobs", "images", "backup/jobs", "backup/images" })
            for (const QString &name : filesIn(at(folder)))
                if (!known.contains(folder + QLatin1Char('/') + name))
                    return QStringLiteral("%1/%2 should not be there").arg(folder, name);
        return {};
    }

    // A job file's text with every photo back to "to print".
    static QByteArray withoutProgress(QByteArray text)
    {
        if (text.startsWith('1'))
            text[0] = '0';
        return text.replace("\n1", "\n0");
    }

    // The photos printed whose job file, still queued, does not say so: the ones a kill caught
    // between the printer's acceptance and the record of it.
    QStringList acceptedNotRecorded(const QMap<QString, int> &prints) const
    {
        QStringList photos;
        for (const DeliveredJob &job : m_jobs)
            for (const PhotoItem &photo :
                 parseJobFileText(readFile(at("jobs/2AB" + job.key + ".job")), "AB" + job.key)
                     .photos)
                if (!photo.printed && prints.value(photo.imageFileName))
                    photos << photo.imageFileName;
        return photos;
    }

    // The shop's set-up: the system folder and the printer's folder shared with the group, the
    // station run as an operator on orders the order-taking program wrote read-only.
    void shareWithOperators(std::unique_ptr<ShopAccounts> accounts)
    {
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);
        QVERIFY(QDir().mkpath(m_dir->filePath("pdf")));
        for (const char *folder :
             { "", "/jobs", "/images", "/backup", "/backup/jobs", "/backup/images", "/../pdf" })
            QVERIFY(accounts->shareFolder(m_root + QLatin1String(folder)));
        m_accounts = std::move(accounts);
    }
    std::function<void()> stationAccount() const
    {
        return m_accounts ? m_accounts->asOperator() : std::function<void()>();
    }

    QList<DeliveredJob> m_jobs;
    std::unique_ptr<ShopAccounts> m_accounts;

private slots:
    void init()
    {
        QVERIFY(newSystemFolder("system"));
        m_jobs.clear();
        m_accounts.reset();
    }

    void killedAnywhere_nothingLostOrDoubled()
    {
        const int cycles = qEnvironmentVariableIsSet("ZELVO_CRASH_CYCLES")
            ? qEnvironmentVariableIntValue("ZELVO_CRASH_CYCLES")
            : ZELVO_CRASH_CYCLES;
        const quint32 seed = qEnvironmentVariableIsSet("ZELVO_CRASH_SEED")
            ? quint32(qEnvironmentVariableIntValue("ZELVO_CRASH_SEED"))
            : QRandomGenerator::global()->generate();
        qInfo("%d cycles, seed %u (ZELVO_CRASH_CYCLES, ZELVO_CRASH_SEED)", cycles, seed);
        QRandomGenerator random(seed);

        // With ZELVO_CRASH_AS_OPERATOR set (as root), the station runs as an operator on orders
        // the order-taking program wrote as another account, read-only to the group.
        auto accounts = std::make_unique<ShopAccounts>();
        const bool asOperator = qEnvironmentVariableIsSet("ZELVO_CRASH_AS_OPERATOR");
        if (asOperator && !accounts->ready())
            QSKIP(qPrintable(accounts->error));
        // The backup on a file system of its own, so that retiring copies and removes.
        // Without root there is no tmpfs: every folder is made to act as its own file system.
        const TmpfsMount backup(at("backup"), "size=64m");
        QVERIFY(CreateFolderLayout(m_root));
        if (asOperator)
            shareWithOperators(std::move(accounts));
        const QStringList base { m_root, m_dir->filePath("pdf") };

        QMap<QString, int> documents, reprintsAllowed; // a reprint per kill that caught the photo
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const int unfinished = int(std::count_if(m_jobs.begin(), m_jobs.end(), [&](auto &job) {
                return !QFile::exists(at("backup/jobs/3AB" + job.key + ".job"));
            }));
            // New jobs to claim in every run.
            QVERIFY(deliver(std::max(3, 10 - unfinished), random));

            QStringList arguments { "--wait-go" };
            if (!backup.mounted())
                arguments << "--split-fs";
            const bool byLink = random.bounded(4) == 0;
            if (byLink)
                arguments << "--claim-by-link";
            // Half the runs die at an exact file-system call (some while putting right what the
            // run before left): claiming, retiring, or recording a printed photo, where a kill
            // before the write falls between the printer's acceptance and the record; the
            // others are killed after a random time.
            const bool crashPoint = random.bounded(2) == 0;
            if (crashPoint) {
                const QStringList calls { byLink ? "link" : "renameNoReplace", "rename", "unlink",
                                          "writeAt", "syncData" };
                arguments << "--crash-at"
                          << QStringLiteral("%1:%2%3")
                                 .arg(calls[random.bounded(int(calls.size()))])
                                 .arg(1 + random.bounded(3))
                                 .arg(random.bounded(2) ? ":after" : "");
            }
            StationProcess station(base + arguments, stationAccount());
            QTRY_VERIFY_WITH_TIMEOUT(station.ready() || !station.running(), 60000);
            if (!station.ready() && crashPoint)
                continue;
            QVERIFY2(station.ready(), station.errors.constData());
            const QString wrong = misplaced(false);
            QVERIFY2(wrong.isEmpty(),
                     qPrintable(
                         QStringLiteral("cycle %1 (%2): %3\n%4")
                             .arg(cycle)
                             .arg(arguments.join(' '), wrong, QString::fromUtf8(station.errors))));
            station.send("go");
            if (random.bounded(4) == 0)
                QVERIFY(deliver(1, random)); // a job arrives while the station runs
            if (!crashPoint)
                QTest::qWait(random.bounded(100));
            else
                (void)QTest::qWaitFor([&] { return !station.running(); }, 2000);
            if (station.running()) {
                station.process.kill();
                QVERIFY(station.process.waitForFinished());
            }
            const QMap<QString, int> now = documentsByPhoto(m_dir->filePath("pdf"));
            // Printed in this run and not recorded: this kill caught it (one not printed again
            // since an earlier kill is still that one's). Only the photo in flight can be.
            int caught = 0;
            for (const QString &photo : acceptedNotRecorded(now)) {
                if (now[photo] > documents.value(photo)) {
                    ++reprintsAllowed[photo];
                    ++caught;
                }
            }
            QVERIFY2(
                caught <= 1,
                qPrintable(
                    QStringLiteral("cycle %1: %2 printed, not recorded").arg(cycle).arg(caught)));
            documents = now;
        }

        StationProcess last(base + QStringList { "--exit-when-idle" }, stationAccount());
        QTRY_VERIFY_WITH_TIMEOUT(!last.running(), 300000);
        QCOMPARE(last.process.exitCode(), 0);
        const QString wrong = misplaced(true);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong + "\n" + QString::fromUtf8(last.errors)));
        if (m_accounts) // the order files were the order-taking program's, not the operator's
            for (const DeliveredJob &job : m_jobs)
                QCOMPARE(QFileInfo(at("backup/jobs/3AB" + job.key + ".job")).ownerId(),
                         m_accounts->operatorUid);

        // Every photo printed, never onto an empty page, and twice only when a kill fell
        // between its acceptance and its record.
        QStringList photos;
        for (const DeliveredJob &job : m_jobs)
            photos += job.photos.keys();
        QCOMPARE(notPrintedOnce(m_dir->filePath("pdf"), photos, reprintsAllowed), QString());
        documents = documentsByPhoto(m_dir->filePath("pdf"));
        qInfo("%d cycles: %d jobs, %d photos, %d documents", cycles, int(m_jobs.size()),
              int(photos.size()), std::accumulate(documents.begin(), documents.end(), 0));
    }

    // The station runs as an operator on an order another account wrote read-only to the
    // group, and is killed between two photos each run: its progress is kept all the same, and
    // the backup's job file carries every mark.
    void operatorOnReadOnlyOrder_killedBetweenPhotos_eachPrintedOnce()
    {
        auto accounts = std::make_unique<ShopAccounts>();
        if (!accounts->ready())
            QSKIP(qPrintable(accounts->error));
        shareWithOperators(std::move(accounts));
        QRandomGenerator random(1);
        QVERIFY(deliver(1, random, 3));
        const QFileInfo delivered(at("jobs/1AB00000.job"));
        QCOMPARE(delivered.ownerId(), m_accounts->orderUid);
        QCOMPARE(delivered.permissions() & (QFile::WriteGroup | QFile::WriteOther), 0);

        const QString pdf = m_dir->filePath("pdf");
        for (int prints = 1; prints <= 4; ++prints) {
            StationProcess station(prints < 4 ? QStringList { m_root, pdf, "--kill-after-prints",
                                                              QString::number(prints) }
                                              : QStringList { m_root, pdf, "--exit-when-idle" },
                                   stationAccount());
            QTRY_VERIFY_WITH_TIMEOUT(!station.running(), 60000);
            QVERIFY2(station.process.exitStatus() == QProcess::CrashExit || prints == 4,
                     station.errors.constData());
        }
        QCOMPARE(misplaced(true), QString());
        QCOMPARE(notPrintedOnce(pdf, m_jobs[0].photos.keys()), QString());
        QCOMPARE(readFile(at("backup/jobs/3AB00000.job")),
                 QByteArray(m_jobs[0].text).replace("\n0", "\n1").replace(0, 1, "1"));
    }

    void retirementCutShort_finishedAtStart_data()
    {
        QTest::addColumn<int>("photosMoved"); // -1: the job file not yet renamed either
        QTest::addColumn<bool>("jobFileCopied"); // copied to backup, not yet removed
        QTest::addColumn<QString>("holder"); // whose marker says it is being retired
        QTest::newRow("before any photo moved") << 0 << false << "";
        QTest::newRow("after one photo") << 1 << false << "";
        QTest::newRow("after the job file's copy") << 3 << true << "";
        QTest::newRow("held, before the job file's rename") << -1 << false << "me";
        QTest::newRow("held, after one photo") << 1 << false << "me";
        QTest::newRow("held by a station alive") << 1 << false << "other";
        // Its files all in backup but the marker, and the order delivered again and taken here.
        QTest::newRow("held, the order taken again") << 3 << false << "me, again";
    }
    void retirementCutShort_finishedAtStart()
    {
        QFETCH(int, photosMoved);
        QFETCH(bool, jobFileCopied);
        QFETCH(QString, holder);
        QRandomGenerator random(1);
        QVERIFY(deliver(1, random, 3));
        // What a station leaves when it stops while retiring job 00000.
        const QString id = holder.section(',', 0, 0);
        if (!holder.isEmpty())
            QVERIFY(addStation(m_root, id, QDateTime::currentMSecsSinceEpoch() * 1000000)
                    && writeFile(at(".zelvo/owners/" + id + "/2AB00000.job.retiring"), ""));
        QVERIFY(QFile::rename(
            at("jobs/1AB00000.job"),
            at(photosMoved < 0 ? "jobs/2AB00000.job" : "jobs/2AB00000.job.retiring")));
        for (const QString &photo : m_jobs[0].photos.keys().mid(0, photosMoved))
            QVERIFY(QFile::rename(at("images/" + photo), at("backup/images/" + photo)));
        if (jobFileCopied)
            QVERIFY(QFile::copy(at("jobs/2AB00000.job.retiring"), at("backup/jobs/3AB00000.job")));
        if (holder == "me, again") {
            QVERIFY(
                QFile::rename(at("jobs/2AB00000.job.retiring"), at("backup/jobs/3AB00000.job")));
            QVERIFY(writeFile(at("jobs/2AB00000.job"), jobText(1))
                    && writeFile(at(".zelvo/owners/me/2AB00000.job"), ""));
            StationStore store("me");
            QCOMPARE(LoadWaitingJobs(store, m_root), 1);
            QCOMPARE(filesIn(at(".zelvo/owners/me")), QStringList { "2AB00000.job" });
            return;
        }

        StationStore store("me");
        QCOMPARE(LoadWaitingJobs(store, m_root), 0); // not listed, and so not printed, again
        if (holder == "other") { // that station finishes it
            QCOMPARE(filesIn(at("jobs")), QStringList { "2AB00000.job.retiring" });
            return;
        }
        QCOMPARE(misplaced(true), QString());
        QCOMPARE(filesIn(at(".zelvo/owners/me")), QStringList());
    }

    void moveAcrossFileSystems_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("error");
        QTest::newRow("none") << "" << 300 * 1024 << 0;
        QTest::newRow("copy altered on its way") << "alter" << 300 * 1024 << EIO;
        QTest::newRow("flush fails") << "flush" << 300 * 1024 << EIO;
        QTest::newRow("backup full") << "" << 2 * 1024 * 1024 << ENOSPC;
    }
    void moveAcrossFileSystems()
    {
        QFETCH(QString, fault);
        QFETCH(int, size);
        QFETCH(int, error);
        const TmpfsMount backup(at("backup"), "size=1m");
        if (!backup.mounted())
            QSKIP(qPrintable("cannot mount a tmpfs (" + backup.error + "); run as root"));
        const QString from = at("photo.jpg"), to = at("backup/photo.jpg");
        QByteArray photo(size, Qt::Uninitialized); // random: no two blocks alike
        QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(photo.data()), size / 4);
        QVERIFY(dropFile(from, photo));
        QVERIFY(dropFile(to, "an older backup of the same name"));

        ScopedSysCalls restore;
        const JobFs::SysCalls &saved = restore.saved;
        QStringList steps; // each kind of call once, in the order first made
        const auto noting = [&steps](const char *name, auto call) {
            return [&steps, name, call](auto... args) {
                if (steps.isEmpty() || steps.last() != name)
                    steps << name;
                return call(args...);
            };
        };
        JobFs::SysCalls &calls = JobFs::sysCalls();
        calls.write = noting("write", [&](int fd, const void *data, size_t length) {
            QByteArray bytes(static_cast<const char *>(data), qsizetype(length));
            if (fault == "alter")
                bytes[0] = char(bytes[0] ^ 1); // a fault no call reports
            return saved.write(fd, bytes.constData(), length);
        });
        calls.syncFile
            = noting("flush", [&](int fd) { return fault == "flush" ? EIO : saved.syncFile(fd); });
        calls.rename = noting("rename", saved.rename);
        calls.unlink = noting("remove", saved.unlink);

        QCOMPARE(JobFs::moveReplacing(from, to), error);
        if (error == 0) {
            QCOMPARE(steps, QStringList({ "rename", "write", "flush", "rename", "remove" }));
            QCOMPARE(readFile(to), photo);
            QVERIFY(!QFile::exists(from));
        } else { // the source untouched, the older backup kept, no partial copy left
            QCOMPARE(readFile(from), photo);
            QCOMPARE(readFile(to), "an older backup of the same name");
        }
        QCOMPARE(filesIn(at("backup")), QStringList { "photo.jpg" });
    }

    void leftoverCopies_goAtStartUnlessInProgress()
    {
        // Left by moves cut short: one of a job file, one of a photo, and one still being made.
        QVERIFY(dropFile(at("backup/jobs/.zelvo-copy-a1b2c3"), jobText(1, 1)));
        QVERIFY(dropFile(at("backup/images/.zelvo-copy-d4e5f6"), "half a photo"));
        QVERIFY(dropFile(at("backup/images/.zelvo-copy-g7h8i9"), "a photo being copied"));
        const int copying = ::open(
            QFile::encodeName(at("backup/images/.zelvo-copy-g7h8i9")).constData(), O_RDONLY);
        QVERIFY(copying >= 0 && ::flock(copying, LOCK_EX) == 0);
        QVERIFY(dropFile(at("backup/images/AB00001_0001.jpg"), "a retired photo"));

        JobStore store;
        QCOMPARE(LoadWaitingJobs(store, m_root), 0);
        QCOMPARE(filesIn(at("backup/jobs")), QStringList());
        QCOMPARE(filesIn(at("backup/images")),
                 QStringList({ ".zelvo-copy-g7h8i9", "AB00001_0001.jpg" }));
        ::close(copying); // the station making it has stopped
        QCOMPARE(LoadWaitingJobs(store, m_root), 0);
        QCOMPARE(filesIn(at("backup/images")), QStringList { "AB00001_0001.jpg" });
    }
};

QTEST_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
