#pragma once

#include "JobStore.h"

#include <QList>
#include <QString>

#include <functional>
#include <vector>

class PrintTracker;

// One printer as the ready times see it: the paper sizes it takes now, how long a page takes
// on it, and how long the documents it already holds will keep it busy.
struct PrinterLane
{
    QString device;
    QList<int> sizes;
    double secondsPerPage = 0;
    double busyFor = 0;
};

// Seconds per page until a printer's own pace has been measured: dye-sublimation counter
// printers' 10x15, 13x18 and 15x23.
double defaultSecondsPerPage(int paperSize);

// When each job's last photo is expected to be printed, in seconds from now, by slot; -1 for a
// job with a photo that no printer can take now. The photos not yet printed go in print order
// to the lane that takes their size and is free first, each taking its copies' pages; with the
// tick's pace (`tickSeconds` > 0), one photo per tick, the first at the next tick, in
// `firstTickIn` seconds. Photos on their way are part of their lane's busyFor.
std::vector<double> estimateReadySeconds(const JobStore &store, QList<PrinterLane> lanes,
                                         double tickSeconds, double firstTickIn,
                                         const std::function<bool(quint64, int)> &onItsWay);

// The lanes of the printers in use that can print now, with the tracker's measured pace and
// the documents it follows.
QList<PrinterLane> currentPrinterLanes(const PrintTracker &tracker);
