#include "PhotoPlanner.h"

#include <algorithm>

std::vector<int32_t> jobsInPrintOrder(const JobStore &store)
{
    std::vector<int32_t> order;
    for (int32_t i = 0; i < store.jobCount && size_t(i) < store.printJobs.size(); ++i) {
        if (store.printJobs[size_t(i)].photoCount > 0)
            order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&store](int32_t a, int32_t b) {
        return store.printJobs[size_t(a)].queueOrder < store.printJobs[size_t(b)].queueOrder;
    });
    return order;
}

PlannedPhoto planNextPhoto(const JobStore &store, const std::function<bool(int paperSize)> &takes,
                           const std::function<bool(quint64 serial, int photo)> &onItsWay)
{
    for (const int32_t index : jobsInPrintOrder(store)) {
        const JobRecord &job = store.printJobs[size_t(index)];
        for (int p = 0; p < int(job.photos.size()); ++p) {
            const PhotoItem &photo = job.photos[size_t(p)];
            if (photo.printed == 0 && takes(photo.paperSize) && !onItsWay(job.serial, p))
                return { index, p };
        }
    }
    return {};
}
