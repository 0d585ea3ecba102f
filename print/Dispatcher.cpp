#include "Dispatcher.h"

#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobOwnership.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PhotoPlanner.h"
#include "PhotoWaits.h"
#include "PrintResolution.h"
#include "PrintTracker.h"
#include "PrinterAvailability.h"
#include "PrinterPort.h"
#include "SentAhead.h"

#include <QHash>
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

// Where a photo of a paper size goes now: the printer to hand it to ("" for one still to be
// chosen), or nowhere (closed) while neither the size's printer nor its stand-in can print. An
// unknown size keeps the printer, target and page of the photo before it.
struct Route
{
    bool open = false;
    bool keepCurrent = false;
    QString printer;
};

Turn printFromJob(JobStore &store, int32_t index, const Route (&routes)[3], PrintTracker *tracker);
Turn printPhotoOfJob(JobStore &store, int32_t index, int photoIndex, const Route &route,
                     PrintTracker *tracker);
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

PrinterAvailability availability(const QString &printer)
{
    const PrinterPort *port = ModPrint::printerPort();
    if (!port)
        return {};
    return availabilityOf(printer, port->installedPrinters(), port->snapshot(),
                          PrinterPort::BuiltInPdfPrinter);
}

// The printers that cannot print now, as last logged, by device.
QHash<QString, QString> heldPrinters;

// One line when a configured printer stops taking photos, and one when it takes them again.
void noteAvailability(const PrinterAvailability &a)
{
    if (a.device.isEmpty())
        return;
    const QString why = a.state == PrinterAvailability::Held ? a.why : QString();
    if (heldPrinters.value(a.device) == why)
        return;
    if (why.isEmpty()) {
        heldPrinters.remove(a.device);
        qCInfo(lcPrint, "Printer '%s' can print again: it gets photos", qUtf8Printable(a.device));
    } else {
        heldPrinters.insert(a.device, why);
        qCWarning(lcPrint, "Printer '%s' cannot print (%s): its photos wait in the station",
                  qUtf8Printable(a.device), qUtf8Printable(why));
    }
}

// The configured printers of each paper size, the size's own first, then its stand-in.
QStringList configuredPrinters(int paperSize)
{
    QStringList names;
    if (const auto paper = ModConf::paperSettings(paperSize)) {
        names << paper->printer;
        if (!paper->standIn.trimmed().isEmpty())
            names << paper->standIn;
    }
    return names;
}

// The tick's pace: the size's printer unless it cannot print, then its stand-in.
Route routeForTick(int paperSize)
{
    const QStringList names = configuredPrinters(paperSize);
    if (names.isEmpty())
        return { true, true, {} };
    for (const QString &name : names) {
        const PrinterAvailability a = availability(name);
        noteAvailability(a);
        if (a.state != PrinterAvailability::Held)
            return { true, false, name };
    }
    return {};
}

// Whether photo `photo` of the record `serial` may be tried now (its file, if it could not be
// read before, has changed).
bool readyToTry(const JobStore &store, quint64 serial, int photo)
{
    for (int32_t i = 0; i < store.jobCount && size_t(i) < store.printJobs.size(); ++i) {
        const JobRecord &job = store.printJobs[size_t(i)];
        if (job.serial == serial)
            return photoReadyToTry(job, job.photos[size_t(photo)]);
    }
    return true;
}

bool onItsWay(const PrintTracker *tracker, quint64 serial, int photo)
{
    return tracker && tracker->photoOnItsWay(serial, photo);
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
Turn printPhotoOfJob(JobStore &store, int32_t index, int photoIndex, const Route &route,
                     PrintTracker *tracker)
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
    QString printer = route.printer;
    if (!route.keepCurrent && printer.trimmed().isEmpty()) {
        if (!port || !ModPrint::ResolveEmptyPrinterKeys(*port)) {
            printingHeldUp = true;
            return Turn::Taken;
        }
        printer = ModConf::paperSettings(photo.paperSize)->printer;
    }
    if (const auto paper = ModConf::paperSettings(photo.paperSize)) {
        ModPrint::TargetWidthIn = paper->width / 100;
        ModPrint::TargetHeightIn = paper->height / 100;
    }
    // A name that matches no printer prints nowhere: another size's paper would be wrong.
    if (!printer.isEmpty() && !ModPrint::SelectPrinter(printer)) {
        if (port && !port->snapshot().answering)
            qCWarning(lcPrint,
                      "Cannot print '%s' on '%s': the CUPS scheduler (%s) is not answering",
                      qUtf8Printable(photo.imageFileName), qUtf8Printable(printer),
                      qUtf8Printable(port->snapshot().server));
        printingHeldUp = true;
        return Turn::Taken;
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
    // The first photo in print order whose printer can print: one that cannot holds only its
    // own photos back.
    Route routes[3];
    for (int size = 0; size < 3; ++size)
        routes[size] = routeForTick(size);
    for (const int32_t index : jobsInPrintOrder(store)) {
        if (printFromJob(store, index, routes, tracker) == Turn::Taken)
            return;
    }
}

namespace {

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

Turn printFromJob(JobStore &store, int32_t index, const Route (&routes)[3], PrintTracker *tracker)
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
        const int16_t size = job.photos[i].paperSize;
        const Route route = size >= 0 && size < 3 ? routes[size] : Route { true, true, {} };
        if (job.photos[i].printed != 0 || !route.open || !photoReadyToTry(job, job.photos[i]))
            continue;
        if (const Turn outcome = printPhotoOfJob(store, index, int(i), route, tracker);
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

void FeedPrinters(JobStore &store, PrintTracker *tracker)
{
    PrinterPort *port = ModPrint::printerPort();
    if (!port || !tracker)
        return;
    // Jobs with nothing left to print (a restart after the last photo was marked) retire.
    for (bool retired = true; retired;) {
        retired = false;
        for (const int32_t index : jobsInPrintOrder(store)) {
            const JobRecord &job = store.printJobs[size_t(index)];
            if (std::none_of(job.photos.begin(), job.photos.end(),
                             [](const PhotoItem &photo) { return photo.printed == 0; })) {
                RetireJob(store, index);
                retired = true;
                break;
            }
        }
    }
    if (store.jobCount < 1)
        return;
    if (ModConf::hasEmptyPrinterKey() && !ModPrint::ResolveEmptyPrinterKeys(*port))
        return;
    // Every printer in use, each once, with the sizes it takes.
    QStringList devices;
    QHash<QString, QList<int>> sizesOf;
    for (int size = 0; size < 3; ++size) {
        for (const QString &name : configuredPrinters(size)) {
            const PrinterAvailability a = availability(name);
            noteAvailability(a);
            if (a.state != PrinterAvailability::Ready)
                continue;
            if (!devices.contains(a.device))
                devices << a.device;
            sizesOf[a.device] << size;
        }
    }
    for (const QString &device : std::as_const(devices)) {
        const QList<int> sizes = sizesOf.value(device);
        const bool isBuiltIn = device == PrinterPort::BuiltInPdfPrinter;
        // The built-in printer answers at once, so nothing of it stays in flight: two per round.
        for (int handed = 0; handed < MaxDocumentsPerPrinter
             && tracker->documentsOn(device) < MaxDocumentsPerPrinter;) {
            const PlannedPhoto next = planNextPhoto(
                store, [&sizes](int size) { return sizes.contains(size) || size < 0 || size > 2; },
                [&store, tracker](quint64 serial, int photo) {
                    return onItsWay(tracker, serial, photo) || !readyToTry(store, serial, photo);
                });
            if (!next.found())
                break;
            const int before = tracker->documentsOn(device);
            // A photo whose file cannot be read now waits, and the planner passes it by.
            if (printPhotoOfJob(store, next.job, next.photo, Route { true, false, device }, tracker)
                == Turn::PassedOn)
                continue;
            if (tracker->documentsOn(device) == before && !isBuiltIn)
                break; // held up, or its job left the queue: tried again at the next report
            ++handed;
        }
    }
}
