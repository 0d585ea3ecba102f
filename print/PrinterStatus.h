#pragma once

#include "PrinterSnapshot.h"

#include <QString>
#include <QStringList>

#include <optional>

// How a printer's state reads for the operator, in Portuguese, from what CUPS reports: its
// printer-state, printer-state-reasons, printer-is-accepting-jobs, its waiting jobs and its
// marker levels.

enum class PrinterHealth {
    Ready, // prints
    Warning, // prints, but something runs low
    Stopped, // cannot print right now: the operator has to act
};

struct PrinterDescription
{
    QString text;
    PrinterHealth health = PrinterHealth::Ready;
};

// `printer` is a device name as configured ("" when none is set), the built-in PDF printer's
// name `builtInPrinter`, or a CUPS queue (an lpoptions instance "queue/instance" reads as its
// queue).
PrinterDescription describePrinter(const QString &printer, const PrinterSnapshot &snapshot,
                                   const QString &builtInPrinter);

// The marker the shop has to watch: the one with the lowest known level (ribbon and media run
// out together on dye-sublimation printers). nullopt when the driver reports no level.
std::optional<MarkerLevel> lowestMarker(const QueueStatus &status);

// The queue a device name stands for: "queue/instance" is the queue's lpoptions instance.
QString queueOfDevice(const QString &device);
