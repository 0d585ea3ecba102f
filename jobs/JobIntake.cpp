#include "JobIntake.h"

#include "JobFile.h"
#include "JobFileSystem.h"
#include "JobRetirement.h"
#include "JobsLog.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <functional>

namespace {

const char *const folderLayout[] = { "jobs", "images", "backup", "backup/jobs", "backup/images" };

enum class Intake { WaitingJob, NewJob };

// Logs why a job file stays where it is, unless the same reason was logged for it before.
void refuseJobFile(JobStore &store, const QString &path, const QString &name, const QString &reason)
{
    const auto known = store.refusedJobFiles.constFind(name);
    if (known != store.refusedJobFiles.cend() && *known == reason)
        return;
    store.refusedJobFiles.insert(name, reason);
    qCWarning(lcJobs).noquote() << "Job file left in place:" << path << "-" << reason;
}

// A job file's name stays its handle until retirement, so it must read back as the same bytes.
bool nameIsText(const JobFs::FolderEntry &file)
{
    return QFile::encodeName(file.name) == file.nativeName;
}

// Renames a job file from "0"/"1" to "2". The file was read under its old name; should the
// writer have put a new file under that name meanwhile, the claimed file is read again, and a
// malformed one goes back to its name.
bool claimJobFile(JobStore &store, const QString &folder, const JobFs::FolderEntry &file,
                  JobFileRead &read)
{
    const QString path = JobFs::joinPath(folder, file.name);
    const QString claimedName = QLatin1Char('2') + file.name.mid(1);
    const QString claimedPath = JobFs::joinPath(folder, claimedName);
    if (const int error = JobFs::claimRename(path, claimedPath)) {
        const auto identity = JobFs::identityOf(path);
        // Gone meanwhile: taken by another station on this folder.
        if (error == ENOENT || !identity)
            return false;
        // Both names are one file: a claim by link and unlink, cut short between the two or
        // still under way in another station. The job is in a queue under the new name.
        if (error == EEXIST && identity == JobFs::identityOf(claimedPath)) {
            if (JobFs::sysCalls().unlink(QFile::encodeName(path).constData()) == 0)
                qCInfo(lcJobs).noquote() << "Removed" << path << "- a second name of" << claimedPath
                                         << "which is in a queue";
            return false;
        }
        refuseJobFile(store, path, file.name,
                      QStringLiteral("cannot be renamed to %1: %2")
                          .arg(claimedName, JobFs::describeError(error)));
        return false;
    }
    if (JobFs::identityOf(claimedPath) != read.identity) {
        read = ReadJobFile(claimedPath);
        if (!read.ok()) {
            const int error = JobFs::claimRename(claimedPath, path);
            if (error != 0) {
                qCCritical(lcJobs).noquote()
                    << "Job file replaced while it was taken, malformed and kept as" << claimedPath
                    << "-" << read.error
                    << "- cannot be renamed back:" << JobFs::describeError(error);
                return false;
            }
            refuseJobFile(store, path, file.name, read.error);
            return false;
        }
    }
    read.record.fileName = claimedName;
    return true;
}

bool takeJobFile(JobStore &store, const QString &systemFolder, const QString &folder,
                 const JobFs::FolderEntry &file, Intake intake)
{
    const QString path = JobFs::joinPath(folder, file.name);
    if (!nameIsText(file)) {
        refuseJobFile(store, path, file.name,
                      QStringLiteral("the name is not valid text in the file-name encoding"));
        return false;
    }
    if (!hasRoomForJob(store)) {
        refuseJobFile(store, path, file.name,
                      QStringLiteral("the queue is full (%1 jobs)").arg(MaxJobs));
        return false;
    }
    JobFileRead read = ReadJobFile(path);
    if (!read.ok()) {
        // Gone since the listing: taken by another station on this folder, or withdrawn.
        if (!JobFs::existsAnything(path))
            return false;
        refuseJobFile(store, path, file.name, read.error);
        return false;
    }
    if (intake == Intake::NewJob) {
        if (!claimJobFile(store, folder, file, read))
            return false;
        // Without its marker the job is still printed here; other stations adopt it only once
        // its claim is older than the lease timeout.
        markJobOwned(store.station, systemFolder, read.record.fileName);
    }
    makeJobFileWritable(JobFs::joinPath(folder, read.record.fileName), read);
    store.refusedJobFiles.remove(file.name);

    // A job listed again (a restart, a takeover) counts the photos marked printed, so that it
    // retires in the tick of its last photo, as it would have without the interruption.
    if (intake == Intake::WaitingJob)
        read.record.printedCount
            = int16_t(std::count_if(read.record.photos.begin(), read.record.photos.end(),
                                    [](const PhotoItem &photo) { return photo.printed != 0; }));
    read.record.systemFolder = systemFolder;
    storeJobRecord(store, std::move(read.record));
    if (intake == Intake::WaitingJob) {
        if (store.lastShownIndex == -1)
            store.LstJobs.select(0);
        ++store.jobCount;
    } else {
        ++store.jobCount;
        if (store.lastShownIndex == -1)
            store.LstJobs.select(0);
    }
    return true;
}

int takeJobFiles(JobStore &store, const QString &systemFolder, Intake intake, bool printAll)
{
    const QString folder = JobFs::joinPath(systemFolder, QStringLiteral("jobs"));
    if (!JobFs::isFolder(folder))
        return 0;
    const std::vector<JobFs::FolderEntry> files = JobFs::listFolderFiles(folder);

    // A refused file that has gone is forgotten, so that it is logged again if it comes back.
    QStringList names;
    names.reserve(qsizetype(files.size()));
    for (const JobFs::FolderEntry &file : files)
        names << file.name;
    const QSet<QString> present(names.cbegin(), names.cend());
    store.refusedJobFiles.removeIf(
        [&](QHash<QString, QString>::iterator it) { return !present.contains(it.key()); });

    // Claimed jobs ("2") are listed only when this station holds them: its own at start-up,
    // and at any time those it takes over or adopts.
    const AcquiredJobs acquired
        = acquireJobs(store.station, systemFolder, names, intake == Intake::WaitingJob);
    if (intake == Intake::WaitingJob)
        FinishInterruptedRetirements(store.station, systemFolder, acquired.retiring);
    else
        for (const QString &job : acquired.retiring) {
            // Taken over from a station that is gone: moved as this station's own retirements.
            std::function<void()> finish = [station = store.station, systemFolder, job] {
                finishRetirement(station, systemFolder, job);
            };
            store.runFileMoves ? store.runFileMoves(std::move(finish)) : finish();
        }

    // A job of this queue whose marker could not be written may come back as adopted. A job of
    // the same name from the folder used before Setup moved the station is another job.
    QSet<QString> queued;
    for (int32_t i = 0; !acquired.jobs.isEmpty() && i < store.jobCount; ++i)
        if (store.printJobs[size_t(i)].systemFolder == systemFolder)
            queued << store.printJobs[size_t(i)].fileName;
    int taken = 0;
    for (const JobFs::FolderEntry &file : files) {
        if (!isJobFileName(file.name))
            continue;
        const QChar status = file.name.at(0);
        if (status == QLatin1Char('2')) {
            if (acquired.jobs.contains(file.name) && !queued.contains(file.name)
                && takeJobFile(store, systemFolder, folder, file, Intake::WaitingJob))
                ++taken;
        } else if (intake == Intake::NewJob
                   && (status == QLatin1Char('1') || (status == QLatin1Char('0') && printAll))
                   && takeJobFile(store, systemFolder, folder, file, intake)) {
            ++taken;
        }
    }
    return taken;
}

} // namespace

bool CreateFolderLayout(const QString &systemFolder)
{
    for (const char *subPath : folderLayout) {
        const QString path = JobFs::joinPath(systemFolder, QLatin1String(subPath));
        if (JobFs::existsAnything(path))
            continue;
        if (const int error = JobFs::makeFolder(path)) {
            qCWarning(lcJobs).noquote()
                << "Cannot create folder" << path << "-" << JobFs::describeError(error);
            return false;
        }
    }
    return true;
}

int LoadWaitingJobs(JobStore &store, const QString &systemFolder)
{
    for (const char *folder : { "jobs", "backup/jobs", "backup/images" })
        JobFs::removeLeftoverCopies(JobFs::joinPath(systemFolder, QLatin1String(folder)));
    return takeJobFiles(store, systemFolder, Intake::WaitingJob, false);
}

int ScanNewJobs(JobStore &store, const QString &systemFolder, bool printAll)
{
    return takeJobFiles(store, systemFolder, Intake::NewJob, printAll);
}
