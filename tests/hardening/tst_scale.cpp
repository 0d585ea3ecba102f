#include "Dispatcher.h"
#include "JobIntake.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "StationLogRecorder.h"
#include "TestPhotos.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The station at the edges of its 16-bit counters and of a busy day: a queue of 32,767 jobs,
// a job of 1,500 photos, and a start-up with 5,000 jobs waiting from an earlier run. The job
// files are real files in a temporary system folder; printing goes to a recording port with
// small pages, so that thousands of ticks take seconds.
class TestScale : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fullQueueLeavesTheNextJobFileWaiting();
    void longJobPrintsOnePhotoPerTick();
    void startupListsManyWaitingJobs();

private:
    // Notes the title of every document the platform accepted.
    class TitlePort : public RecordingPrinterPort
    {
    public:
        QStringList accepted;
        bool beginDocument(const QString &title) override
        {
            m_title = title;
            return RecordingPrinterPort::beginDocument(title);
        }
        bool endDocument() override
        {
            const bool ok = RecordingPrinterPort::endDocument();
            if (ok)
                accepted << m_title;
            return ok;
        }

    private:
        QString m_title;
    };

    QString at(const QString &relative) const { return m_dir->filePath(relative); }
    int files(const QString &folder) const
    {
        return int(QDir(at(folder)).entryList(QDir::Files).size());
    }
    void tick()
    {
        ScanNewJobs(*m_store, m_dir->path(), false);
        PrintNextPhoto(*m_store, m_dir->path());
    }
    // Job files "<status>SK<number>.job" for numbers first..last, each with `photos` lines
    // (or 1 to 5 lines, by number, when photos is 0).
    void writeJobs(char status, int first, int last, int photos);

    std::unique_ptr<QTemporaryDir> m_dir;
    TitlePort m_port;
    std::unique_ptr<JobStore> m_store;
};

void TestScale::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(CreateFolderLayout(m_dir->path()));
    m_port.printers = { { QStringLiteral("Small"), 100, QSizeF(600, 400) },
                        { QStringLiteral("Large"), 100, QSizeF(900, 600) } };
    m_port.systemDefault = QStringLiteral("Small");
    m_port.accepted.clear();
    ModPrint::setPrinterPort(&m_port);
    m_store = std::make_unique<JobStore>();
    ModConf::SystemFolder = m_dir->path();
    ModConf::Printer10x15 = QStringLiteral("Small");
    ModConf::Printer13x18 = ModConf::Printer15x23 = QStringLiteral("Large");
    ModConf::Width10x15 = ModConf::Width13x18 = ModConf::Width15x23 = 600;
    ModConf::Height10x15 = ModConf::Height13x18 = ModConf::Height15x23 = 400;
}

void TestScale::cleanup()
{
    ModPrint::setPrinterPort(nullptr);
}

void TestScale::writeJobs(char status, int first, int last, int photos)
{
    for (int number = first; number <= last; ++number) {
        QByteArray text;
        const int lines = photos > 0 ? photos : 1 + number % 5;
        for (int line = 1; line <= lines; ++line)
            text += '0' + QByteArray::number(line).rightJustified(4, '0')
                + QByteArray::number(line % 3) + "001" + "00001250\r\n";
        const QString name
            = QStringLiteral("%1SK%2.job").arg(status).arg(number, 5, 10, QLatin1Char('0'));
        QVERIFY(TestPhotos::writeFile(at(QStringLiteral("jobs/") + name), text));
    }
}

void TestScale::fullQueueLeavesTheNextJobFileWaiting()
{
    writeJobs('1', 0, MaxJobs, 1); // one more than the queue holds
    StationLogRecorder log;
    StationLogRecorder::clear();
    const QStringList &warnings = StationLogRecorder::warnings();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ScanNewJobs(*m_store, m_dir->path(), false), MaxJobs);
    const qint64 scanMs = timer.elapsed();
    QCOMPARE(m_store->jobCount, int16_t(MaxJobs));
    QCOMPARE(m_store->LstJobs.count(), MaxJobs);
    QCOMPARE(m_store->printJobs.back().queueOrder, int16_t(MaxJobs - 1));
    QCOMPARE(m_store->LstJobs.selectedIndex(), 0);
    const QStringList waiting = QDir(at("jobs")).entryList({ "1*" }, QDir::Files);
    QCOMPARE(waiting, QStringList { QStringLiteral("1SK32767.job") });
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings[0].contains("1SK32767.job") && warnings[0].contains("queue is full"));

    // Further ticks leave it where it is without saying so again; once the head job is printed
    // and retired it is taken, at the end of the queue.
    timer.restart();
    QCOMPARE(ScanNewJobs(*m_store, m_dir->path(), false), 0);
    const qint64 fullTickMs = timer.elapsed();
    PrintNextPhoto(*m_store, m_dir->path());
    QCOMPARE(m_store->jobCount, int16_t(MaxJobs - 1));
    QCOMPARE(m_port.accepted, QStringList { QStringLiteral("Zelvo SK00000_0001.jpg") });
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(ScanNewJobs(*m_store, m_dir->path(), false), 1);
    QCOMPARE(m_store->jobCount, int16_t(MaxJobs));
    QCOMPARE(m_store->LstJobs.text(MaxJobs - 1), QStringLiteral("job 32767"));
    QVERIFY(QFile::exists(at("jobs/2SK32767.job")));
    QCOMPARE(warnings.size(), 1);
    qInfo("32,768 job files: %lld ms to take 32,767 into the queue, %lld ms for a tick on the "
          "full queue",
          scanMs, fullTickMs);
}

void TestScale::longJobPrintsOnePhotoPerTick()
{
    constexpr int photos = 1500;
    writeJobs('1', 1, 1, photos);
    const QByteArray jpeg = TestPhotos::jpegBytes(60, 40);
    for (int photo = 1; photo <= photos; ++photo)
        QVERIFY(TestPhotos::writeFile(
            at(QStringLiteral("images/SK00001_%1.jpg").arg(photo, 4, 10, QLatin1Char('0'))), jpeg));

    QElapsedTimer timer;
    timer.start();
    for (int done = 1; done < photos; ++done) {
        tick();
        if (m_port.accepted.size() != done || m_store->jobCount != 1)
            QFAIL(qPrintable(QStringLiteral("tick %1: %2 documents, %3 jobs")
                                 .arg(done)
                                 .arg(m_port.accepted.size())
                                 .arg(m_store->jobCount)));
    }
    QCOMPARE(m_store->printJobs[0].printedCount, int16_t(photos - 1));
    tick(); // the last photo, and the job is retired
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(m_store->jobCount, int16_t(0));
    QCOMPARE(m_port.accepted.size(), photos);
    for (int photo = 1; photo <= photos; ++photo)
        QCOMPARE(m_port.accepted[photo - 1],
                 QStringLiteral("Zelvo SK00001_%1.jpg").arg(photo, 4, 10, QLatin1Char('0')));
    QCOMPARE(files("backup/images"), photos);
    QCOMPARE(files("images") + files("jobs"), 0);
    QVERIFY(QFile::exists(at("backup/jobs/3SK00001.job")));
    tick();
    QCOMPARE(m_port.accepted.size(), photos);
    qInfo("1,500 photos in 1,500 ticks: %lld ms, %.2f ms a tick", elapsed,
          double(elapsed) / photos);
}

void TestScale::startupListsManyWaitingJobs()
{
    constexpr int waiting = 5000;
    writeJobs('2', 1, waiting, 0);
    writeJobs('1', waiting + 1, waiting + 1, 1); // new: for the first tick, not for start-up
    QStringList shown;
    m_store->showJobThumbnails = [&](const QString &key) { shown << key; };

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(LoadWaitingJobs(*m_store, m_dir->path()), waiting);
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(m_store->jobCount, int16_t(waiting));
    QCOMPARE(m_store->LstJobs.count(), waiting);
    QCOMPARE(shown, QStringList { QStringLiteral("00001") });
    int photos = 0;
    for (int slot = 0; slot < waiting; ++slot) {
        const JobRecord &job = m_store->printJobs[size_t(slot)];
        const int number = slot + 1;
        if (job.queueOrder != slot || job.listKey.toInt() != number
            || job.photoCount != 1 + number % 5)
            QFAIL(qPrintable(QStringLiteral("slot %1 holds job %2 with queueOrder %3")
                                 .arg(slot)
                                 .arg(job.listKey)
                                 .arg(job.queueOrder)));
        photos += job.photoCount;
    }
    // The first tick takes the new job in behind them and prints from the top of the queue.
    tick();
    QCOMPARE(m_store->jobCount, int16_t(waiting + 1));
    QCOMPARE(m_store->LstJobs.text(waiting), QStringLiteral("job 05001"));
    QCOMPARE(m_port.accepted, QStringList { QStringLiteral("Zelvo SK00001_0001.jpg") });
    qInfo("start-up with %d waiting jobs (%d photos): LoadWaitingJobs took %lld ms", waiting,
          photos, elapsed);
    // Far above what it takes even under the sanitizers: catches a start-up that grows with the
    // square of the queue.
    QVERIFY2(elapsed < 20000, qPrintable(QString::number(elapsed)));
}

QTEST_MAIN(TestScale)
#include "tst_scale.moc"
