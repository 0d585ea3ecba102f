#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "StationLogRecorder.h"
#include "TestStation.h"

#include <QRegularExpression>
#include <QTest>

#include <memory>

// The station at the edge of its 16-bit queue: 32,767 jobs. The job files are real files in a
// temporary system folder; printing goes to a recording port with small pages.
class TestScale : public QObject
{
    Q_OBJECT

private:
    // Job files "1SK<number>.job" for numbers first..last, of one photo each; no photo files.
    [[nodiscard]] bool writeJobs(int first, int last)
    {
        for (int number = first; number <= last; ++number) {
            const QString name = QStringLiteral("1SK%1.job").arg(number, 5, 10, QChar('0'));
            if (!m_station->addJob(name, { TestStation::Photo { 1 } }, QByteArray()))
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
        QVERIFY(writeJobs(0, MaxJobs)); // one more than the queue holds
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
};

QTEST_MAIN(TestScale)
#include "tst_scale.moc"
