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
        if (id == station.id)
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

// Holds the lock of `jobFileName` while a job changes owner. A lock left by a station that is
// not alive, or by this one before a restart, is broken: renamed away, which only one station
// can.
class JobLock
{
public:
    JobLock(const Station &station, const QString &systemFolder, const QString &jobFileName,
            const OthersView &others)
        : m_path(
            JobFs::joinPath(ownershipFolder(systemFolder, QStringLiteral("locks")), jobFileName))
    {
        const QString own = ownersFolder(systemFolder, station.id);
        const QString scratch = JobFs::joinPath(own, QStringLiteral(".lock"));
        for (int attempt = 0; attempt < 2 && !m_held; ++attempt) {
            QFile note(scratch);
            if (!note.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || note.write(station.id.toUtf8()) < 0)
                return;
            note.close();
            const int error = JobFs::claimRename(scratch, m_path);
            m_held = error == 0;
            if (error != EEXIST)
                break;
            const QString holder = QString::fromUtf8(JobFs::readWholeFile(m_path).data).trimmed();
            if (holder != station.id && others.alive.contains(holder))
                break;
            const QString broken = JobFs::joinPath(own, QStringLiteral(".broken-lock"));
            if (JobFs::sysCalls().rename(native(m_path).constData(), native(broken).constData())
                == 0)
                JobFs::sysCalls().unlink(native(broken).constData());
        }
        if (!m_held)
            JobFs::sysCalls().unlink(native(scratch).constData());
    }
    ~JobLock()
    {
        if (m_held)
            JobFs::sysCalls().unlink(native(m_path).constData());
    }
    JobLock(const JobLock &) = delete;
    JobLock &operator=(const JobLock &) = delete;
    bool held() const { return m_held; }

private:
    QString m_path;
    bool m_held = false;
};

// Moves the markers of a station that is gone into this station's folder.
void takeOverStation(const Station &station, const QString &systemFolder, const QString &goneId,
                     const OthersView &others, AcquiredJobs &acquired)
{
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
    if (taken > 0)
        qCInfo(lcJobs).noquote() << "Took over" << taken << "jobs from station" << goneId
                                 << "- its lease has not been renewed for"
                                 << station.leaseTimeoutMs / 1000.0 << "s";
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

QString stationIdFor(const QString &programFolder)
{
    QString host;
    for (const QChar c : QSysInfo::machineHostName())
        host += c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.')
            ? c
            : QLatin1Char('_');
    if (host.isEmpty() || host.startsWith(QLatin1Char('.')))
        host.prepend(QLatin1String("station"));
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
    lease = { bootClockMs(), nanoseconds(st.st_mtim), false };
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
    if (known == station.leases.cend() || known->fileTimeNs == 0) {
        RenewLease(station, systemFolder);
        return true;
    }
    if (!known->failing && bootClockMs() - known->renewedAtMs < station.leaseTimeoutMs / 2)
        return true;
    return RenewLease(station, systemFolder);
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
    const int fd = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        qCWarning(lcJobs).noquote() << "Cannot record that station" << station.id << "holds"
                                    << jobFileName << "-" << JobFs::describeError(errno);
        return false;
    }
    ::close(fd);
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
            if (startUp)
                acquired.jobs << name; // no lease: alone on the folder, as far as it can know
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
        if (due
            && (alone ? markJobOwned(station, systemFolder, name)
                      : adoptJob(station, systemFolder, name, others))) {
            acquired.jobs << name;
            ++adopted;
        }
    }
    if (adopted > 0)
        qCInfo(lcJobs).noquote() << "Adopted" << adopted << "claimed jobs that no station held";
    acquired.retiring.removeDuplicates();
    return acquired;
}
