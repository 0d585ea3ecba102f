#pragma once

#include "JobStore.h"

class PhotoWaits;
class PrintTracker;
struct PrintedPhoto;

// One polling tick's printing: the first unprinted photo of the job at the head of the queue,
// taken from the job's own system folder, with all its copies as one document, on the printer
// of its paper size; the job is retired after its last photo, or at once when it has nothing
// left to print. A photo whose file cannot be read gets no document: it waits (photoWaits) and
// the tick goes on with the job's next photo, then the next jobs in queue order; it is tried
// again once its file changes, and its job stays queued until it has printed. A printer left empty
// in the settings is chosen at the first photo that needs it (ModPrint::ResolveEmptyPrinterKeys).
// When the printing platform fails (no printer can be chosen yet, the document cannot be opened, or
// the print system does not accept it), nothing is marked: the photo is tried again on the next
// tick. A document on its way to CUPS is left to `tracker` (required for a port that answers
// later): the photo counts as printed when CUPS takes it, and until then no tick prints another
// one.
void PrintNextPhoto(JobStore &store, PrintTracker *tracker = nullptr);

// The accepted path of a photo, if its job is still queued: recorded as printed in the job file,
// marked printed in its record unless it is already (print now may have sent it meanwhile), and
// the job retired once every photo is, unless `retire` is false (the queue must not change now).
void AcceptPrintedPhoto(JobStore &store, const PrintedPhoto &printed, bool retire = true);
// Retires the job whose record bears `serial` if it is still queued and every photo is printed.
void RetireIfPrinted(JobStore &store, quint64 serial);
// A document the print system refused after the tick: the photo waits for the next tick.
void NotePhotoRefused();

// Whether the dispatcher may try `photo` of `job` now: it has no copies (nothing to read), or
// its file does not wait, or has changed since it was found unreadable.
bool photoReadyToTry(const JobRecord &job, const PhotoItem &photo);
// The photos of this run that wait for their file.
PhotoWaits &photoWaits();
