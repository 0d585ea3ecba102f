#include "BackendCups.h"
#include "CupsLink.h"
#include "JobsTestSupport.h"
#include "PrinterStrip.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The station's window watching a printer of a real CUPS scheduler: a test backend that reports
// states and markers as dye-sublimation backends do, stops its queue or fails a job when told,
// and keeps each document it gets. What the operator sees in the printer strip, what the log
// and the day's ledger say, and every document followed to its end.
class TestPrinterWatch : public QObject, BackendStationFixture
{
    Q_OBJECT

    QString m_queue = QStringLiteral("zelvo_%1_t").arg(::getpid());
    int m_jobs = 0;

    [[nodiscard]] bool steer(const QString &file, const QByteArray &text)
    {
        return m_cups.steer(m_queue, file, text);
    }
    int documents() const { return m_cups.documents(m_queue); }
    QString admin(const QString &program, QStringList arguments = {})
    {
        return PrivateCups::admin(program, arguments << m_queue);
    }
    // A job of one photo, taken in at the next tick.
    [[nodiscard]] bool addJob()
    {
        return writeOrder(m_app->path(), QStringLiteral("PW%1").arg(10000 + ++m_jobs), { 0 });
    }
    PrinterStrip::Row row() const { return m_window->StripPrinters->rows[0]; }
    QString notice() const { return m_window->StripPrinters->notice->text(); }
    QStringList ledgerStates() const
    {
        QStringList states;
        for (const LedgerRow &row : ledger())
            states << row.state;
        return states;
    }

private slots:
    void initTestCase() { startScheduler(); }
    void cleanupTestCase() { m_cups.stop(); }
    void init()
    {
        QCOMPARE(m_cups.freshQueue(m_queue), QString());
        m_app = std::make_unique<QTemporaryDir>();
        m_jobs = 0;
        QVERIFY(writePaceSettings(m_app->path(), "", { m_queue, m_queue, m_queue }));
        m_log = std::make_unique<StationLogRecorder>();
        openStation();
    }
    void cleanup() { closeStation(); }

    void stateReachesTheStripAndTheLog_data()
    {
        QTest::addColumn<QByteArray>("report"); // what the backend tells CUPS
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("health");
        QTest::addColumn<QString>("keyword"); // in the log line
        QTest::addColumn<int>("media");

        QTest::newRow("out of media") << QByteArray("STATE: +media-empty-error\n")
                                      << QByteArray("stop") << "Parada: sem papel/mídia (1 na fila)"
                                      << int(PrinterHealth::Stopped) << "media-empty-error" << -1;
        QTest::newRow("ribbon low")
            << QByteArray("STATE: +marker-supply-low-warning\nATTR: marker-names=Ribbon "
                          "marker-types=ribbon-wax marker-levels=8 marker-low-levels=10\n")
            << QByteArray() << "Pronta; fita/suprimento acabando" << int(PrinterHealth::Warning)
            << "marker-supply-low-warning" << 8;
    }
    void stateReachesTheStripAndTheLog()
    {
        QFETCH(QByteArray, report);
        QFETCH(QByteArray, command);
        QFETCH(QString, state);
        QFETCH(int, health);
        QFETCH(QString, keyword);
        QFETCH(int, media);
        QTRY_COMPARE(row().state->text(), QStringLiteral("Pronta"));
        QVERIFY(steer("report", report));
        QVERIFY(steer("command", command));
        QVERIFY(addJob());
        QVERIFY(tick());

        // Without a tick: the strip follows CUPS by itself.
        QTRY_COMPARE(row().state->text(), state);
        QCOMPARE(int(row().health), health);
        QCOMPARE(row().mediaLevel, media);
        QCOMPARE(row().mediaLow, media < 0 ? -1 : 10);
        const QStringList lines = m_log->infos().filter("zelvo.printers:").filter(m_queue);
        QVERIFY2(lines.last().contains(state) && lines.last().contains(keyword),
                 qPrintable(lines.join('\n')));

        // Put right: refilled, started again. The photo comes out once.
        QVERIFY(steer("report", "STATE: -media-empty-error,marker-supply-low-warning\n"));
        QVERIFY(steer("command", ""));
        QCOMPARE(admin("cupsenable"), QString());
        for (int ticks = 0; ticks < 3; ++ticks)
            QVERIFY(tick());
        QTRY_COMPARE(documents(), 1);
        QTRY_VERIFY(row().state->text().startsWith("Pronta"));
        QTRY_COMPARE(ledgerStates(), QStringList { PrintLedger::Completed });
        QCOMPARE(row().today->text(), QStringLiteral("Hoje: 1"));
    }

    void lostJobIsPrintedAgainOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("failsAgain");
        QTest::newRow("aborted") << "fail" << false;
        QTest::newRow("cancelled from the shell after a restart") << "cancel" << false;
        QTest::newRow("aborted twice") << "fail" << true;
    }
    void lostJobIsPrintedAgainOnce()
    {
        QFETCH(QString, how);
        QFETCH(bool, failsAgain);
        const QString lost = how == "fail" ? PrintLedger::Aborted : PrintLedger::Canceled;
        // A failing document, or one the printer stops at, so that CUPS holds it.
        QVERIFY(steer("command", how == "fail" ? "fail" : "stop"));
        QVERIFY(addJob());
        QVERIFY(tick());
        QCOMPARE(m_window->store.jobCount, int16_t(0)); // handed over: retired
        if (how == "cancel") {
            // The station stops while CUPS holds the job; the one started again follows it.
            QCOMPARE(ledgerStates(), QStringList { PrintLedger::Sent });
            m_window.reset();
            openStation();
            QCOMPARE(PrivateCups::activeJobs(m_queue), 1);
            QCOMPARE(PrivateCups::admin("cancel", { QString::number(m_cups.port->lastJobId()) }),
                     QString());
            QVERIFY(steer("command", ""));
            QCOMPARE(admin("cupsenable"), QString());
        }

        // Back at the head of the queue from the retired job's backup, and said so.
        QTRY_COMPARE(entryTexts(m_window->store.LstJobs), QStringList { "Urgente 1" });
        QVERIFY(notice().startsWith("Reimpressão automática: PW10001_0001.jpg"));
        QVERIFY(m_log->warnings().join('\n').contains("it is printed again as 'Urgente 1'"));
        if (!failsAgain)
            QVERIFY(steer("command", ""));
        QVERIFY(tick());
        QCOMPARE(m_window->store.jobCount, int16_t(0));
        const QString second = failsAgain ? PrintLedger::Aborted : PrintLedger::Completed;
        QTRY_COMPARE(ledgerStates(), (QStringList { lost, second }));
        QCOMPARE(documents(), failsAgain ? 0 : 1);
        QCOMPARE(row().today->text(), QStringLiteral("Hoje: %1").arg(failsAgain ? 0 : 1));
        if (!failsAgain)
            return;

        // Not tried a third time: the operator is told until the notice is clicked, and may send
        // it once more when the printer has been mended.
        QVERIFY(tick());
        QCOMPARE(m_window->store.jobCount, int16_t(0));
        QVERIFY(notice().startsWith("Não impressa: PW10001_0001u0.jpg falhou de novo"));
        QCOMPARE(m_window->StripPrinters->notice->palette().color(QPalette::WindowText),
                 QColor(200, 35, 35));
        QVERIFY(!m_window->StripPrinters->printAgain->isHidden());
        QVERIFY(steer("command", ""));
        QTest::mouseClick(m_window->StripPrinters->printAgain, Qt::LeftButton);
        QCOMPARE(entryTexts(m_window->store.LstJobs), QStringList { "Urgente 1" });
        QVERIFY(m_window->StripPrinters->printAgain->isHidden());
        QVERIFY(tick());
        QTRY_COMPARE(ledgerStates(), (QStringList { lost, second, PrintLedger::Completed }));
        QCOMPARE(documents(), 1);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTest::mouseClick(m_window->StripPrinters, Qt::LeftButton, {},
                          m_window->StripPrinters->notice->geometry().center());
        QCOMPARE(notice(), QString());
    }

    void hangingSchedulerLeavesTheWindowResponsive()
    {
        // A scheduler that takes connections and never answers.
        const QByteArray path = QFile::encodeName(m_cups.root.filePath("hang.sock"));
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QVERIFY(::listen(listener, 64) == 0);
        const auto closeListener = qScopeGuard([listener] { ::close(listener); });

        m_window.reset();
        SystemPrinterPort hanging(m_cups.root.filePath("pdf-hang"), QString::fromUtf8(path));
        ModPrint::setPrinterPort(&hanging);
        const auto restore = qScopeGuard([this] {
            m_window.reset();
            ModPrint::setPrinterPort(m_cups.port.get());
        });
        m_window = std::make_unique<FIni>(hanging, m_app->path());
        m_window->load();
        m_window->Timer1.setInterval(200);
        m_window->show();
        QVERIFY(addJob());

        // Ticks on time and the window's events handled while the link waits on the scheduler.
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, longestGap = 0, ticks = 0;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        QObject::connect(&m_window->Timer1, &QTimer::timeout, [&] { ++ticks; });
        probe.start(10);
        QTRY_COMPARE_WITH_TIMEOUT(row().state->text(), QStringLiteral("CUPS não responde"), 4000);
        QTest::qWait(3000);
        // A window that waited on libcups would stall for seconds at each call (bench_cupswatch
        // measures the real figures).
        QVERIFY2(longestGap < 1000, qPrintable(QString::number(longestGap)));
        QVERIFY2(ticks >= clock.elapsed() / 200 / 2, qPrintable(QString::number(ticks)));
        QCOMPARE(m_window->store.jobCount, int16_t(1)); // waits: nothing printed
        QVERIFY(QDir(m_cups.root.filePath("pdf-hang")).isEmpty());

        // Documents handed to a link that closes before it could submit them do not stay behind;
        // with no photo in flight it closes at once, whatever the scheduler does.
        QStringList spooled;
        clock.restart();
        {
            CupsLink link(QString::fromUtf8(path));
            for (const char *name : { "a.pdf", "b.pdf" }) {
                spooled << m_cups.root.filePath(name);
                QVERIFY(writeFile(spooled.last(), "%PDF-1.4"));
                link.submit("Kodak", {}, spooled.last(), name);
            }
        }
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        for (const QString &file : spooled)
            QVERIFY2(!QFile::exists(file), qPrintable(file));
    }
};

QTEST_MAIN(TestPrinterWatch)
#include "tst_printerwatch.moc"
