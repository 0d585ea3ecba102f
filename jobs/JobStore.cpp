#include "JobStore.h"

#include "JobTable.h"
#include "JobsLog.h"

#include <QCoreApplication>

#include <algorithm>
#include <limits>
#include <numeric>

namespace {

// Gives the live records queueOrder 0..n-1 in the order the dispatcher takes them (lowest
// queueOrder first, lower slot on ties), so the print order stays exactly as it was.
void compactQueueOrders(JobStore &store)
{
    const size_t live
        = std::min(size_t(std::max<int16_t>(store.jobCount, 0)), store.printJobs.size());
    std::vector<size_t> byPrintOrder(live);
    std::iota(byPrintOrder.begin(), byPrintOrder.end(), size_t(0));
    std::stable_sort(byPrintOrder.begin(), byPrintOrder.end(), [&](size_t a, size_t b) {
        return store.printJobs[a].queueOrder < store.printJobs[b].queueOrder;
    });
    for (size_t rank = 0; rank < byPrintOrder.size(); ++rank)
        store.printJobs[byPrintOrder[rank]].queueOrder = int16_t(rank);
    qCInfo(lcJobs) << "Queue order renumbered 0 to" << int(live) - 1 << "before it would pass"
                   << std::numeric_limits<int16_t>::max();
}

// One more than the highest queueOrder among the jobs with photos; the table has already grown
// by the slot the new record goes into. The values only grow between renumberings, so on a
// station that runs for months they are compacted before they would pass 16 bits.
int16_t queueOrderForNewJob(JobStore &store)
{
    QueueOrderSearch highest = FindHighestQueueOrder(store.printJobs);
    if (!highest.found)
        return 1;
    if (highest.queueOrder >= std::numeric_limits<int16_t>::max()) {
        compactQueueOrders(store);
        highest = FindHighestQueueOrder(store.printJobs);
    }
    return int16_t(highest.queueOrder + 1);
}

} // namespace

JobStore::JobStore()
{
    station.id = stationIdFor(QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                           : QString());
    LstJobs.setSelectionHandler([this] { LstJobsSelectionChanged(*this); });
}

QString formEntryKey(const QString &entryText)
{
    if (entryText.contains(QLatin1String("rgente")))
        return entryText;
    return entryText.mid(4);
}

QString formJobEntryText(const QString &listKey)
{
    return QLatin1String("job ") + listKey;
}

void LstJobsSelectionChanged(JobStore &store)
{
    const int selected = store.LstJobs.selectedIndex();
    if (selected == store.lastShownIndex && !store.forceThumbRefresh)
        return;
    store.lastShownIndex = selected;
    // With no entry selected the viewer has nothing to show.
    if (selected >= 0 && store.showJobThumbnails)
        store.showJobThumbnails(formEntryKey(store.LstJobs.text(selected)));
}

void RenumberQueue(JobStore &store)
{
    const int entries = store.LstJobs.count();
    if (entries == 0 || store.printJobs.empty())
        return;
    // The first slot of every key, found in one pass: walking the slots from the last to the
    // first leaves the lowest slot in the hash, which is what FindJobByKey would return.
    QHash<QString, int32_t> firstSlot;
    firstSlot.reserve(qsizetype(store.printJobs.size()));
    for (size_t slot = store.printJobs.size(); slot-- > 0;)
        firstSlot.insert(store.printJobs[slot].listKey, int32_t(slot));
    for (int i = 0; i < entries; ++i) {
        const int32_t slot = firstSlot.value(formEntryKey(store.LstJobs.text(i)), 0);
        store.printJobs[size_t(slot)].queueOrder = int16_t(i);
    }
}

bool hasRoomForJob(const JobStore &store)
{
    return store.jobCount < MaxJobs && store.LstJobs.count() < QueueList::MaxEntries;
}

void storeJobRecord(JobStore &store, JobRecord record)
{
    const size_t slot = size_t(store.jobCount);
    store.printJobs.resize(slot + 1);
    record.queueOrder = queueOrderForNewJob(store);
    record.serial = ++store.lastSerial;
    const QString entry = formJobEntryText(record.listKey);
    store.printJobs[slot] = std::move(record);
    store.LstJobs.insert(int(slot), entry);
}

bool urgentSourceQueued(const JobStore &store, int32_t index)
{
    const JobRecord &copy = store.printJobs[size_t(index)];
    for (int32_t i = 0; i < store.jobCount && size_t(i) < store.printJobs.size(); ++i) {
        const JobRecord &other = store.printJobs[size_t(i)];
        if (i != index && !other.urgent && other.fileName == copy.fileName
            && other.systemFolder == copy.systemFolder)
            return true;
    }
    return false;
}
