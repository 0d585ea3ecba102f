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
        // Queue "dnp" answering, accepting, with no job waiting and no marker unless given.
        const auto row = [](const char *tag, int state, const char *reasons, const char *text,
                            H health, int queued = 0, bool accepting = true, int level = -1,
                            const char *printer = "dnp", bool answering = true) {
            QTest::newRow(tag) << QString(printer) << answering << state << QString(reasons)
                               << accepting << queued << level << QString(text) << health;
        };
        row("ready", 3, "", "Pronta", H::Ready);
        row("printing, 2 waiting", 4, "", "Imprimindo, 2 na fila", H::Ready, 3);
        row("paused", 5, "paused", "Pausada (1 na fila)", H::Stopped, 1);
        row("stopped, no reason", 5, "", "Parada", H::Stopped);
        row("not accepting", 3, "", "Não aceita trabalhos", H::Stopped, 0, false);
        row("out of media", 5, "media-empty-error,paused", "Parada: sem papel/mídia", H::Stopped);
        row("media needed, not yet stopped", 4, "media-needed", "Parada: sem papel/mídia",
            H::Stopped, 1);
        row("jam and door open, rejecting", 5, "door-open-error,media-jam-error",
            "Parada: papel atolado, tampa ou porta aberta", H::Stopped, 0, false);
        row("ribbon empty", 5, "marker-supply-empty-error", "Parada: fita/suprimento esgotado",
            H::Stopped, 0, true, 0);
        row("unplugged (usb backend's report)", 4, "offline-report",
            "Parada: desligada ou desconectada", H::Stopped, 1);
        row("ribbon low by reason", 4, "marker-supply-low-warning",
            "Imprimindo; fita/suprimento acabando", H::Warning, 1);
        row("ribbon at its low mark, no reason", 3, "", "Pronta; fita/suprimento acabando",
            H::Warning, 0, true, 10);
        row("media low", 3, "media-low-report", "Pronta; papel/mídia acabando", H::Warning);
        row("a warning that does not stop it", 3, "media-empty-warning", "Pronta; sem papel/mídia",
            H::Warning);
        row("unknown reasons", 3, "cups-missing-filter-warning,other", "Pronta", H::Ready);
        row("lpoptions instance", 3, "", "Pronta", H::Ready, 0, true, -1, "dnp/glossy");
        row("not installed", 3, "", "Sem impressora: não instalada no CUPS", H::Stopped, 0, true,
            -1, "kodak");
        row("no printer set", 3, "", "Sem impressora", H::Stopped, 0, true, -1, "");
        row("CUPS not answering", 3, "", "CUPS não responde", H::Stopped, 0, true, -1, "dnp",
            false);
        row("built-in PDF printer, CUPS down", 3, "", "Pronta (arquivos PDF)", H::Ready, 0, true,
            -1, "Zelvo PDF", false);
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
