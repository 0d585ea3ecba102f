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
// is never listed again.
void RetireJob(JobStore &store, int32_t index);

// At start-up: finishes every retirement that a run cut short left in the jobs folder (a job
// file under its ".retiring" name), moving the photos its lines name and then the job file into
// backup. Returns the number of such job files found.
int FinishInterruptedRetirements(const QString &systemFolder);
