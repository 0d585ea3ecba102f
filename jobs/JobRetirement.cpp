#include "JobRetirement.h"

#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobsLog.h"

#include <QSet>
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

void copyToBackup(const QString &from, const QString &to)
{
    if (!JobFs::isFile(from))
        return;
    if (const int error = JobFs::copyReplacing(from, to)) {
        qCWarning(lcJobs).noquote()
            << "Cannot copy" << from << "to" << to << "-" << JobFs::describeError(error);
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

// The photos that a job file of the same order waiting in the jobs folder ("0" or "1": the
// order delivered again while this one was queued) still needs; all of `imageNames` when such
// a file cannot be read. Its photos have the same names as this job's.
QSet<QString> photosOfWaitingDuplicate(const QString &systemFolder, const QString &fileName,
                                       const QStringList &imageNames)
{
    const JobFileName retired = splitJobFileName(fileName);
    QSet<QString> needed;
    for (const JobFs::FolderEntry &file : JobFs::listFolderFiles(jobsFolder(systemFolder))) {
        const QChar status = file.name.at(0);
        if ((status != QLatin1Char('0') && status != QLatin1Char('1')) || !isJobFileName(file.name))
            continue;
        const JobFileName waiting = splitJobFileName(file.name);
        if (!waiting.error.isEmpty() || waiting.orderPrefix != retired.orderPrefix
            || waiting.listKey != retired.listKey)
            continue;
        qCWarning(lcJobs).noquote()
            << "Order" << retired.orderPrefix + retired.listKey
            << "was delivered twice:" << file.name
            << "waits in the jobs folder, so the photos it names are copied to"
            << "backup and stay for it";
        const JobFileRead read = ReadJobFile(JobFs::joinPath(jobsFolder(systemFolder), file.name));
        if (!read.ok())
            return QSet<QString>(imageNames.cbegin(), imageNames.cend());
        for (const PhotoItem &photo : read.record.photos)
            needed << photo.imageFileName;
    }
    return needed;
}

// Moves a job's photos into backup/images and then the job file at `jobFile` (none when
// empty) into backup/jobs under its status "3" name. The job file goes last: while it is
// still in the jobs folder, the retirement can be finished at the next start. Photos that the
// same order delivered again still needs are copied instead.
void moveToBackupFolders(const QString &systemFolder, const QString &jobFile,
                         const QString &fileName, const QStringList &imageNames)
{
    const QString images = JobFs::joinPath(systemFolder, QStringLiteral("images"));
    const QString backupImages = JobFs::joinPath(systemFolder, QStringLiteral("backup/images"));
    const QSet<QString> stay = photosOfWaitingDuplicate(systemFolder, fileName, imageNames);
    for (const QString &name : imageNames) {
        const QString from = JobFs::joinPath(images, name),
                      to = JobFs::joinPath(backupImages, name);
        stay.contains(name) ? copyToBackup(from, to) : moveToBackup(from, to);
    }
    if (!jobFile.isEmpty())
        moveToBackup(jobFile, backupJobPath(systemFolder, fileName));
}

// Moves the job file of a held job to its ".retiring" name, or straight into backup when it
// cannot be renamed; the path of what is left to move last ("" when nothing).
QString beginRetirement(const QString &systemFolder, const QString &fileName)
{
    const QString jobPath = JobFs::joinPath(jobsFolder(systemFolder), fileName);
    const QString retiringPath = jobPath + RetiringSuffix;
    if (const int error = JobFs::moveReplacing(jobPath, retiringPath)) {
        qCWarning(lcJobs).noquote()
            << "Cannot rename" << jobPath << "to" << retiringPath << "-"
            << JobFs::describeError(error) << "- it goes to backup before its photos";
        moveToBackup(jobPath, backupJobPath(systemFolder, fileName));
        return QString();
    }
    return retiringPath;
}

QStringList imageNamesIn(const QString &path, const QString &fileName)
{
    const JobFileName name = splitJobFileName(fileName);
    const JobFs::FileContent content = JobFs::readWholeFile(path);
    const JobPhotos photos = parseJobFileText(content.data, name.orderPrefix + name.listKey);
    if (!content.error.isEmpty() || !photos.error.isEmpty()) {
        qCWarning(lcJobs).noquote() << "Cannot tell the photos of" << path << "-"
                                    << (content.error.isEmpty() ? photos.error : content.error)
                                    << "- they stay in the images folder";
    }
    QStringList imageNames;
    for (const PhotoItem &photo : photos.photos)
        imageNames << photo.imageFileName;
    return imageNames;
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

void finishRetirement(const Station &station, const QString &systemFolder, const QString &fileName)
{
    const QString marker = fileName + RetiringSuffix;
    QString path = JobFs::joinPath(jobsFolder(systemFolder), marker);
    if (!JobFs::isFile(path)) {
        // Cut short before the job file left its name, unless that name is now another job's.
        const QString holder = holderOf(station, systemFolder, fileName);
        if (JobFs::isFile(JobFs::joinPath(jobsFolder(systemFolder), fileName))
            && (holder.isEmpty() || holder == station.id))
            path = beginRetirement(systemFolder, fileName);
        else
            path.clear();
    }
    if (!path.isEmpty()) {
        qCInfo(lcJobs).noquote() << "Finishing the retirement of" << fileName
                                 << "that was left under way";
        moveToBackupFolders(systemFolder, path, fileName, imageNamesIn(path, fileName));
    }
    forgetJob(station, systemFolder, marker);
}

int FinishInterruptedRetirements(const Station &station, const QString &systemFolder,
                                 const QStringList &held)
{
    for (const QString &fileName : held)
        finishRetirement(station, systemFolder, fileName);
    int finished = int(held.size());
    // Job files under their ".retiring" name that no station holds: left by an earlier version.
    for (const JobFs::FolderEntry &file : JobFs::listFolderFiles(jobsFolder(systemFolder))) {
        if (!file.name.endsWith(RetiringSuffix))
            continue;
        const QString fileName = file.name.chopped(RetiringSuffix.size());
        if (!isJobFileName(fileName) || !holderOf(station, systemFolder, file.name).isEmpty())
            continue;
        finishRetirement(station, systemFolder, fileName);
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
    const QString holder = holderOf(store.station, systemFolder, job.fileName);
    const bool heldElsewhere = !holder.isEmpty() && holder != store.station.id;
    if (heldElsewhere && !job.urgent) {
        // Taken over while this station could not renew its lease: the other station prints it.
        qCWarning(lcJobs).noquote() << "Job" << job.fileName << "is held by station" << holder
                                    << "now; it leaves this queue and its files stay";
    } else if ((job.urgent && urgentSourceQueued(store, index)) || heldElsewhere
               || !JobFs::isFile(jobPath)
               || (!job.urgent && job.fileIdentity != JobFs::FileIdentity {}
                   && JobFs::identityOf(jobPath) != job.fileIdentity)) {
        // An urgent copy's job file is its source's, which still has photos to print (here or
        // at the station that holds it): moved now, that job would lose its other photos.
        moveToBackupFolders(systemFolder, QString(), job.fileName, imageNames);
        // A job file gone by hand (or gone, and its name claimed again by a delivery of the
        // same order) takes its marker along: this station must not list the name at its next
        // start, nor touch the file now under it.
        if (!job.urgent && holder == store.station.id)
            forgetJob(store.station, systemFolder, job.fileName);
    } else {
        markJobRetiring(store.station, systemFolder, job.fileName);
        moveToBackupFolders(systemFolder, beginRetirement(systemFolder, job.fileName), job.fileName,
                            imageNames);
        forgetJob(store.station, systemFolder, job.fileName + RetiringSuffix);
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
