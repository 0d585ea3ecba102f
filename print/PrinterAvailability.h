#pragma once

#include "PrinterSnapshot.h"

#include <QString>
#include <QStringList>

// Whether a configured printer can be handed a photo now, from what the print system last
// said. A printer CUPS reports stopped, paused, not accepting jobs or in error, and a name that
// matches no queue, gets nothing: its photos wait in the station.
struct PrinterAvailability
{
    enum State {
        Ready, // takes documents
        Unknown, // not known now (no name yet, or CUPS not answering): the print path decides
        Held, // cannot print: nothing is handed to it
    };
    State state = Unknown;
    QString device; // the installed printer the name stands for, or the name trimmed
    QString why; // Held: the printer's state as the strip words it
};

PrinterAvailability availabilityOf(const QString &configured, const QStringList &installed,
                                   const PrinterSnapshot &snapshot, const QString &builtInPrinter);
