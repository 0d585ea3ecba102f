#pragma once

#include "JobRecord.h"

#include <QString>

#include <cstdint>
#include <vector>

// Searches over the job table printJobs. They visit every slot of the table, not only the
// jobCount live ones: after the last job left, one stale slot stays and is visited too, so
// callers check jobCount first.

struct QueueOrderSearch
{
    int32_t queueOrder; // the highest or lowest value found
    int32_t index; // its slot, -1 when no slot counted
    bool found; // false only for a table that was never allocated
};

// The highest queueOrder among the records with photos, the last slot skipped (it is the slot
// a new record is about to fill, or the stale one). highest -1 and index -1 when none counts.
QueueOrderSearch FindHighestQueueOrder(const std::vector<JobRecord> &printJobs);

// The record with photos and the lowest queueOrder, the lower slot on ties: the head of the
// queue. found with index -1 and lowest 2000000000 when no record has photos.
QueueOrderSearch FindNextJobToPrint(const std::vector<JobRecord> &printJobs);

// The first slot whose listKey equals `key` exactly; 0 when none does, -1 for a table that
// was never allocated.
int32_t FindJobByKey(const std::vector<JobRecord> &printJobs, const QString &key);
