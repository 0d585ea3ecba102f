#include "JobOwnership.h"

#include "JobFileSystem.h"
#include "JobsLog.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSysInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace {

const QLatin1String RetiringSuffix(".retiring");

QString ownershipFolder(const QString &systemFolder, const QString &sub = QString())
{
    const QString root = JobFs::joinPath(systemFolder, QStringLiteral(".zelvo"));
    return sub.isEmpty() ? root : JobFs::joinPath(root, sub);
}

QString ownersFolder(const QString &systemFolder, const QString &stationId)
{
    return JobFs::joinPath(ownershipFolder(systemFolder, QStringLiteral("owners")), stationId);
}

QString jobsFolder(const QString &systemFolder)
{
    return JobFs::joinPath(systemFolder, QStringLiteral("jobs"));
}

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

qint64 bootClockMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

qint64 nanoseconds(const timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The file's status as the server has it: opening first makes a network file system fetch it
// again rather than answer from its cache.
std::optional<struct stat> freshStatus(const QString &path)
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    const bool ok = ::fstat(fd, &st) == 0;
    ::close(fd);
    return ok ? std::optional<struct stat>(st) : std::nullopt;
}

bool exists(const QString &path)
{
    return freshStatus(path).has_value();
}

// The markers in one station's folder: job file names, some ending in ".retiring". Names
// starting with a dot are the station's scratch files.
QStringList markersIn(const QString &folder)
{
    QStringList names;
    for (const JobFs::FolderEntry &file : JobFs::listFolderFiles(folder))
        if (!file.name.startsWith(QLatin1Char('.')))
            names << file.name;
    return names;
}

QString jobOfMarker(const QString &marker)
{
    return marker.endsWith(RetiringSuffix) ? marker.chopped(RetiringSuffix.size()) : marker;
}

// 0 when `path` is a folder afterwards, else why not.
int ensureFolder(const QString &path)
{
    const int error = JobFs::makeFolder(path);
    return error == EEXIST && JobFs::isFolder(path) ? 0 : error;
}

// What the other stations on a folder are, judged against this station's last renewal.
struct OthersView
{
    QSet<QString> alive; // lease renewed within the timeout
    QSet<QString> gone; // lease older than the timeout, or none at all
};

OthersView viewOthers(const Station &station, const QString &systemFolder)
{
    OthersView view;
    const qint64 now = station.leases.value(systemFolder).fileTimeNs;
    const qint64 timeout = station.leaseTimeoutMs * 1000000;
    QStringList ids
        = JobFs::listSubfolders(ownershipFolder(systemFolder, QStringLiteral("owners")));
    for (const JobFs::FolderEntry &lease :
         JobFs::listFolderFiles(ownershipFolder(systemFolder, QStringLiteral("leases"))))
        if (!ids.contains(lease.name))
            ids << lease.name;
    for (const QString &id : ids) {
        if (id == station.id || station.previousIds.contains(id))
            continue;
        const auto st = freshStatus(
            JobFs::joinPath(ownershipFolder(systemFolder, QStringLiteral("leases")), id));
        if (st && now - nanoseconds(st->st_mtim) <= timeout)
            view.alive << id;
        else
            view.gone << id;
    }
    return view;
}

// The generations of the lock of `job` in `locks` ("<job>.<n>"; the unnumbered "<job>" an
// earlier version took counts as 0), highest first, each with its holder.
QList<QPair<qint64, QString>> lockGenerations(const QString &locks, const QString &job)
{
    QList<QPair<qint64, QString>> found;
    for (const JobFs::FolderEntry &file : JobFs::listFolderFiles(locks)) {
        bool numbered = false;
        const qint64 generation = file.name.startsWith(job + QLatin1Char('.'))
            ? file.name.mid(job.size() + 1).toLongLong(&numbered)
            : 0;
        if (numbered ? generation < 1 : file.name != job)
            continue;
        found.append(
            { generation,
              QString::fromUtf8(JobFs::readWholeFile(JobFs::joinPath(locks, file.name)).data)
                  .trimmed() });
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a > b; });
    return found;
}

QString lockName(const QString &job, qint64 generation)
{
    return generation == 0 ? job : job + QLatin1Char('.') + QString::number(generation);
}

// Holds the lock of `jobFileName` while a job changes owner. The lock is the file of the
// highest generation, naming its holder. It is taken by creating the next generation, which
// fails when another station has: a lock left by a station that is not alive, or by this one
// before a restart, is passed by and never removed or renamed from under anyone, so two stations
// that find the same stale lock cannot both hold the next. One that finds, once it has created
// its generation, a higher one (another took the lock after it looked) gives way.
class JobLock
{
public:
    JobLock(const Station &station, const QString &systemFolder, const QString &jobFileName,
            const OthersView &others)
        : m_locks(ownershipFolder(systemFolder, QStringLiteral("locks")))
    {
        const auto before = lockGenerations(m_locks, jobFileName);
        const qint64 top = before.isEmpty() ? 0 : before.first().first;
        if (!before.isEmpty() && before.first().second != station.id
            && others.alive.contains(before.first().second))
            return;
        // One file naming this station goes back and forth between its folder and the locks:
        // a new file for every lock would make taking thousands of them slow on ext4.
        m_scratch
            = JobFs::joinPath(ownersFolder(systemFolder, station.id), QStringLiteral(".lock"));
        if (JobFs::readWholeFile(m_scratch).data != station.id.toUtf8()) {
            QFile note(m_scratch);
            if (!note.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || note.write(station.id.toUtf8()) < 0)
                return;
        }
        m_path = JobFs::joinPath(m_locks, lockName(jobFileName, top + 1));
        m_held = JobFs::claimRename(m_scratch, m_path) == 0;
        if (!m_held)
            return;
        const auto after = lockGenerations(m_locks, jobFileName);
        if (after.first().first > top + 1) {
            release();
            return;
        }
        // The lower ones are stale: the next taker looks only at the highest.
        for (const auto &older : after)
            if (older.first <= top)
                JobFs::sysCalls().unlink(
                    native(JobFs::joinPath(m_locks, lockName(jobFileName, older.first)))
                        .constData());
    }
    ~JobLock() { release(); }
    JobLock(const JobLock &) = delete;
    JobLock &operator=(const JobLock &) = delete;
    bool held() const { return m_held; }

private:
    void release()
    {
        if (m_held
            && JobFs::sysCalls().rename(native(m_path).constData(), native(m_scratch).constData())
                != 0)
            JobFs::sysCalls().unlink(native(m_path).constData());
        m_held = false;
    }

    QString m_locks;
    QString m_scratch;
    QString m_path;
    bool m_held = false;
};

// Moves the markers of a station that is gone, or of this one under an id it went by before,
// into this station's folder.
void takeOverStation(const Station &station, const QString &systemFolder, const QString &goneId,
                     const OthersView &others, AcquiredJobs &acquired)
{
    const bool previous = station.previousIds.contains(goneId);
    const QString from = ownersFolder(systemFolder, goneId);
    const QString to = ownersFolder(systemFolder, station.id);
    int taken = 0;
    for (const QString &marker : markersIn(from)) {
        const QString job = jobOfMarker(marker);
        const JobLock lock(station, systemFolder, job, others);
        if (!lock.held())
            continue;
        const QString gone = JobFs::joinPath(from, marker);
        int error = JobFs::claimRename(gone, JobFs::joinPath(to, marker));
        if (error == ENOENT)
            continue; // another station took it first
        if (error == EEXIST) // this station holds it too: the gone one's marker is one too many
            error = JobFs::sysCalls().unlink(native(gone).constData());
        if (error != 0) {
            qCWarning(lcJobs).noquote() << "Cannot take over" << marker << "from station" << goneId
                                        << "-" << JobFs::describeError(error);
            continue;
        }
        ++taken;
        if (marker == job)
            acquired.jobs << job;
        else
            acquired.retiring << job;
    }
    if (previous && taken > 0)
        qCInfo(lcJobs).noquote() << "Holds" << taken << "jobs held under its earlier id" << goneId;
    else if (taken > 0)
        qCInfo(lcJobs).noquote() << "Took over" << taken << "jobs from station" << goneId
                                 << "- its lease has not been renewed for"
                                 << station.leaseTimeoutMs / 1000.0 << "s";
    if (previous && markersIn(from).isEmpty()) {
        JobFs::sysCalls().unlink(
            native(JobFs::joinPath(ownershipFolder(systemFolder, QStringLiteral("leases")), goneId))
                .constData());
        ::rmdir(native(from).constData());
    }
}

// Adopts a claimed job that no station holds: under its lock, and only if still nobody holds it
// and its file is still there.
bool adoptJob(const Station &station, const QString &systemFolder, const QString &jobFileName,
              const OthersView &others)
{
    const JobLock lock(station, systemFolder, jobFileName, others);
    if (!lock.held() || !holderOf(station, systemFolder, jobFileName).isEmpty()
        || !holderOf(station, systemFolder, jobFileName + RetiringSuffix).isEmpty()
        || !exists(JobFs::joinPath(jobsFolder(systemFolder), jobFileName)))
        return false;
    return markJobOwned(station, systemFolder, jobFileName);
}

bool isClaimedJobName(const QString &name)
{
    return name.startsWith(QLatin1Char('2')) && name.right(3).toLower() == QLatin1String("job");
}

} // namespace

QString stationHostPart()
{
    QString host;
    for (const QChar c : QSysInfo::machineHostName())
        host += c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.')
            ? c
            : QLatin1Char('_');
    if (host.isEmpty() || host.startsWith(QLatin1Char('.')))
        host.prepend(QLatin1String("station"));
    return host;
}

QString stationIdFor(const QString &programFolder)
{
    const QString host = stationHostPart();
    // The machine's id tells apart two machines given the same name (a cloned disk).
    const QString canonical = QFileInfo(programFolder).canonicalFilePath();
    const QByteArray place = QSysInfo::machineUniqueId() + '\n'
        + QFile::encodeName(canonical.isEmpty() ? programFolder : canonical);
    return host + QLatin1Char('-')
        + QString::fromLatin1(
               QCryptographicHash::hash(place, QCryptographicHash::Sha1).toHex().left(8));
}

bool RenewLease(Station &station, const QString &systemFolder)
{
    Station::Lease &lease = station.leases[systemFolder];
    const auto fail = [&](int error) {
        if (!lease.failing)
            qCWarning(lcJobs).noquote()
                << "Cannot renew the lease of station" << station.id << "in" << systemFolder << "-"
                << JobFs::describeError(error)
                << "- its jobs wait, and other stations take them over after"
                << station.leaseTimeoutMs / 1000 << "s";
        lease.failing = true;
        lease.error = JobFs::describeError(error);
        return false;
    };
    if (lease.fileTimeNs == 0 || lease.failing) {
        for (const QString &folder : { ownershipFolder(systemFolder),
                                       ownershipFolder(systemFolder, QStringLiteral("leases")),
                                       ownershipFolder(systemFolder, QStringLiteral("owners")),
                                       ownershipFolder(systemFolder, QStringLiteral("locks")),
                                       ownersFolder(systemFolder, station.id) })
            if (const int error = ensureFolder(folder))
                return fail(error);
    }
    const QString path
        = JobFs::joinPath(ownershipFolder(systemFolder, QStringLiteral("leases")), station.id);
    const int fd
        = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return fail(errno);
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    // Writing sets the file time on the server, by the server's clock.
    const QByteArray text = station.id.toUtf8() + '\n';
    struct stat st;
    if (::pwrite(fd, text.constData(), size_t(text.size()), 0) != text.size())
        return fail(errno ? errno : EIO);
    if (::fsync(fd) != 0 || ::fstat(fd, &st) != 0)
        return fail(errno);
    if (lease.failing)
        qCInfo(lcJobs).noquote() << "The lease of station" << station.id << "in" << systemFolder
                                 << "is renewed again";
    lease = { bootClockMs(), nanoseconds(st.st_mtim), false, QString() };
    return true;
}

void RenewLeases(Station &station, bool force)
{
    const qint64 now = bootClockMs();
    for (const QString &folder : station.leases.keys())
        if (force || now - station.leases.value(folder).renewedAtMs >= station.leaseTimeoutMs / 4)
            RenewLease(station, folder);
}

bool leaseAllowsPrinting(Station &station, const QString &systemFolder)
{
    const auto known = station.leases.constFind(systemFolder);
    if (known == station.leases.cend() || known->fileTimeNs == 0)
        return RenewLease(station, systemFolder)
            || !JobFs::existsAnything(ownershipFolder(systemFolder));
    if (!known->failing && bootClockMs() - known->renewedAtMs < station.leaseTimeoutMs / 2)
        return true;
    return RenewLease(station, systemFolder);
}

QStringList leaseFailures(const Station &station)
{
    QStringList failures;
    for (auto it = station.leases.cbegin(); it != station.leases.cend(); ++it)
        if (it->failing && JobFs::existsAnything(ownershipFolder(it.key())))
            failures << it.key() + QLatin1String(" (") + it->error + QLatin1Char(')');
    failures.sort();
    return failures;
}

QString holderOf(const Station &station, const QString &systemFolder, const QString &marker)
{
    if (exists(JobFs::joinPath(ownersFolder(systemFolder, station.id), marker)))
        return station.id;
    // A marker leaves this station's folder only by one rename into another's, so once it is
    // found missing here it is already wherever it went.
    for (const QString &id :
         JobFs::listSubfolders(ownershipFolder(systemFolder, QStringLiteral("owners"))))
        if (id != station.id && exists(JobFs::joinPath(ownersFolder(systemFolder, id), marker)))
            return id;
    return QString();
}

bool markJobOwned(const Station &station, const QString &systemFolder, const QString &jobFileName)
{
    const QString path = JobFs::joinPath(ownersFolder(systemFolder, station.id), jobFileName);
    const int error = JobFs::sysCalls().createFile(native(path).constData());
    // A marker there already is this station's own; anything else in its place is no marker.
    if (error != 0 && (error != EEXIST || !JobFs::isFile(path))) {
        qCWarning(lcJobs).noquote() << "Cannot record that station" << station.id << "holds"
                                    << jobFileName << "-" << JobFs::describeError(error);
        return false;
    }
    return true;
}

void markJobRetiring(const Station &station, const QString &systemFolder,
                     const QString &jobFileName)
{
    const QString folder = ownersFolder(systemFolder, station.id);
    JobFs::sysCalls().rename(
        native(JobFs::joinPath(folder, jobFileName)).constData(),
        native(JobFs::joinPath(folder, jobFileName + RetiringSuffix)).constData());
}

void forgetJob(const Station &station, const QString &systemFolder, const QString &marker)
{
    JobFs::sysCalls().unlink(
        native(JobFs::joinPath(ownersFolder(systemFolder, station.id), marker)).constData());
}

bool holdsAnyMarker(const Station &station, const QString &systemFolder)
{
    return !markersIn(ownersFolder(systemFolder, station.id)).isEmpty();
}

AcquiredJobs acquireJobs(Station &station, const QString &systemFolder,
                         const QStringList &jobsFolderNames, bool startUp)
{
    AcquiredJobs acquired;
    bool leased = false;
    if (startUp)
        leased = RenewLease(station, systemFolder);
    else // a folder where a lease never could be made has no ownership, as at start-up
        leased = leaseAllowsPrinting(station, systemFolder)
            && station.leases.value(systemFolder).fileTimeNs != 0;
    const OthersView others = viewOthers(station, systemFolder);
    if (leased) {
        if (startUp)
            for (const QString &earlier : station.previousIds)
                if (JobFs::isFolder(ownersFolder(systemFolder, earlier)))
                    takeOverStation(station, systemFolder, earlier, others, acquired);
        for (const QString &gone : others.gone)
            takeOverStation(station, systemFolder, gone, others, acquired);
    }
    const QString own = ownersFolder(systemFolder, station.id);
    QSet<QString> held; // by any station
    for (const QString &id :
         JobFs::listSubfolders(ownershipFolder(systemFolder, QStringLiteral("owners"))))
        for (const QString &marker : markersIn(ownersFolder(systemFolder, id)))
            held << jobOfMarker(marker);
    if (startUp) {
        const QSet<QString> present(jobsFolderNames.cbegin(), jobsFolderNames.cend());
        for (const QString &marker : markersIn(own)) {
            if (marker.endsWith(RetiringSuffix))
                acquired.retiring << jobOfMarker(marker);
            else if (present.contains(marker))
                acquired.jobs << marker;
            else
                forgetJob(station, systemFolder, marker); // its job file went by hand
        }
    }

    const qint64 now = station.leases.value(systemFolder).fileTimeNs;
    int adopted = 0;
    for (const QString &name : jobsFolderNames) {
        if (!isClaimedJobName(name) || held.contains(name))
            continue;
        if (!leased) {
            // Without .zelvo no station records owners here: alone on the folder, as far as it
            // can know. With it, the others' jobs are theirs.
            if (startUp && !JobFs::existsAnything(ownershipFolder(systemFolder)))
                acquired.jobs << name;
            continue;
        }
        // Alone at start-up, no other station can be adopting it: another one starting now
        // finds this station's lease and waits for the timeout.
        const bool alone = startUp && others.alive.isEmpty();
        bool due = alone;
        if (!due) {
            const auto st = freshStatus(JobFs::joinPath(jobsFolder(systemFolder), name));
            // A claim renames the file, which sets its change time.
            due = st && now - nanoseconds(st->st_ctim) > station.leaseTimeoutMs * 1000000;
        }
        // Under the lock even when alone: a station counted gone may be back from a pause in
        // the middle of adopting the same job.
        if (due && adoptJob(station, systemFolder, name, others)) {
            acquired.jobs << name;
            ++adopted;
        }
    }
    if (adopted > 0)
        qCInfo(lcJobs).noquote() << "Adopted" << adopted << "claimed jobs that no station held";
    acquired.retiring.removeDuplicates();
    return acquired;
}
