#include "PrinterAvailability.h"

#include "PageGeometry.h"
#include "PrinterStatus.h"

PrinterAvailability availabilityOf(const QString &configured, const QStringList &installed,
                                   const PrinterSnapshot &snapshot, const QString &builtInPrinter)
{
    PrinterAvailability result;
    if (configured.trimmed().isEmpty())
        return result;
    const int found = findPrinterByName(installed, configured);
    result.device = found >= 0 ? installed[found] : configured.trimmed();
    if (result.device == builtInPrinter) {
        result.state = PrinterAvailability::Ready;
        return result;
    }
    if (!snapshot.answering)
        return result;
    // A name without a queue prints nowhere: another queue's paper would be the wrong print.
    if (found < 0) {
        result.state = PrinterAvailability::Held;
        result.why = describePrinter(result.device, snapshot, builtInPrinter).text;
        return result;
    }
    if (!snapshot.status.contains(queueOfDevice(result.device))) {
        result.state = PrinterAvailability::Ready; // listed, its state not told yet
        return result;
    }
    const PrinterDescription description = describePrinter(result.device, snapshot, builtInPrinter);
    result.state = description.health == PrinterHealth::Stopped ? PrinterAvailability::Held
                                                                : PrinterAvailability::Ready;
    if (result.state == PrinterAvailability::Held)
        result.why = description.text;
    return result;
}
