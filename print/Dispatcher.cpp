#include "Dispatcher.h"

#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobOwnership.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PrintTracker.h"
#include "PrinterPort.h"
#include "SentAhead.h"

#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcPrint)

namespace {

// Whether a document could not be printed because of the platform; its end is worth a line.
bool printingHeldUp = false;

// The slot of the job `printed` came from, or -1 once it has left the queue. The slot may have
// changed meanwhile (a removal moves the last record), so the record is found by its serial.
int32_t findPrintedJob(const JobStore &store, const PrintedPhoto &printed)
{
    for (int32_t i = 0; i < store.jobCount && size_t(i) < store.printJobs.size(); ++i) {
        const JobRecord &job = store.printJobs[size_t(i)];
        if (job.serial == printed.serial && printed.photoIndex < int(job.photos.size()))
            return i;
    }
    return -1;
}

} // namespace

void NotePhotoRefused()
{
    printingHeldUp = true;
}

void AcceptPrintedPhoto(JobStore &store, const PrintedPhoto &printed, bool retire)
{
    if (printingHeldUp) {
        printingHeldUp = false;
        qCInfo(lcPrint, "Printing goes on: '%s' was accepted",
               qUtf8Printable(printed.photo.imageFileName));
    }
    const int32_t index = findPrintedJob(store, printed);
    if (index < 0)
        return; // removed by the operator while CUPS was taking the document
    JobRecord &job = store.printJobs[size_t(index)];
    PhotoItem &photo = job.photos[size_t(printed.photoIndex)];
    // First of all, so that a crash from here on cannot print the photo again. An urgent copy
    // records it in its source's job file while the source is queued: once retired, it is
    // never printed again anyway, and its name may hold a later delivery of the same order.
    if (photo.lineOffset >= 0 && (!job.urgent || urgentSourceQueued(store, index)))
        recordPhotoPrinted(
            JobFs::joinPath(JobFs::joinPath(job.systemFolder, QStringLiteral("jobs")),
                            job.fileName),
            job.fileIdentity, photo);
    if (photo.printed == 0) {
        photo.printed = 1;
        ++job.printedCount;
    }
    // A photo sent ahead is no longer to be listed again after a restart.
    if (job.sentAhead)
        saveSentAhead(store);
    if (retire && job.photoCount == job.printedCount)
        RetireJob(store, index);
}

void RetireIfPrinted(JobStore &store, quint64 serial)
{
    PrintedPhoto photo;
    photo.serial = serial;
    const int32_t index = findPrintedJob(store, photo);
    if (index >= 0
        && store.printJobs[size_t(index)].photoCount == store.printJobs[size_t(index)].printedCount)
        RetireJob(store, index);
}

void PrintNextPhoto(JobStore &store, PrintTracker *tracker)
{
    if (store.jobCount < 1)
        return;
    // The photo before is still on its way to CUPS: it counts first.
    if (tracker && tracker->photoInFlight())
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
    const PhotoItem &photo = *next;

    // Printed only while no other station can be taking this station's jobs over, and only a
    // job that no other station holds now.
    if (!leaseAllowsPrinting(store.station, job.systemFolder))
        return;
    // An urgent job bears its source's file name. Only a print-now copy of the very file another
    // station holds now is left to it, as that station prints the photo, unmarked there; a
    // reprint's photo is marked printed already, and a retired job's name may be another
    // delivery's.
    const QString holder = holderOf(store.station, job.systemFolder, job.fileName);
    if (!holder.isEmpty() && holder != store.station.id
        && (!job.urgent
            || JobFs::identityOf(JobFs::joinPath(
                   JobFs::joinPath(job.systemFolder, QStringLiteral("jobs")), job.fileName))
                == job.fileIdentity)) {
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
    const Handover handover = ModPrint::EndPrintDocument();
    const PrintedPhoto printed { job.serial,
                                 job.fileName,
                                 job.listKey,
                                 job.orderPrefix,
                                 job.urgent,
                                 int(next - job.photos.begin()),
                                 photo,
                                 job.systemFolder,
                                 handover.printer,
                                 false };
    switch (handover.fate) {
    case Handover::Refused:
        printingHeldUp = true;
        return;
    case Handover::Pending:
        if (tracker) {
            tracker->expectAnswer(handover.ticket, printed);
            return;
        }
        // Nobody would take the answer: the photo is not counted, and is tried again.
        qCCritical(lcPrint, "A document went to CUPS without a tracker for its answer");
        printingHeldUp = true;
        return;
    case Handover::Accepted:
        // `job` and `photo` may move from here on.
        AcceptPrintedPhoto(store, printed);
        if (tracker)
            tracker->photoAccepted(printed, handover.jobId);
        return;
    }
}
