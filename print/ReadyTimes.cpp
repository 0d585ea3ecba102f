#include "ReadyTimes.h"

#include "ModConf.h"
#include "ModPrint.h"
#include "PhotoPlanner.h"
#include "PrintTracker.h"
#include "PrinterAvailability.h"
#include "PrinterPort.h"

#include <algorithm>

double defaultSecondsPerPage(int paperSize)
{
    switch (paperSize) {
    case 1:
        return 14;
    case 2:
        return 21;
    default:
        return 10.4;
    }
}

std::vector<double> estimateReadySeconds(const JobStore &store, QList<PrinterLane> lanes,
                                         double tickSeconds, double firstTickIn,
                                         const std::function<bool(quint64, int)> &onItsWay)
{
    std::vector<double> ready(size_t(std::max<int>(store.jobCount, 0)), 0.0);
    double nextTick = firstTickIn;
    for (const int32_t index : jobsInPrintOrder(store)) {
        const JobRecord &job = store.printJobs[size_t(index)];
        double done = 0;
        for (int p = 0; p < int(job.photos.size()); ++p) {
            const PhotoItem &photo = job.photos[size_t(p)];
            if (photo.printed != 0 || onItsWay(job.serial, p))
                continue;
            PrinterLane *lane = nullptr;
            for (PrinterLane &candidate : lanes) {
                const bool takes = candidate.sizes.contains(photo.paperSize) || photo.paperSize < 0
                    || photo.paperSize > 2;
                if (takes && (!lane || candidate.busyFor < lane->busyFor))
                    lane = &candidate;
            }
            if (!lane) {
                done = -1;
                continue;
            }
            double start = lane->busyFor;
            if (tickSeconds > 0) {
                start = std::max(start, nextTick);
                nextTick += tickSeconds;
            }
            lane->busyFor = start + std::max<int>(photo.copies, 0) * lane->secondsPerPage;
            if (done >= 0)
                done = std::max(done, lane->busyFor);
        }
        ready[size_t(index)] = done;
    }
    return ready;
}

QList<PrinterLane> currentPrinterLanes(const PrintTracker &tracker)
{
    QList<PrinterLane> lanes;
    const PrinterPort *port = ModPrint::printerPort();
    if (!port)
        return lanes;
    for (int size = 0; size < 3; ++size) {
        const auto paper = ModConf::paperSettings(size);
        for (const QString &name : { paper->printer, paper->standIn }) {
            if (name.trimmed().isEmpty())
                continue;
            const PrinterAvailability a = availabilityOf(
                name, port->installedPrinters(), port->snapshot(), PrinterPort::BuiltInPdfPrinter);
            if (a.state == PrinterAvailability::Held)
                continue;
            auto lane = std::find_if(lanes.begin(), lanes.end(),
                                     [&a](const PrinterLane &l) { return l.device == a.device; });
            if (lane == lanes.end()) {
                lanes << PrinterLane {
                    a.device, {}, tracker.secondsPerPage(a.device, size), tracker.busyFor(a.device)
                };
                lane = lanes.end() - 1;
            }
            lane->sizes << size;
        }
    }
    return lanes;
}
