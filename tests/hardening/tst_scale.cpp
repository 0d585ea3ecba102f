#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "StationLogRecorder.h"
#include "TestStation.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <memory>

// The station at the edges of its 16-bit counters and of a busy day: a queue of 32,767 jobs,
// a job of 1,500 photos, and a start-up with 5,000 jobs waiting from an earlier run. The job
// files are real files in a temporary system folder; printing goes to a recording port with
// small pages, so that thousands of ticks take seconds.
class TestScale : public QObject
{
    Q_OBJECT

private:
    // Job files "<status>SK<number>.job" for numbers first..last, each with `photos` lines
    // (or 1 to 5 lines, by number, when photos is 0), the paper size going round; no photos.
    [[nodiscard]] bool writeJobs(char status, int first, int last, int photos)
    {
        for (int number = first; number <= last; ++number) {
            QList<TestStation::Photo> lines;
            for (int line = 1; line <= (photos > 0 ? photos : 1 + number % 5); ++line)
                lines << TestStation::Photo { line % 3 };
            const QString name
                = QStringLiteral("%1SK%2.job").arg(status).arg(number, 5, 10, QChar('0'));
            if (!m_station->addJob(name, lines, QByteArray()))
                return false;
        }
        return true;
    }

    std::unique_ptr<TestStation> m_station;
    RecordingPrinterPort m_port { QList<RecordingPrinterPort::Printer> {
        { "Small", 100, QSizeF(600, 400) } } };

private slots:
    void init()
    {
        m_port.documents.clear();
        ModPrint::setPrinterPort(&m_port);
        m_station = std::make_unique<TestStation>("Small", "Small", "Small");
    }
    void cleanup() { ModPrint::setPrinterPort(nullptr); }

    void fullQueueLeavesTheNextJobFileWaiting()
    {
        QVERIFY(writeJobs('1', 0, MaxJobs, 1)); // one more than the queue holds
        JobStore &store = m_station->store;
        StationLogRecorder log;
        StationLogRecorder::clear();
        QCOMPARE(ScanNewJobs(store, m_station->folder(), false), MaxJobs);
        QCOMPARE(store.LstJobs.count(), MaxJobs);
        QCOMPARE(store.printJobs.back().queueOrder, int16_t(MaxJobs - 1));
        QVERIFY(QFile::exists(m_station->path("jobs/1SK32767.job")));
        QCOMPARE(StationLogRecorder::warnings().size(), 1);
        QVERIFY(
            StationLogRecorder::warnings()[0].contains(QRegularExpression("1SK32767.job.* full")));

        // Further ticks leave it where it is without saying so again; once the head job is printed
        // and retired it is taken, at the end of the queue.
        QCOMPARE(ScanNewJobs(store, m_station->folder(), false), 0);
        QVERIFY(TestPhotos::writeJpeg(m_station->path("images/SK00000_0001.jpg"), 60, 40));
        PrintNextPhoto(store);
        QCOMPARE(m_port.titles(), QStringList { "Zelvo SK00000_0001.jpg" });
        QCOMPARE(ScanNewJobs(store, m_station->folder(), false), 1);
        QCOMPARE(store.LstJobs.text(MaxJobs - 1), QStringLiteral("job 32767"));
        QCOMPARE(StationLogRecorder::warnings().size(), 1);
    }

    void longJobPrintsOnePhotoPerTick()
    {
        constexpr int photos = 1500;
        QVERIFY(m_station->addJob("1SK00001.job", QList<TestStation::Photo>(photos),
                                  TestPhotos::jpegBytes(60, 40)));
        QStringList expected;
        for (int done = 1; done <= photos; ++done) {
            m_station->tick(); // one photo, in order; retired with the last
            QCOMPARE(m_station->store.jobCount, int16_t(done < photos));
            expected << "Zelvo " + TestStation::imageName("SK00001", done);
        }
        QCOMPARE(m_port.titles(), expected);
        QCOMPARE(m_station->files("backup/images"), photos);
        QVERIFY(QFile::exists(m_station->path("backup/jobs/3SK00001.job")));
        m_station->tick();
        QCOMPARE(m_port.documents.size(), photos);
    }

    void startupListsManyWaitingJobs()
    {
        constexpr int waiting = 5000;
        QVERIFY(writeJobs('2', 1, waiting, 0));
        JobStore &store = m_station->store;

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(LoadWaitingJobs(store, m_station->folder()), waiting);
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(store.LstJobs.count(), waiting);
        QCOMPARE(store.LstJobs.text(waiting - 1), QStringLiteral("job 05000")); // in name order
        // Far above what it takes even under the sanitizers: catches a start-up that grows with
        // the square of the queue.
        QVERIFY2(elapsed < 20000, qPrintable(QString::number(elapsed)));
    }
};

QTEST_MAIN(TestScale)
#include "tst_scale.moc"
