#pragma once

#include "JobStore.h"

#include <QString>

#include <cstdint>

// Takes the job in slot `index` out of the queue: its job file goes to backup/jobs under status
// "3", its photos to backup/images, each replacing an older backup of the same name, all in the
// system folder the job was taken from (its record's systemFolder); its record and its list
// entry go; the selection stays valid, and an emptied queue clears the viewer.
// A file that is missing, or that the file system refuses to move, stays where it is and the
// retirement goes on: nothing is deleted but an older backup. An index that is not a live slot
// changes nothing.
// The job file is first renamed in the jobs folder to its name + ".retiring", then the photos
// move, then the job file; a job file that cannot move stays under that name, so that the job
// is never listed again; the moves after that rename go to store.runFileMoves when it is set.
// Photos that a later delivery of the same order in the jobs folder names (waiting or claimed)
// are copied, not moved. A job that another station holds now (it took the job
// over) leaves the queue with all its files left to that station; an urgent copy never moves
// its source's job file while the source is queued here or held elsewhere.
void RetireJob(JobStore &store, int32_t index);

// Finishes the retirement of `fileName` that this station holds by its ".retiring" marker (its
// own, cut short by a crash, or taken over from a station that is gone): the job file, under
// its ".retiring" name or still under its own, and the photos its lines name go into backup,
// and the marker goes.
void finishRetirement(const Station &station, const QString &systemFolder, const QString &fileName);

// At start-up: finishes the retirements this station holds (`held`) and every one that no
// station holds (a job file under its ".retiring" name left by an earlier version). Returns the
// number finished.
int FinishInterruptedRetirements(const Station &station, const QString &systemFolder,
                                 const QStringList &held);
