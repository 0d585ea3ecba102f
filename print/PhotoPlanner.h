#pragma once

#include "JobStore.h"

#include <cstdint>
#include <functional>

// Which photo a printer gets next: the first photo not yet printed and not on its way, in print
// order (the queue's order, then the job's own), whose paper size the printer takes.
struct PlannedPhoto
{
    int32_t job = -1; // slot in the job table
    int photo = -1;
    bool found() const { return job >= 0; }
};

// `takes(paperSize)`: whether the printer being planned for takes that size; `onItsWay(serial,
// photo)`: whether that photo has been handed over and waits for the print system's answer.
PlannedPhoto planNextPhoto(const JobStore &store, const std::function<bool(int paperSize)> &takes,
                           const std::function<bool(quint64 serial, int photo)> &onItsWay);

// The slots of the live jobs in print order: lowest queueOrder first, the lower slot on ties.
std::vector<int32_t> jobsInPrintOrder(const JobStore &store);
