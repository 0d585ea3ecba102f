#pragma once

#include "JobStore.h"

#include <QString>

// One polling tick's printing: the first unprinted photo of the job at the head of the queue,
// taken from the job's own system folder, with all its copies as one document, on the printer
// of its paper size; the job is retired after its last photo, or at once when it has nothing
// left to print. A printer left empty in the settings is chosen at the first photo that needs
// it (ModPrint::ResolveEmptyPrinterKeys). When the printing platform fails (no printer can be
// chosen yet, the document cannot be opened, or the print system does not accept it), nothing
// is marked: the photo is tried again on the next tick.
void PrintNextPhoto(JobStore &store);
