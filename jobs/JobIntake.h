#pragma once

#include "JobStore.h"

#include <QString>

// Taking job files into the queue. The folders hang under the system folder the caller passes
// (the station passes ModConf::SystemFolder):
//   jobs            job files waiting or in the queue
//   images          the photos
//   backup          parent of the two below
//   backup/jobs     retired job files
//   backup/images   retired photos

// Creates whichever of the five folders is missing, one level at a time, in the order above.
// False at the first folder that cannot be made; the ones after it are not tried.
bool CreateFolderLayout(const QString &systemFolder);

// At start-up: first puts right what an earlier run left when it was cut short (temporary
// copies in the backup folders go, retirements under way are finished), then lists again the
// jobs that run had taken (status digit "2"), in the order of their names. Returns the number
// of jobs listed.
int LoadWaitingJobs(JobStore &store, const QString &systemFolder);

// On every tick: takes the released job files ("1", and "0" while printAll), in the order of
// their names, renaming each to status "2" so it is never taken twice. A file that cannot be
// taken keeps its name and is tried again on the next tick. Returns the number of jobs taken.
int ScanNewJobs(JobStore &store, const QString &systemFolder, bool printAll);
