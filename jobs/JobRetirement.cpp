#include "JobRetirement.h"

#include "JobFileSystem.h"
#include "JobsLog.h"

#include <algorithm>

namespace {

void moveToBackup(const QString &from, const QString &to)
{
    // A folder under the name is no file; in the images folder it is what an empty image name
    // (an urgent copy without its photo) points at.
    if (!JobFs::isFile(from))
        return;
    if (const int error = JobFs::moveReplacing(from, to)) {
        qCWarning(lcJobs).noquote() << "Cannot move" << from << "to" << to << "-"
                                    << JobFs::describeError(error) << "- the file stays";
    }
}

// The first entry of the job: "job " + listKey, or for an urgent job its listKey itself.
int findEntryOfJob(const QueueList &list, const QString &listKey)
{
    const QString jobText = formJobEntryText(listKey);
    const bool urgent = listKey.contains(QLatin1String("rgente"));
    for (int i = 0; i < list.count(); ++i) {
        const QString text = list.text(i);
        if (text == jobText || (urgent && text == listKey))
            return i;
    }
    return -1;
}

} // namespace

void RetireJob(JobStore &store, int32_t index, const QString &systemFolder)
{
    if (index < 0 || index >= store.jobCount || size_t(index) >= store.printJobs.size()) {
        qCWarning(lcJobs) << "RetireJob: slot" << index << "is not a job in the queue of"
                          << store.jobCount;
        return;
    }
    const JobRecord &job = store.printJobs[size_t(index)];

    const QString jobs = JobFs::joinPath(systemFolder, QStringLiteral("jobs"));
    const QString backupJobs = JobFs::joinPath(systemFolder, QStringLiteral("backup/jobs"));
    moveToBackup(JobFs::joinPath(jobs, job.fileName),
                 JobFs::joinPath(backupJobs, QLatin1Char('3') + job.fileName.mid(1)));

    const QString images = JobFs::joinPath(systemFolder, QStringLiteral("images"));
    const QString backupImages = JobFs::joinPath(systemFolder, QStringLiteral("backup/images"));
    for (int i = 0; i < job.photoCount && size_t(i) < job.photos.size(); ++i) {
        const QString &name = job.photos[size_t(i)].imageFileName;
        moveToBackup(JobFs::joinPath(images, name), JobFs::joinPath(backupImages, name));
    }

    const QString listKey = job.listKey;
    --store.jobCount;
    if (index != store.jobCount)
        store.printJobs[size_t(index)] = std::move(store.printJobs[size_t(store.jobCount)]);
    store.printJobs.resize(std::max<size_t>(size_t(store.jobCount), 1));

    const int entry = findEntryOfJob(store.LstJobs, listKey);
    if (entry >= 0) {
        store.LstJobs.remove(entry);
        // Entry 0 is selected again below and must show the job that is now on top, although
        // the index is the same.
        if (entry == 0)
            store.forceThumbRefresh = true;
    }

    if (store.LstJobs.count() > 0) {
        if (store.LstJobs.selectedIndex() == -1) {
            store.LstJobs.select(0);
            store.lastShownIndex = 0;
            RenumberQueue(store);
        }
    } else {
        if (store.clearThumbnails)
            store.clearThumbnails();
        store.lastShownIndex = -1;
    }
}
