#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

// One document the station handed to a printer.
struct LedgerRow
{
    QTime time;
    QString job; // the order: prefix and job number ("AB12345")
    QString photo; // the photo's file name
    QString paperSize; // "10x15", "13x18", "15x23" or the code when unknown
    int copies = 0;
    QString printer;
    int cupsJobId = 0; // 0: the built-in printer
    QString state;
};

// The day's print ledger: one CSV file per day in a folder, for a shop to reconcile prints with
// sales and to forecast media. Semicolon-separated (as spreadsheets in Brazil expect), UTF-8,
// a header line first; a field holding a semicolon, a quote or a line end is quoted. Every
// change rewrites the file through a temporary file renamed into place, so a reader never sees
// half a file. Columns other programs may have added are kept.
class PrintLedger
{
public:
    // The final states a row can take; a CUPS job is "enviado" until it ends.
    static const QString Sent, Completed, Aborted, Canceled, Unknown;

    explicit PrintLedger(const QString &folder);

    // impressoes-AAAA-MM-DD.csv in the folder.
    QString path(const QDate &day) const;
    bool add(const QDate &day, const LedgerRow &row);
    // Sets the state of the row of CUPS job `cupsJobId` on `printer`; false when the file or
    // the row is not there, or the file cannot be written.
    bool setState(const QDate &day, const QString &printer, int cupsJobId, const QString &state);
    // The job moved to another printer: its row names that one from now on.
    bool setPrinter(const QDate &day, const QString &printer, int cupsJobId,
                    const QString &newPrinter);
    QList<LedgerRow> rows(const QDate &day) const;

    static QByteArray formatLine(const QStringList &fields);
    static QList<QStringList> parseLines(const QByteArray &text);

private:
    QList<QStringList> readFields(const QDate &day) const;
    bool writeFields(const QDate &day, const QList<QStringList> &lines) const;
    bool setField(const QDate &day, const QString &printer, int cupsJobId, int column,
                  const QString &value);

    QString m_folder;
};
