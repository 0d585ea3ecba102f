#include "JobTable.h"

QueueOrderSearch FindHighestQueueOrder(const std::vector<JobRecord> &printJobs)
{
    if (printJobs.empty())
        return { -1, -1, false };
    QueueOrderSearch result { -1, -1, true };
    for (size_t slot = 0; slot + 1 < printJobs.size(); ++slot) {
        const JobRecord &job = printJobs[slot];
        if (job.photoCount > 0 && job.queueOrder > result.queueOrder) {
            result.queueOrder = job.queueOrder;
            result.index = int32_t(slot);
        }
    }
    return result;
}

QueueOrderSearch FindNextJobToPrint(const std::vector<JobRecord> &printJobs)
{
    if (printJobs.empty())
        return { -1, -1, false };
    QueueOrderSearch result { 2000000000, -1, true };
    for (size_t slot = 0; slot < printJobs.size(); ++slot) {
        const JobRecord &job = printJobs[slot];
        if (job.photoCount > 0 && job.queueOrder < result.queueOrder) {
            result.queueOrder = job.queueOrder;
            result.index = int32_t(slot);
        }
    }
    return result;
}

int32_t FindJobByKey(const std::vector<JobRecord> &printJobs, const QString &key)
{
    if (printJobs.empty())
        return -1;
    for (size_t slot = 0; slot < printJobs.size(); ++slot) {
        if (printJobs[slot].listKey == key)
            return int32_t(slot);
    }
    return 0;
}
