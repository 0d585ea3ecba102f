#include "JobRetirement.h"

#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobsLog.h"

#include <QStringList>

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

// The name a job file bears in the jobs folder while its job is retired. It tells a retirement
// that was cut short (a crash, a power cut) from a job still in the queue, so that the next
// start finishes it instead of listing and printing the job again. Neither scanner takes it:
// it does not end in "job". The rename to it is one atomic rename on every file system; what it
// may replace is a job file of the same name whose backup was refused, which the new backup
// would replace in any case.
const QLatin1String RetiringSuffix(".retiring");

QString jobsFolder(const QString &systemFolder)
{
    return JobFs::joinPath(systemFolder, QStringLiteral("jobs"));
}

QString backupJobPath(const QString &systemFolder, const QString &fileName)
{
    return JobFs::joinPath(JobFs::joinPath(systemFolder, QStringLiteral("backup/jobs")),
                           QLatin1Char('3') + fileName.mid(1));
}

// Moves a job's photos into backup/images and then the job file at `jobFile` (none when
// empty) into backup/jobs under its status "3" name. The job file goes last: while it is
// still in the jobs folder, the retirement can be finished at the next start.
void moveToBackupFolders(const QString &systemFolder, const QString &jobFile,
                         const QString &fileName, const QStringList &imageNames)
{
    const QString images = JobFs::joinPath(systemFolder, QStringLiteral("images"));
    const QString backupImages = JobFs::joinPath(systemFolder, QStringLiteral("backup/images"));
    for (const QString &name : imageNames)
        moveToBackup(JobFs::joinPath(images, name), JobFs::joinPath(backupImages, name));
    if (!jobFile.isEmpty())
        moveToBackup(jobFile, backupJobPath(systemFolder, fileName));
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

// Whether the job an urgent copy in `index` was made from is still in the queue: an ordinary
// job holding the same job file.
bool sourceStillQueued(const JobStore &store, int32_t index)
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

} // namespace

int FinishInterruptedRetirements(const QString &systemFolder)
{
    const QString jobs = jobsFolder(systemFolder);
    int finished = 0;
    for (const JobFs::FolderEntry &file : JobFs::listFolderFiles(jobs)) {
        if (!file.name.endsWith(RetiringSuffix))
            continue;
        const QString fileName = file.name.chopped(RetiringSuffix.size());
        if (!isJobFileName(fileName))
            continue;
        const QString path = JobFs::joinPath(jobs, file.name);
        const JobFileName name = splitJobFileName(fileName);
        const JobFs::FileContent content = JobFs::readWholeFile(path);
        const JobPhotos photos = parseJobFileText(content.data, name.orderPrefix + name.listKey);
        QStringList imageNames;
        for (const PhotoItem &photo : photos.photos)
            imageNames << photo.imageFileName;
        qCInfo(lcJobs).noquote() << "Finishing the retirement of" << fileName
                                 << "that the last run left under way";
        if (!content.error.isEmpty() || !photos.error.isEmpty()) {
            qCWarning(lcJobs).noquote() << "Cannot tell the photos of" << path << "-"
                                        << (content.error.isEmpty() ? photos.error : content.error)
                                        << "- they stay in the images folder";
        }
        moveToBackupFolders(systemFolder, path, fileName, imageNames);
        ++finished;
    }
    return finished;
}

void RetireJob(JobStore &store, int32_t index)
{
    if (index < 0 || index >= store.jobCount || size_t(index) >= store.printJobs.size()) {
        qCWarning(lcJobs) << "RetireJob: slot" << index << "is not a job in the queue of"
                          << store.jobCount;
        return;
    }
    const JobRecord &job = store.printJobs[size_t(index)];
    const QString systemFolder = job.systemFolder;

    QStringList imageNames;
    for (int i = 0; i < job.photoCount && size_t(i) < job.photos.size(); ++i)
        imageNames << job.photos[size_t(i)].imageFileName;
    const QString jobPath = JobFs::joinPath(jobsFolder(systemFolder), job.fileName);
    const QString retiringPath = jobPath + RetiringSuffix;
    if (job.urgent && sourceStillQueued(store, index)) {
        // The file is the source job's, which still has photos to print: moved now, that job
        // would not be listed again after a restart and its other photos would be lost.
        moveToBackupFolders(systemFolder, QString(), job.fileName, imageNames);
    } else if (!JobFs::isFile(jobPath)) {
        moveToBackupFolders(systemFolder, QString(), job.fileName, imageNames);
    } else if (const int error = JobFs::moveReplacing(jobPath, retiringPath)) {
        qCWarning(lcJobs).noquote()
            << "Cannot rename" << jobPath << "to" << retiringPath << "-"
            << JobFs::describeError(error) << "- it goes to backup before its photos";
        moveToBackup(jobPath, backupJobPath(systemFolder, job.fileName));
        moveToBackupFolders(systemFolder, QString(), job.fileName, imageNames);
    } else {
        moveToBackupFolders(systemFolder, retiringPath, job.fileName, imageNames);
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
