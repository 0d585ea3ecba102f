#include "Dispatcher.h"

#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobOwnership.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PhotoWaits.h"
#include "PrintResolution.h"
#include "PrintTracker.h"
#include "PrinterPort.h"
#include "SentAhead.h"

#include <QLoggingCategory>

#include <algorithm>
#include <optional>
#include <vector>

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

QString photoPathOf(const JobRecord &job, const PhotoItem &photo)
{
    return job.systemFolder + QStringLiteral("/images/") + photo.imageFileName;
}

// What a job did with the tick: it spent it, or passed it on to the next job.
enum class Turn { Taken, PassedOn };

std::vector<int32_t> jobsInPrintOrder(const JobStore &store);
Turn printFromJob(JobStore &store, int32_t index, PrintTracker *tracker);
void notePhotoWaiting(const JobRecord &job, const PhotoItem &photo,
                      const std::optional<PhotoStamp> &stamp, PhotoFault fault,
                      PrintTracker *tracker);

enum class Hold { Print, Wait, Leave };

// Whether this station may print a photo of `job` now: only while no other station can be taking
// its jobs over, and only a job that no other station holds now. An urgent job bears its
// source's file name: only a print-now copy of the very file another station holds now is left
// to it, as that station prints the photo, unmarked there; a reprint's photo is marked printed
// already, and a retired job's name may be another delivery's.
Hold holdOn(JobStore &store, const JobRecord &job)
{
    if (!leaseAllowsPrinting(store.station, job.systemFolder))
        return Hold::Wait;
    const QString holder = holderOf(store.station, job.systemFolder, job.fileName);
    const auto file = JobFs::identityOf(
        JobFs::joinPath(JobFs::joinPath(job.systemFolder, QStringLiteral("jobs")), job.fileName));
    if (!holder.isEmpty() && holder != store.station.id
        && (!job.urgent || file == job.fileIdentity))
        return Hold::Leave;
    // Its file gone or another: a station that took the job over while this one was paused has
    // printed and retired it, or it was removed by hand (and the order maybe delivered again).
    if ((holder.isEmpty() || holder == store.station.id) && !job.urgent
        && job.fileIdentity != JobFs::FileIdentity {} && file != job.fileIdentity)
        return Hold::Leave;
    return Hold::Print;
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
    photoWaits().clear(photoPathOf(job, photo));
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

namespace {

// Prints photo `photoIndex` of the job in slot `index`: Taken when the tick is spent on it
// (printed, on its way, held up or the job retired), PassedOn when its file cannot be read.
Turn printPhotoOfJob(JobStore &store, int32_t index, int photoIndex, PrintTracker *tracker)
{
    JobRecord &job = store.printJobs[size_t(index)];
    const PhotoItem &photo = job.photos[size_t(photoIndex)];

    switch (holdOn(store, job)) {
    case Hold::Wait:
        return Turn::Taken;
    case Hold::Leave:
        RetireJob(store, index);
        return Turn::Taken;
    case Hold::Print:
        break;
    }
    // A printer left empty is chosen at the first photo that needs it; while the print system
    // cannot tell which, the photo waits.
    const PrinterPort *port = ModPrint::printerPort();
    if (const auto paper = ModConf::paperSettings(photo.paperSize); paper
        && paper->printer.trimmed().isEmpty()
        && (!port || !ModPrint::ResolveEmptyPrinterKeys(*port))) {
        printingHeldUp = true;
        return Turn::Taken;
    }
    // An unknown paper size keeps the printer, target and page of the photo before it.
    if (const auto paper = ModConf::paperSettings(photo.paperSize)) {
        ModPrint::TargetWidthIn = paper->width / 100;
        ModPrint::TargetHeightIn = paper->height / 100;
        ModPrint::SelectPrinter(paper->printer);
    }

    // A photo that cannot be drawn gets no document at all: it waits, and the queue goes on.
    if (photo.copies > 0) {
        const QString path = photoPathOf(job, photo);
        const std::optional<PhotoStamp> before = photoStamp(path);
        int ppi = 0;
        if (const PhotoFault fault = ModPrint::PreparePhoto(path, &ppi);
            fault != PhotoFault::None) {
            notePhotoWaiting(job, photo, before, fault, tracker);
            return Turn::PassedOn;
        }
        PrintResolution::logIfLow(path, photo.paperSize, ppi);
    }

    const QString title = QStringLiteral("Zelvo %1").arg(photo.imageFileName);
    if (!ModPrint::OpenPrintDocument(title)) {
        printingHeldUp = true;
        return Turn::Taken;
    }
    if (photo.copies > 0)
        ModPrint::PrintPhoto(photoPathOf(job, photo), photo.copies);
    // Reading the photo may have taken long (a share that stopped answering, a suspended PC):
    // asked again just before the document goes, so that a station that took the job over
    // meanwhile is the only one to print it. The next tick leaves or waits.
    if (holdOn(store, job) != Hold::Print) {
        ModPrint::AbandonPrintDocument();
        qCInfo(lcPrint, "'%s' not printed: the station may no longer print its job",
               qUtf8Printable(photo.imageFileName));
        return Turn::Taken;
    }
    const Handover handover = ModPrint::EndPrintDocument();
    const PrintedPhoto printed { job.serial,       job.fileName, job.listKey, job.orderPrefix,
                                 job.urgent,       photoIndex,   photo,       job.systemFolder,
                                 handover.printer, false };
    switch (handover.fate) {
    case Handover::Refused:
        printingHeldUp = true;
        return Turn::Taken;
    case Handover::Pending:
        if (tracker) {
            tracker->expectAnswer(handover.ticket, printed);
            return Turn::Taken;
        }
        // Nobody would take the answer: the photo is not counted, and is tried again.
        qCCritical(lcPrint, "A document went to CUPS without a tracker for its answer");
        printingHeldUp = true;
        return Turn::Taken;
    case Handover::Accepted:
        // `job` and `photo` may move from here on.
        AcceptPrintedPhoto(store, printed);
        if (tracker)
            tracker->photoAccepted(printed, handover.jobId);
        return Turn::Taken;
    }
    return Turn::Taken;
}

} // namespace

void PrintNextPhoto(JobStore &store, PrintTracker *tracker)
{
    if (store.jobCount < 1)
        return;
    // The photo before is still on its way to CUPS: it counts first.
    if (tracker && tracker->photoInFlight())
        return;
    for (const int32_t index : jobsInPrintOrder(store)) {
        if (printFromJob(store, index, tracker) == Turn::Taken)
            return;
    }
}

namespace {

std::vector<int32_t> jobsInPrintOrder(const JobStore &store)
{
    const QueueOrderSearch head = FindNextJobToPrint(store.printJobs);
    if (!head.found || head.index < 0)
        return {};
    std::vector<int32_t> order;
    for (int32_t i = 0; i < store.jobCount && size_t(i) < store.printJobs.size(); ++i) {
        if (i != head.index && store.printJobs[size_t(i)].photoCount > 0)
            order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&store](int32_t a, int32_t b) {
        return store.printJobs[size_t(a)].queueOrder < store.printJobs[size_t(b)].queueOrder;
    });
    order.insert(order.begin(), head.index);
    return order;
}

// Records that `photo` of `job` cannot be read now, and tells it once per fault and file state.
void notePhotoWaiting(const JobRecord &job, const PhotoItem &photo,
                      const std::optional<PhotoStamp> &stamp, PhotoFault fault,
                      PrintTracker *tracker)
{
    const QString path = photoPathOf(job, photo);
    if (!photoWaits().note(path, stamp, fault))
        return;
    const QString order = photo.imageFileName.section(QLatin1Char('_'), 0, 0);
    qCWarning(lcPrint,
              "Photo '%s' of order %s is %s: it waits until its file changes, and the queue "
              "goes on",
              qUtf8Printable(path), qUtf8Printable(order), photoFaultLogText(fault));
    if (tracker)
        tracker->photoWaiting(path,
                              QStringLiteral("Foto %1 (job %2) %3")
                                  .arg(photo.imageFileName, order, photoFaultText(fault)));
}

Turn printFromJob(JobStore &store, int32_t index, PrintTracker *tracker)
{
    JobRecord &job = store.printJobs[size_t(index)];
    const auto unprinted = [](const PhotoItem &photo) { return photo.printed == 0; };
    if (std::none_of(job.photos.begin(), job.photos.end(), unprinted)) {
        RetireJob(store, index);
        return Turn::Taken;
    }
    // Each photo once a tick, even one whose file keeps changing while it is being copied.
    for (size_t i = 0; i < job.photos.size(); ++i) {
        // A photo passed on leaves the table as it was, so `job` stays valid.
        if (job.photos[i].printed != 0 || !photoReadyToTry(job, job.photos[i]))
            continue;
        if (const Turn outcome = printPhotoOfJob(store, index, int(i), tracker);
            outcome != Turn::PassedOn)
            return outcome;
    }
    return Turn::PassedOn; // every photo left waits for its file
}

} // namespace

bool photoReadyToTry(const JobRecord &job, const PhotoItem &photo)
{
    return photo.copies < 1 || photoWaits().mayTry(photoPathOf(job, photo));
}

PhotoWaits &photoWaits()
{
    static PhotoWaits waits;
    return waits;
}
