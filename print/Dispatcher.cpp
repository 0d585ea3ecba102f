#include "Dispatcher.h"

#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobOwnership.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PhotoPlanner.h"
#include "PrintTracker.h"
#include "PrinterAvailability.h"
#include "PrinterPort.h"
#include "SentAhead.h"

#include <QHash>
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

namespace {

enum class Outcome {
    Handed, // accepted, or on its way to the print system
    Waits, // not handed over: the photo is tried again later
    Retired, // its job left the queue instead (another station holds it)
};

// Where a photo of `paperSize` goes now: the printer to hand it to ("" for one still to be
// chosen), or nothing while neither the size's printer nor its stand-in can print. An unknown
// size keeps the printer, target and page of the photo before it.
struct Route
{
    bool open = false;
    bool keepCurrent = false;
    QString printer;
};

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

// Hands photo `photoIndex` of the job in slot `index` to `route`'s printer.
Outcome printPhoto(JobStore &store, int32_t index, int photoIndex, const Route &route,
                   PrintTracker *tracker)
{
    JobRecord &job = store.printJobs[size_t(index)];
    const PhotoItem &photo = job.photos[size_t(photoIndex)];

    // Printed only while no other station can be taking this station's jobs over, and only a
    // job that no other station holds now.
    if (!leaseAllowsPrinting(store.station, job.systemFolder))
        return Outcome::Waits;
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
        return Outcome::Retired;
    }
    // A printer left empty is chosen at the first photo that needs it; while the print system
    // cannot tell which, the photo waits.
    const PrinterPort *port = ModPrint::printerPort();
    QString printer = route.printer;
    if (!route.keepCurrent && printer.trimmed().isEmpty()) {
        if (!port || !ModPrint::ResolveEmptyPrinterKeys(*port)) {
            printingHeldUp = true;
            return Outcome::Waits;
        }
        printer = ModConf::paperSettings(photo.paperSize)->printer;
    }
    if (const auto paper = ModConf::paperSettings(photo.paperSize)) {
        ModPrint::TargetWidthIn = paper->width / 100;
        ModPrint::TargetHeightIn = paper->height / 100;
    }
    if (!printer.isEmpty() && !ModPrint::SelectPrinter(printer)) {
        if (port && !port->snapshot().answering)
            qCWarning(lcPrint,
                      "Cannot print '%s' on '%s': the CUPS scheduler (%s) is not answering",
                      qUtf8Printable(photo.imageFileName), qUtf8Printable(printer),
                      qUtf8Printable(port->snapshot().server));
        printingHeldUp = true;
        return Outcome::Waits;
    }

    const QString title = QStringLiteral("Zelvo %1").arg(photo.imageFileName);
    if (!ModPrint::OpenPrintDocument(title)) {
        printingHeldUp = true;
        return Outcome::Waits;
    }
    if (photo.copies > 0)
        ModPrint::PrintPhoto(job.systemFolder + QStringLiteral("/images/") + photo.imageFileName,
                             photo.copies);
    const Handover handover = ModPrint::EndPrintDocument();
    const PrintedPhoto printed { job.serial,       job.fileName, job.listKey, job.orderPrefix,
                                 job.urgent,       photoIndex,   photo,       job.systemFolder,
                                 handover.printer, false };
    switch (handover.fate) {
    case Handover::Refused:
        printingHeldUp = true;
        return Outcome::Waits;
    case Handover::Pending:
        if (tracker) {
            tracker->expectAnswer(handover.ticket, printed);
            return Outcome::Handed;
        }
        // Nobody would take the answer: the photo is not counted, and is tried again.
        qCCritical(lcPrint, "A document went to CUPS without a tracker for its answer");
        printingHeldUp = true;
        return Outcome::Waits;
    case Handover::Accepted:
        // `job` and `photo` may move from here on.
        AcceptPrintedPhoto(store, printed);
        if (tracker)
            tracker->photoAccepted(printed, handover.jobId);
        return Outcome::Handed;
    }
    return Outcome::Waits;
}

bool onItsWay(const PrintTracker *tracker, quint64 serial, int photo)
{
    return tracker && tracker->photoOnItsWay(serial, photo);
}

} // namespace

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
    const JobRecord &first = store.printJobs[size_t(head.index)];
    if (std::none_of(first.photos.begin(), first.photos.end(),
                     [](const PhotoItem &photo) { return photo.printed == 0; })) {
        RetireJob(store, head.index);
        return;
    }
    // The first photo in print order whose printer can print: one that cannot holds only its
    // own photos back.
    Route routes[3];
    for (int size = 0; size < 3; ++size)
        routes[size] = routeForTick(size);
    const auto routeOf = [&routes](int size) {
        return size >= 0 && size < 3 ? routes[size] : Route { true, true, {} };
    };
    const PlannedPhoto next = planNextPhoto(
        store, [&](int size) { return routeOf(size).open; },
        [tracker](quint64 serial, int photo) { return onItsWay(tracker, serial, photo); });
    if (!next.found())
        return;
    printPhoto(store, next.job, next.photo,
               routeOf(store.printJobs[size_t(next.job)].photos[size_t(next.photo)].paperSize),
               tracker);
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
        // The built-in printer answers at once, so nothing of it stays in flight: two per round.
        for (int handed = 0; handed < MaxDocumentsPerPrinter
             && tracker->documentsOn(device) < MaxDocumentsPerPrinter;) {
            const PlannedPhoto next = planNextPhoto(
                store, [&sizes](int size) { return sizes.contains(size) || size < 0 || size > 2; },
                [tracker](quint64 serial, int photo) { return onItsWay(tracker, serial, photo); });
            if (!next.found())
                break;
            const Outcome outcome
                = printPhoto(store, next.job, next.photo, Route { true, false, device }, tracker);
            if (outcome == Outcome::Waits)
                break;
            handed += outcome == Outcome::Handed ? 1 : 0;
        }
    }
}
