// The station's throughput with the printers' pace and with the tick's, on a private scheduler
// (run as root) whose four queues print through the test backend taking 1.0, 1.7, 2.5 and 1.0 s
// a page (times ZELVO_PACE_SCALE, and the tick with them): ZELVO_PACE_BENCH orders (20; 1 to 10
// photos, 1 to 3 copies, mostly 10x15) after a few that let the station measure each printer's
// pace. It tells photos per hour, each printer's busy share and the gaps between its documents,
// and the ready times' median error, for both paces and with a 10x15 stand-in.
#include "BackendCups.h"
#include "ReadyTimes.h"
#include "TestStation.h"

#include <QRandomGenerator>
#include <QTest>

#include <unistd.h>

#include <memory>

class BenchPrintPace : public QObject
{
    Q_OBJECT

    BackendCups m_cups;
    std::unique_ptr<QTemporaryDir> m_app;
    std::unique_ptr<FIni> m_window;

    QString queue(int i) const { return QStringLiteral("zelvo_%1_b%2").arg(::getpid()).arg(i); }
    [[nodiscard]] bool steer(int i, const QString &file, const QByteArray &text)
    {
        return m_cups.steer(queue(i), file, text);
    }

private slots:
    void initTestCase()
    {
        if (const QString reason = PrivateCups::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        QCOMPARE(m_cups.start(), QString());
    }
    void cleanupTestCase() { m_cups.stop(); }
    void init()
    {
        for (int i = 0; i < 4; ++i)
            QCOMPARE(m_cups.freshQueue(queue(i)), QString());
        m_app = std::make_unique<QTemporaryDir>();
        m_cups.port->refreshNow();
        QVERIFY(waitUntilIdle(*m_cups.port));
    }
    void cleanup() { m_window.reset(); }

    void throughput_data()
    {
        QTest::addColumn<QString>("pace");
        QTest::addColumn<bool>("standIn");
        QTest::newRow("printers") << "PRINTERS" << false;
        QTest::newRow("printers, 10x15 stand-in") << "PRINTERS" << true;
        QTest::newRow("15 s") << "15" << false;
    }
    void throughput()
    {
        QFETCH(QString, pace);
        QFETCH(bool, standIn);
        const int orders = qEnvironmentVariable("ZELVO_PACE_BENCH", "20").toInt();
        const double scale = qEnvironmentVariable("ZELVO_PACE_SCALE", "1").toDouble();
        const double perPage[4] = { 1.0, 1.7, 2.5, 1.0 };
        for (int i = 0; i < 4; ++i)
            QVERIFY(steer(i, "delay", QByteArray::number(perPage[i] * scale)));
        QVERIFY(writePaceSettings(
            m_app->path(), pace, { queue(0), queue(1), queue(2), standIn ? queue(3) : QString() }));
        m_window = std::make_unique<FIni>(*m_cups.port, m_app->path());
        m_window->load();
        m_window->Timer1.setInterval(int(15000 * scale));
        QRandomGenerator random(20261207);
        int written = 0;
        const auto writeOrders = [&](int count) {
            for (int n = 0; n < count; ++n, ++written) {
                QList<int> sizes, copies;
                for (int i = 1 + int(random.bounded(10)); i > 0; --i) {
                    const int roll = int(random.bounded(10));
                    sizes << (roll < 7 ? 0 : roll < 9 ? 1 : 2);
                    copies << 1 + int(random.bounded(3));
                }
                QVERIFY(writeOrder(m_app->path(), QStringLiteral("PB%1").arg(10000 + written),
                                   sizes, copies, 60, 40));
            }
        };
        const auto drained
            = [this] { return m_window->store.jobCount == 0 && PrivateCups::activeJobs() == 0; };
        // Warm-up: each printer's pace measured.
        writeOrders(4);
        m_window->onTimer1Tick();
        m_window->Timer1.start();
        QTRY_VERIFY_WITH_TIMEOUT(drained(), 3600000);
        for (int i = 0; i < 4; ++i)
            QFile::remove(m_cups.device(queue(i), "times"));

        writeOrders(orders);
        const double t0 = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        m_window->onTimer1Tick();
        const bool tickPace = pace == "15";
        const std::vector<double> predicted = estimateReadySeconds(
            m_window->store, currentPrinterLanes(m_window->tracker),
            tickPace ? m_window->Timer1.interval() / 1000.0 : 0,
            m_window->Timer1.remainingTime() / 1000.0, [this](quint64 serial, int photo) {
                return m_window->tracker.photoOnItsWay(serial, photo);
            });
        QHash<QString, double> predictedFor;
        for (int32_t i = 0; i < m_window->store.jobCount; ++i)
            predictedFor.insert(m_window->store.printJobs[size_t(i)].listKey, predicted[size_t(i)]);
        QTRY_VERIFY_WITH_TIMEOUT(drained(), 4 * 3600000);

        // What each printer did, from the backend's own times.
        QHash<int, QString> orderOfJob;
        int photos = 0;
        for (const LedgerRow &row : m_window->tracker.ledger().rows(QDate::currentDate())) {
            orderOfJob.insert(row.cupsJobId, row.job.mid(2));
            photos += row.job.startsWith("PB") && row.job.mid(2).toInt() >= 10004 ? 1 : 0;
        }
        QHash<QString, double> actualFor;
        double lastEnd = t0;
        for (int i = 0; i < 4; ++i) {
            QFile file(m_cups.device(queue(i), "times"));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QList<std::pair<double, double>> spans;
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QList<QByteArray> f = line.split(' ');
                if (f.size() < 3)
                    continue;
                const double start = f[1].toDouble(), end = f[2].toDouble();
                spans << std::make_pair(start, end);
                const QString order = orderOfJob.value(f[0].toInt());
                actualFor[order] = std::max(actualFor.value(order), end - t0);
                lastEnd = std::max(lastEnd, end);
            }
            std::sort(spans.begin(), spans.end());
            double busy = 0;
            QList<double> gaps;
            for (qsizetype j = 0; j < spans.size(); ++j) {
                busy += spans[j].second - spans[j].first;
                if (j > 0)
                    gaps << spans[j].first - spans[j - 1].second;
            }
            std::sort(gaps.begin(), gaps.end());
            const double span = spans.isEmpty() ? 0 : spans.last().second - spans.first().first;
            qInfo("%s: %d documents, busy %.0f%% of %.0f s while it had work, gaps median %.2f s, "
                  "max %.2f s",
                  qPrintable(queue(i)), int(spans.size()), span > 0 ? 100 * busy / span : 0.0, span,
                  gaps.isEmpty() ? 0.0 : gaps[gaps.size() / 2], gaps.isEmpty() ? 0.0 : gaps.last());
        }
        QList<double> errors;
        for (auto it = predictedFor.cbegin(); it != predictedFor.cend(); ++it) {
            const double actual = actualFor.value(it.key());
            if (actual > 0 && it.value() >= 0)
                errors << std::abs(it.value() - actual) / actual;
        }
        std::sort(errors.begin(), errors.end());
        qInfo("%s pace%s: %d orders, %d photos in %.0f s: %.0f photos/hour at the printers' real "
              "times; ready times: median error %.0f%% over %d orders",
              qPrintable(pace), standIn ? " with a 10x15 stand-in" : "", orders, photos,
              lastEnd - t0, photos / ((lastEnd - t0) / scale) * 3600,
              errors.isEmpty() ? 0.0 : 100 * errors[errors.size() / 2], int(errors.size()));
    }
};

QTEST_MAIN(BenchPrintPace)
#include "bench_printpace.moc"
