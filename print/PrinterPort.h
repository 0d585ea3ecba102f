#pragma once

#include "PrinterSnapshot.h"

#include <QList>
#include <QObject>
#include <QSizeF>
#include <QString>
#include <QStringList>

class QPainter;

// What the print system last said about its queues.
struct PrintQueues
{
    bool answering = false; // false: no answer, so nothing can be told about its queues
    QStringList names; // its queues in its own listing order; the built-in printer is none
    QString systemDefault; // the queue marked as the default, "" when none is
};

// What became of a document once it was ended.
struct Handover
{
    enum Fate {
        Refused, // not printed; the port logged why
        Accepted, // in the printer's queue (or written by the built-in printer)
        Pending, // on its way: the answer comes later, PrinterPortEvents::documentAnswered
    };
    Fate fate = Refused;
    int ticket = 0; // Pending: the answer's ticket
    int jobId = 0; // Accepted on a CUPS queue: its job id
    QString printer; // the device it went to
};

// What the print system tells after the call that asked for it, on the interface thread.
class PrinterPortEvents : public QObject
{
    Q_OBJECT

signals:
    // The answer to the Pending document `ticket`: CUPS's job id, or 0 when it was refused
    // (the port logged why).
    void documentAnswered(int ticket, int jobId);
    void snapshotChanged();
};

// The printing platform as the station sees it: the installed printers, one current printer,
// and at most one open print document on it. The real one goes through CUPS, plus the built-in
// PDF printer; tests use a recording double. Every call returns at once: what the print system
// says comes as a snapshot, and a document handed to it may be answered later.
class PrinterPort
{
public:
    // The built-in printer that writes each document as a new PDF file. CUPS queue names cannot
    // hold spaces, so no queue can take its name.
    static const QString BuiltInPdfPrinter;
    // A document handed over is answered within this long, however slow the print system.
    static constexpr int AnswerWithinMs = 45000;

    virtual ~PrinterPort() = default;

    // What the print system last said about its queues.
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
    // Ends the document and hands it to the print system: accepted there (a job exists in the
    // printer's queue, or the PDF file was written), refused, or still on its way.
    virtual Handover endDocument() = 0;
    // Closes the open document without handing it to anyone.
    virtual void abandonDocument() = 0;

    // What the print system last reported about its queues and the followed jobs.
    virtual PrinterSnapshot snapshot() const = 0;
    // The jobs whose states the snapshots report; an accepted job is followed from the start.
    virtual void setFollowedJobs(const QList<int> &) { }
    // Asks the print system for a snapshot now.
    virtual void refreshNow() { }
    // No document waits for its answer and the snapshot asked for has come.
    virtual bool idle() const { return true; }

    PrinterPortEvents events;
};
