#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// Which station owns which claimed job when several stations share a system folder. Each station
// keeps, in the hidden folder .zelvo of the system folder:
//   leases/<station>         rewritten while the station runs: its file time is its heartbeat
//   owners/<station>/<job>   an empty marker for each job file of its queue ("2AB12345.job"),
//                            renamed to "<job>.retiring" while that job is being retired
//   locks/<job>.<n>          held for a moment while a job changes owner; the highest n counts
//   owners/<station>/.lock   the file naming the station that it renames into the locks
// A station lists and prints only the jobs it holds. The jobs of a station whose lease has not
// been renewed for the lease timeout are taken over by another, one rename of each marker, so
// that exactly one station gets each. Ages are differences of file times only: the file
// server's clock counts, never a station's own.

// How long a station's lease may go unrenewed before the station counts as gone for good.
inline constexpr qint64 DefaultLeaseTimeoutMs = 2 * 60 * 1000;

struct Station
{
    // The host name and a hash of the machine's id and the program folder: the same across
    // restarts, different for two installations on one machine and for two machines.
    QString id;
    // Ids this station went by before (StationIdentity): at start-up their jobs become its own.
    QStringList previousIds;
    // Tests shorten it; every station on a folder must use the same.
    qint64 leaseTimeoutMs = DefaultLeaseTimeoutMs;

    struct Lease
    {
        qint64 renewedAtMs = 0; // the boot clock (which counts suspended time too)
        qint64 fileTimeNs = 0; // the time the server gave the lease file: its "now"
        bool failing = false; // the last renewal failed (logged once)
        QString error; // why, while failing
    };
    // By system folder; a folder appears here once a renewal was tried.
    QHash<QString, Lease> leases;
};

// The host name as a file name can hold it: the readable part of a station id.
QString stationHostPart();
QString stationIdFor(const QString &programFolder);

// Renews this station's lease in `systemFolder`, creating the folders above when missing.
bool RenewLease(Station &station, const QString &systemFolder);
// Renews the lease in every system folder the station has tried one in, when a quarter of the
// timeout has passed since its last renewal (`force`: at once).
void RenewLeases(Station &station, bool force = false);

// Whether this station may print a job of `systemFolder` now: its lease there must have been
// renewed within half the timeout, so that no other station can be taking its jobs over. A
// renewal is tried when it is older; false when that fails. A folder without .zelvo (which
// cannot be made there) records no owners, so no other station can take this one's jobs: true.
bool leaseAllowsPrinting(Station &station, const QString &systemFolder);

// The system folders where this station's lease cannot be renewed, each with the reason: its
// jobs there wait.
QStringList leaseFailures(const Station &station);

// The station holding `marker` (a job file name, or one + ".retiring"): this station when its
// own folder has it, else the first other that has, else "".
QString holderOf(const Station &station, const QString &systemFolder, const QString &marker);

// Records that this station holds `jobFileName`, which it has just claimed.
bool markJobOwned(const Station &station, const QString &systemFolder, const QString &jobFileName);
// Retiring a held job: its marker becomes "<job>.retiring" before the job file leaves its name,
// and goes once the job file is in backup.
void markJobRetiring(const Station &station, const QString &systemFolder,
                     const QString &jobFileName);
void forgetJob(const Station &station, const QString &systemFolder, const QString &marker);
// Whether this station has any marker in `systemFolder`: a job it holds or is retiring there.
bool holdsAnyMarker(const Station &station, const QString &systemFolder);

struct AcquiredJobs
{
    QSet<QString> jobs; // claimed job files ("2...") to list now
    QStringList retiring; // job files whose retirement this station is now to finish
};

// Gathers, by their markers, the jobs this station is to list from `systemFolder`. First the
// markers of every station whose lease has run out move into this station's folder. Then the
// claimed job files in `jobsFolderNames` that no station holds (claimed by an earlier version,
// or cut short between claim and marker) are adopted, each under its lock: at start-up when no
// other station's lease is fresh, otherwise once their claim is older than the timeout. At
// start-up (`startUp`) the station's own jobs come too. Without a lease nothing is taken over
// or adopted, and at start-up every claimed job is listed, as a station alone on its folder.
AcquiredJobs acquireJobs(Station &station, const QString &systemFolder,
                         const QStringList &jobsFolderNames, bool startUp);
