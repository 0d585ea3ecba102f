#pragma once

#include "JobOwnership.h"
#include "JobRecord.h"
#include "QueueList.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// At most this many records in the job table and entries in the queue list: both count in 16 bits.
inline constexpr int MaxJobs = 32767;

// What the main window owns of the job store for the whole run: the job table, the queue list
// and the list's two fields. The table is in arrival order; the print order is each record's
// queueOrder, which RenumberQueue sets from the list positions. The list and the table hold the
// same jobs, one entry per record, tied only by the entry key.
struct JobStore
{
    JobStore();

    std::vector<JobRecord>
        printJobs; // empty = never allocated; once allocated never below one slot
    int16_t jobCount = 0; // live records, in slots 0..jobCount-1
    QueueList LstJobs;
    int32_t lastShownIndex = -1; // the entry whose photos the viewer was last asked to show
    bool forceThumbRefresh = false; // once set, every selection reloads the viewer
    quint64 lastSerial = 0; // the serial number of the record stored last

    // Hooks into the thumbnail viewer, set by the window; either may stay empty.
    std::function<void(const QString &key)> showJobThumbnails;
    // Releases the thumbnail images and boxes when the queue has become empty.
    std::function<void()> clearThumbnails;
    // Whether photo `photoIndex` of the record bearing `serial` is on its way to a printer now,
    // its answer awaited; set by the print tracker.
    std::function<bool(quint64 serial, int photoIndex)> photoOnItsWay;

    // Job files left in the jobs folder, with the reason logged for each, so that a file that
    // stays refused is logged once and not on every tick.
    QHash<QString, QString> refusedJobFiles;

    // This station among the others on its system folder; its id comes from the program's
    // folder.
    Station station;

    // The program's folder: what the station must find again after a restart is kept there
    // (empty: in memory only).
    QString programFolder;
    // The system folders in which the station may hold jobs (see HeldFolders.h).
    QStringList heldFolders;
    // Print-now copies of a system folder out of reach at start-up, kept for the next start.
    std::vector<JobRecord> sentAheadOutOfReach;
    // Runs the file moves of a retirement; empty: at once, on the caller's thread.
    std::function<void(std::function<void()> moves)> runFileMoves;
};

// The key of a queue entry: the whole text of an urgent entry (it contains "rgente"), the text
// after "job " for any other.
QString formEntryKey(const QString &entryText);

// The queue entry of a job read from a job file.
QString formJobEntryText(const QString &listKey);

// The selection handler of LstJobs: asks the viewer to show the selected job unless it is the
// one already shown (and forceThumbRefresh is not set).
void LstJobsSelectionChanged(JobStore &store);

// Carries the list order into the records: the record of entry i gets queueOrder i. Entries
// whose keys are equal all resolve to the first such record, which keeps the last of their
// indices.
void RenumberQueue(JobStore &store);

// Whether one more job fits into the table and the list.
bool hasRoomForJob(const JobStore &store);

// Stores a record read from a job file in slot jobCount, with the next queueOrder and serial
// number, and inserts its entry at list position jobCount. The caller raises jobCount.
void storeJobRecord(JobStore &store, JobRecord record);

// Whether the job the urgent copy in slot `index` was made from is still in the queue: an
// ordinary job holding the same job file.
bool urgentSourceQueued(const JobStore &store, int32_t index);
