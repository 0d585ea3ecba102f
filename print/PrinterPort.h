#pragma once

#include <QSizeF>
#include <QString>
#include <QStringList>

class QPainter;

// What the print system answers about its queues when asked.
struct PrintQueues
{
    bool answering = false; // false: no answer, so nothing can be told about its queues
    QStringList names; // its queues in its own listing order; the built-in printer is none
    QString systemDefault; // the queue marked as the default, "" when none is
};

// The printing platform as the station sees it: the installed printers, one current printer,
// and at most one open print document on it. The real one goes through Qt PrintSupport and
// CUPS, plus the built-in PDF printer; tests use a recording double.
class PrinterPort
{
public:
    // The built-in printer that writes each document as a new PDF file. CUPS queue names cannot
    // hold spaces, so no queue can take its name.
    static const QString BuiltInPdfPrinter;

    virtual ~PrinterPort() = default;

    // Asks the print system for its queues, now.
    virtual PrintQueues printQueues() const = 0;

    // Device names in the platform's order; the built-in PDF printer comes last.
    virtual QStringList installedPrinters() const = 0;
    // The system's default printer right now ("" when there is none at all).
    virtual QString defaultPrinter() const = 0;

    // The printer that documents go to. Until a printer is made current it is the default one.
    virtual QString currentPrinter() const = 0;
    // `deviceName` must be one of installedPrinters(), exactly as listed there.
    virtual void setCurrentPrinter(const QString &deviceName) = 0;

    // Horizontal resolution of the current printer in dots per inch.
    virtual float resolution() = 0;
    // Printable area of the current printer's page in device pixels.
    virtual QSizeF printableSize() = 0;

    // Opens a document with its first page on the current printer; false when it cannot, and
    // the port logs why.
    virtual bool beginDocument(const QString &title) = 0;
    // The painter of the open document's current page, nullptr when no document is open.
    virtual QPainter *painter() = 0;
    virtual bool newPage() = 0;
    // Ends the document and hands it to the print system; true only when it was accepted
    // there (a job exists in the printer's queue, or the PDF file was written). When the print
    // system refuses it the port logs why.
    virtual bool endDocument() = 0;
};
