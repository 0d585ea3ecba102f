#include "Dispatcher.h"

#include "JobFile.h"
#include "JobOwnership.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PrinterPort.h"

#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcPrint)

namespace {

// Whether the last tick could not print because of the platform; its end is worth a line.
bool printingHeldUp = false;

} // namespace

void PrintNextPhoto(JobStore &store)
{
    if (store.jobCount < 1)
        return;
    const QueueOrderSearch head = FindNextJobToPrint(store.printJobs);
    if (!head.found || head.index < 0)
        return;
    const int32_t index = head.index;
    JobRecord &job = store.printJobs[size_t(index)];
    const auto next = std::find_if(job.photos.begin(), job.photos.end(),
                                   [](const PhotoItem &photo) { return photo.printed == 0; });
    if (next == job.photos.end()) {
        RetireJob(store, index);
        return;
    }
    PhotoItem &photo = *next;

    // Printed only while no other station can be taking this station's jobs over, and only a
    // job that no other station holds now.
    if (!leaseAllowsPrinting(store.station, job.systemFolder))
        return;
    const QString holder = holderOf(store.station, job.systemFolder, job.fileName);
    if (!holder.isEmpty() && holder != store.station.id) {
        RetireJob(store, index);
        return;
    }
    // A printer left empty is chosen at the first photo that needs it; while the print system
    // cannot tell which, the photo waits.
    const PrinterPort *port = ModPrint::printerPort();
    if (const auto paper = ModConf::paperSettings(photo.paperSize); paper
        && paper->printer.trimmed().isEmpty()
        && (!port || !ModPrint::ResolveEmptyPrinterKeys(*port))) {
        printingHeldUp = true;
        return;
    }
    // An unknown paper size keeps the printer, target and page of the photo before it.
    if (const auto paper = ModConf::paperSettings(photo.paperSize)) {
        ModPrint::TargetWidthIn = paper->width / 100;
        ModPrint::TargetHeightIn = paper->height / 100;
        ModPrint::SelectPrinter(paper->printer);
    }

    const QString title = QStringLiteral("Zelvo %1").arg(photo.imageFileName);
    if (!ModPrint::OpenPrintDocument(title)) {
        printingHeldUp = true;
        return;
    }
    if (photo.copies > 0)
        ModPrint::PrintPhoto(job.systemFolder + QStringLiteral("/images/") + photo.imageFileName,
                             photo.copies);
    if (!ModPrint::EndPrintDocument()) {
        printingHeldUp = true;
        return;
    }
    // First of all, so that a crash from here on cannot print the photo again. An urgent copy
    // records it in its source's job file while the source is queued: once retired, it is
    // never printed again anyway, and its name may hold a later delivery of the same order.
    if (photo.lineOffset >= 0 && (!job.urgent || urgentSourceQueued(store, index)))
        recordPhotoPrinted(
            JobFs::joinPath(JobFs::joinPath(job.systemFolder, QStringLiteral("jobs")),
                            job.fileName),
            job.fileIdentity, photo);
    if (printingHeldUp) {
        printingHeldUp = false;
        qCInfo(lcPrint, "Printing goes on: '%s' was accepted", qUtf8Printable(title));
    }

    photo.printed = 1;
    ++job.printedCount;
    if (job.photoCount == job.printedCount)
        RetireJob(store, index);
}
