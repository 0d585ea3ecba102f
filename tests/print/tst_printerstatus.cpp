#include "PrinterStatus.h"

#include <QTest>

Q_DECLARE_METATYPE(PrinterHealth)

// What the strip says about a printer, from what CUPS reports about its queue.
class TestPrinterStatus : public QObject
{
    Q_OBJECT

private slots:
    void describesTheQueue_data()
    {
        QTest::addColumn<QString>("printer");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("reasons");
        QTest::addColumn<bool>("accepting");
        QTest::addColumn<int>("queued");
        QTest::addColumn<int>("level"); // of its one marker, -1 for none
        QTest::addColumn<QString>("text");
        QTest::addColumn<PrinterHealth>("health");

        using H = PrinterHealth;
        const QString q = "dnp";
        QTest::newRow("ready") << q << true << 3 << "" << true << 0 << -1 << "Pronta" << H::Ready;
        QTest::newRow("printing, 2 waiting")
            << q << true << 4 << "" << true << 3 << -1 << "Imprimindo, 2 na fila" << H::Ready;
        QTest::newRow("paused") << q << true << 5 << "paused" << true << 1 << -1
                                << "Pausada (1 na fila)" << H::Stopped;
        QTest::newRow("stopped, no reason")
            << q << true << 5 << "" << true << 0 << -1 << "Parada" << H::Stopped;
        QTest::newRow("not accepting")
            << q << true << 3 << "" << false << 0 << -1 << "Não aceita trabalhos" << H::Stopped;
        QTest::newRow("out of media") << q << true << 5 << "media-empty-error,paused" << true << 0
                                      << -1 << "Parada: sem papel/mídia" << H::Stopped;
        QTest::newRow("media needed, not yet stopped")
            << q << true << 4 << "media-needed" << true << 1 << -1 << "Parada: sem papel/mídia"
            << H::Stopped;
        QTest::newRow("jam and door open, rejecting")
            << q << true << 5 << "door-open-error,media-jam-error" << false << 0 << -1
            << "Parada: papel atolado, tampa ou porta aberta" << H::Stopped;
        QTest::newRow("ribbon empty") << q << true << 5 << "marker-supply-empty-error" << true << 0
                                      << 0 << "Parada: fita/suprimento esgotado" << H::Stopped;
        QTest::newRow("unplugged (usb backend's report)")
            << q << true << 4 << "offline-report" << true << 1 << -1
            << "Parada: desligada ou desconectada" << H::Stopped;
        QTest::newRow("ribbon low by reason")
            << q << true << 4 << "marker-supply-low-warning" << true << 1 << -1
            << "Imprimindo; fita/suprimento acabando" << H::Warning;
        QTest::newRow("ribbon at its low mark, no reason")
            << q << true << 3 << "" << true << 0 << 10 << "Pronta; fita/suprimento acabando"
            << H::Warning;
        QTest::newRow("media low") << q << true << 3 << "media-low-report" << true << 0 << -1
                                   << "Pronta; papel/mídia acabando" << H::Warning;
        QTest::newRow("a warning that does not stop it")
            << q << true << 3 << "media-empty-warning" << true << 0 << -1
            << "Pronta; sem papel/mídia" << H::Warning;
        QTest::newRow("unknown reasons") << q << true << 3 << "cups-missing-filter-warning,other"
                                         << true << 0 << -1 << "Pronta" << H::Ready;
        QTest::newRow("lpoptions instance")
            << "dnp/glossy" << true << 3 << "" << true << 0 << -1 << "Pronta" << H::Ready;
        QTest::newRow("not installed") << "kodak" << true << 3 << "" << true << 0 << -1
                                       << "Sem impressora: não instalada no CUPS" << H::Stopped;
        QTest::newRow("no printer set")
            << "" << true << 3 << "" << true << 0 << -1 << "Sem impressora" << H::Stopped;
        QTest::newRow("CUPS not answering")
            << q << false << 3 << "" << true << 0 << -1 << "CUPS não responde" << H::Stopped;
        QTest::newRow("built-in PDF printer, CUPS down")
            << "Zelvo PDF" << false << 3 << "" << true << 0 << -1 << "Pronta (arquivos PDF)"
            << H::Ready;
    }
    void describesTheQueue()
    {
        QFETCH(QString, printer);
        QFETCH(bool, answering);
        QFETCH(int, state);
        QFETCH(QString, reasons);
        QFETCH(bool, accepting);
        QFETCH(int, queued);
        QFETCH(int, level);
        QFETCH(QString, text);
        QFETCH(PrinterHealth, health);

        QueueStatus queue;
        queue.state = state;
        queue.reasons = reasons.split(',', Qt::SkipEmptyParts);
        queue.accepting = accepting;
        queue.queuedJobs = queued;
        if (level >= 0)
            queue.markers
                = { { "Ribbon", "ribbon-wax", 80, 20 }, { "Ribbon", "ribbon-wax", level, 10 } };
        PrinterSnapshot snapshot;
        snapshot.answering = answering;
        snapshot.status.insert("dnp", queue);

        const PrinterDescription description = describePrinter(printer, snapshot, "Zelvo PDF");
        QCOMPARE(description.text, text);
        QCOMPARE(description.health, health);
        // The lowest of the levels is the one to watch.
        QCOMPARE(lowestMarker(queue).value_or(MarkerLevel {}).level, level);
    }
};

QTEST_GUILESS_MAIN(TestPrinterStatus)
#include "tst_printerstatus.moc"
