#pragma once

#include "CupsLink.h"
#include "PrinterPort.h"

#include <QPageLayout>
#include <QString>

#include <memory>
#include <optional>

class QPainter;
class QPdfWriter;
class QTemporaryFile;

// The real printing platform: the CUPS queues in CUPS's order, and after them the built-in PDF
// printer. Every document is first drawn into a PDF laid out for the chosen printer (its
// resolution, default paper and printable area as CUPS reports them); endDocument() then hands
// that PDF to the CUPS link, whose answer (a job id, or why not) comes later, or, for the
// built-in printer, publishes it at once as a new file in the PDF folder without ever
// replacing an existing one. Nothing here waits for CUPS: what it knows of CUPS is the link's
// latest snapshot.
class SystemPrinterPort : public PrinterPort
{
public:
    // The built-in printer's page: A4 portrait without margins, at this resolution.
    static constexpr int BuiltInPdfDpi = 300;

    // `pdfFolder` receives the built-in printer's documents; it is created when needed.
    // `cupsServer` as for CupsLink: "" is libcups's choice, which honours CUPS_SERVER.
    explicit SystemPrinterPort(const QString &pdfFolder, const QString &cupsServer = {});
    ~SystemPrinterPort() override;
    SystemPrinterPort(const SystemPrinterPort &) = delete;
    SystemPrinterPort &operator=(const SystemPrinterPort &) = delete;

    QString pdfFolder() const { return m_pdfFolder; }

    PrintQueues printQueues() const override;
    QStringList installedPrinters() const override;
    // The system's default queue, or the built-in PDF printer when the system has none.
    QString defaultPrinter() const override;
    QString currentPrinter() const override;
    void setCurrentPrinter(const QString &deviceName) override;
    float resolution() override;
    QSizeF printableSize() override;
    bool beginDocument(const QString &title) override;
    QPainter *painter() override;
    bool newPage() override;
    Handover endDocument() override;
    void abandonDocument() override { discardDocument(); }
    PrinterSnapshot snapshot() const override { return m_link.snapshot(); }
    void setFollowedJobs(const QList<int> &jobIds) override { m_link.setFollowedJobs(jobIds); }
    void refreshNow() override { m_link.refreshNow(); }
    bool idle() const override { return m_link.idle(); }

    // The file the built-in printer wrote for the last document ended there, and the CUPS job
    // id of the last document CUPS took ("" and 0 before the first).
    QString lastPdfFile() const { return m_lastPdfFile; }
    int lastJobId() const { return m_lastJobId; }

private:
    struct PageSetup
    {
        int dpi = 0;
        QPageLayout layout;
    };

    // How `deviceName` lays out a page, as the latest snapshot has it; nullopt while CUPS has
    // not told.
    std::optional<PageSetup> pageSetupFor(const QString &deviceName) const;
    void discardDocument();
    bool publishPdf(const QString &spoolFile);
    void takeAnswer(int ticket, int jobId, const QString &refusal);

    QString m_pdfFolder;
    CupsLink m_link;
    QString m_current; // empty: the default printer

    // The open document.
    QString m_docPrinter;
    QString m_docTitle;
    bool m_docFailed = false;
    std::unique_ptr<QTemporaryFile> m_spool;
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<QPainter> m_painter;

    // Documents on their way to CUPS: ticket -> device name, for the log line of a refusal.
    QHash<int, QString> m_waiting;
    QString m_lastPdfFile;
    int m_lastJobId = 0;
};
