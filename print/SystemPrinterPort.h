#pragma once

#include "PrinterPort.h"

#include <QPageLayout>
#include <QString>

#include <memory>
#include <optional>

class QPainter;
class QPdfWriter;
class QTemporaryFile;

// The real printing platform: the CUPS queues that Qt lists, in the platform's order, and
// after them the built-in PDF printer. Every document is first drawn into a PDF laid out for
// the chosen printer (its resolution, default paper and printable area as Qt reports them);
// endDocument() then submits that PDF to the CUPS queue with libcups and succeeds only when
// CUPS returns a job id, or, for the built-in printer, publishes it as a new file in the PDF
// folder without ever replacing an existing one. libcups honours CUPS_SERVER.
class SystemPrinterPort : public PrinterPort
{
public:
    // The built-in printer's page: A4 portrait without margins, at this resolution.
    static constexpr int BuiltInPdfDpi = 300;

    // `pdfFolder` receives the built-in printer's documents; it is created when needed.
    explicit SystemPrinterPort(const QString &pdfFolder);
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
    bool endDocument() override;

    // The file the built-in printer wrote for the last document ended there, and the CUPS job
    // id of the last document submitted to a queue ("" and 0 before the first).
    QString lastPdfFile() const { return m_lastPdfFile; }
    int lastJobId() const { return m_lastJobId; }

private:
    struct PageSetup
    {
        int dpi = 0;
        QPageLayout layout;
    };

    // How `deviceName` lays out a page; nullopt when it is no longer installed.
    std::optional<PageSetup> pageSetupFor(const QString &deviceName) const;
    // The current printer's page setup, measured once per printer made current.
    const std::optional<PageSetup> &currentSetup();
    void discardDocument();
    bool publishPdf(const QString &spoolFile);
    bool submitToQueue(const QString &spoolFile);

    QString m_pdfFolder;
    QString m_current; // empty: the default printer
    QString m_setupPrinter;
    std::optional<PageSetup> m_setup;

    // The open document.
    QString m_docPrinter;
    QString m_docTitle;
    bool m_docFailed = false;
    std::unique_ptr<QTemporaryFile> m_spool;
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<QPainter> m_painter;

    QString m_lastPdfFile;
    int m_lastJobId = 0;
};
