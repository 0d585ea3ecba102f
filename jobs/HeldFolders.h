#pragma once

#include "JobStore.h"

#include <QString>
#include <QStringList>

// The system folders in which this station holds jobs. The settings name one, but Setup (or an
// edited zelvo.ini) may move the station to another while jobs of the first are queued or
// being retired; so every folder it takes jobs from is kept, one line each, in a file beside
// the program, until the station holds nothing there any more.
inline constexpr const char *HeldFoldersFileName = "zelvo-system-folders.txt";

// The folders kept beside the program in `programFolder`, in the order they were added.
QStringList readHeldFolders(const QString &programFolder);

// Adds `systemFolder` to the kept folders (and to the file, before any job is taken from it).
void rememberSystemFolder(JobStore &store, const QString &systemFolder);

// At start-up: lists again the jobs the station held in every kept folder (as LoadWaitingJobs,
// also finishing the retirements left under way there), then those of `current`, which is kept
// from now on. A kept folder that cannot be reached is logged once and tried again at the next
// start. Returns the number of jobs listed.
int LoadAllWaitingJobs(JobStore &store, const QString &current);

// Forgets every kept folder but `current` in which the station holds nothing any more: no job
// of it is queued and no marker of this station is left there.
void forgetIdleSystemFolders(JobStore &store, const QString &current);
