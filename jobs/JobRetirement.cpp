#include "JobRetirement.h"

#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobsLog.h"
#include "SentAhead.h"

#include <QSet>
#include <QStringList>

#include <algorithm>
#include <functional>

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

// The photos that another job file of the same order in the jobs folder still needs: one
// waiting ("0" or "1": the order delivered again while this one was queued) or one claimed
// ("2": delivered again and taken after this job's file had left its name). All of
// `imageNames` that such a file names, or all of them when it cannot be read. Its photos have
// the same names as this job's.
QSet<QString> photosOfOtherDelivery(const QString &systemFolder, const QString &fileName,
                                    const QStringList &imageNames)
{
    const JobFileName retired = splitJobFileName(fileName);
    const QSet<QString> names(imageNames.cbegin(), imageNames.cend());
    QSet<QString> needed;
    for (const JobFs::FolderEntry &file : JobFs::listFolderFiles(jobsFolder(systemFolder))) {
        const QChar status = file.name.at(0);
        if (!QStringLiteral("012").contains(status) || !isJobFileName(file.name))
            continue;
        const JobFileName other = splitJobFileName(file.name);
        if (!other.error.isEmpty() || other.orderPrefix != retired.orderPrefix
            || other.listKey != retired.listKey)
            continue;
        const JobFileRead read = ReadJobFile(JobFs::joinPath(jobsFolder(systemFolder), file.name));
        QSet<QString> named = names;
        if (read.ok()) {
            named.clear();
            for (const PhotoItem &photo : read.record.photos)
                if (names.contains(photo.imageFileName))
                    named << photo.imageFileName;
        }
        // The job file of an urgent copy's source names none of the copy's photos.
        if (named.isEmpty())
            continue;
        qCWarning(lcJobs).noquote() << "Order" << retired.orderPrefix + retired.listKey
                                    << "was delivered twice:" << file.name
                                    << "is in the jobs folder, so the photos it names are copied"
                                    << "to backup and stay for it";
        needed += named;
    }
    return needed;
}

// Moves a job's photos into backup/images and then the job file at `jobFile` (none when
// empty) into backup/jobs under its status "3" name. The job file goes last: while it is
// still in the jobs folder, the retirement can be finished at the next start. Photos that the
// same order delivered again still needs, waiting or claimed, are copied instead.
void moveToBackupFolders(const QString &systemFolder, const QString &jobFile,
                         const QString &fileName, const QStringList &imageNames)
{
    const QString images = JobFs::joinPath(systemFolder, QStringLiteral("images"));
    const QString backupImages = JobFs::joinPath(systemFolder, QStringLiteral("backup/images"));
    const QSet<QString> stay = photosOfOtherDelivery(systemFolder, fileName, imageNames);
    for (const QString &name : imageNames) {
        const QString from = JobFs::joinPath(images, name),
                      to = JobFs::joinPath(backupImages, name);
        stay.contains(name) ? copyToBackup(from, to) : moveToBackup(from, to);
    }
    if (!jobFile.isEmpty())
        moveToBackup(jobFile, backupJobPath(systemFolder, fileName));
}

// Renames the job file of a held job to its ".retiring" name: its new path, or "" when it
// cannot be renamed, and then it goes to backup before its photos.
QString renameToRetiring(const QString &systemFolder, const QString &fileName)
{
    const QString jobPath = JobFs::joinPath(jobsFolder(systemFolder), fileName);
    const QString retiringPath = jobPath + RetiringSuffix;
    if (const int error = JobFs::moveReplacing(jobPath, retiringPath)) {
        qCWarning(lcJobs).noquote()
            << "Cannot rename" << jobPath << "to" << retiringPath << "-"
            << JobFs::describeError(error) << "- it goes to backup before its photos";
        return QString();
    }
    return retiringPath;
}

// Moves the job file of a held job to its ".retiring" name, or straight into backup when it
// cannot be renamed; the path of what is left to move last ("" when nothing).
QString beginRetirement(const QString &systemFolder, const QString &fileName)
{
    const QString retiringPath = renameToRetiring(systemFolder, fileName);
    if (retiringPath.isEmpty())
        moveToBackup(JobFs::joinPath(jobsFolder(systemFolder), fileName),
                     backupJobPath(systemFolder, fileName));
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
        // Cut short before the job file left its name, unless that name is now another job's:
        // one that any station, this one included, holds by a marker of that name (the marker of
        // the job being retired bears the ".retiring" name already).
        if (JobFs::isFile(JobFs::joinPath(jobsFolder(systemFolder), fileName))
            && holderOf(station, systemFolder, fileName).isEmpty())
            path = beginRetirement(systemFolder, fileName);
        else
            path.clear();
    }
    if (!path.isEmpty()) {
        qCInfo(lcJobs).noquote() << "Finishing the retirement of" << fileName
                                 << "that was left under way";
        moveToBackupFolders(systemFolder, path, fileName, imageNamesIn(path, fileName));
    }
    // A job file that still cannot go keeps the marker: the next start tries again.
    if (path.isEmpty() || !JobFs::isFile(path))
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
    const QString fileName = job.fileName;
    const QString jobPath = JobFs::joinPath(jobsFolder(systemFolder), fileName);
    const QString holder = holderOf(store.station, systemFolder, fileName);
    const bool heldElsewhere = !holder.isEmpty() && holder != store.station.id;
    std::function<void()> moves;
    if (heldElsewhere && !job.urgent) {
        // Taken over while this station could not renew its lease: the other station prints it.
        qCWarning(lcJobs).noquote() << "Job" << fileName << "is held by station" << holder
                                    << "now; it leaves this queue and its files stay";
    } else if ((job.urgent && urgentSourceQueued(store, index)) || heldElsewhere
               || !JobFs::isFile(jobPath)
               || (!job.urgent && job.fileIdentity != JobFs::FileIdentity {}
                   && JobFs::identityOf(jobPath) != job.fileIdentity)) {
        // An urgent copy's job file is its source's, which still has photos to print (here or
        // at the station that holds it): moved now, that job would lose its other photos.
        moves = [=] { moveToBackupFolders(systemFolder, QString(), fileName, imageNames); };
        // A job file gone by hand (or gone, and its name claimed again by a delivery of the
        // same order) takes its marker along: this station must not list the name at its next
        // start, nor touch the file now under it.
        if (!job.urgent && holder == store.station.id)
            forgetJob(store.station, systemFolder, fileName);
    } else {
        // Marked and renamed at once: from here on the job is never listed again, however long
        // its files take to move.
        markJobRetiring(store.station, systemFolder, fileName);
        const QString retiringPath = renameToRetiring(systemFolder, fileName);
        moves = [=, station = store.station] {
            if (retiringPath.isEmpty())
                moveToBackup(jobPath, backupJobPath(systemFolder, fileName));
            moveToBackupFolders(systemFolder, retiringPath, fileName, imageNames);
            // A job file that could not go keeps the marker, so that this station (or the one
            // that takes its jobs over) finishes the retirement at its next start.
            if (retiringPath.isEmpty() || !JobFs::isFile(retiringPath))
                forgetJob(station, systemFolder, fileName + RetiringSuffix);
        };
    }
    if (moves && store.runFileMoves)
        store.runFileMoves(std::move(moves));
    else if (moves)
        moves();

    const QString listKey = job.listKey;
    const bool sentAhead = job.sentAhead;
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
    if (sentAhead)
        saveSentAhead(store);
}
