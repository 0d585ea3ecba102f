#pragma once

#include "JobStore.h"

#include <QString>

#include <functional>
#include <optional>

// The operator's queue commands on the job store: moving the selected job, removing it, and
// print now, which makes a one-photo urgent job of a photo of the selected job. They work on
// the table and the list alone; the main window asks for the confirmation and calls them.

enum class QueueMove { ToTop, Up, Down, ToBottom };

// Where the selected entry goes, or -1 when the move does not apply (nothing selected, or
// already at that end of the list).
int queueMoveTarget(QueueMove move, int selected, int count);

// Moves the selected entry to its target, selects it there without reloading the thumbnails
// (lastShownIndex is set first) and carries the new order into the records. False, and
// nothing changes, when the move does not apply.
bool MoveSelectedJob(JobStore &store, QueueMove move);

// Remove's key of an entry: the whole text when it contains "rgent", else the text after
// "job ".
QString formRemoveKey(const QString &entryText);

// The serial number of the selected job's record, by Remove's key; 0 when nothing is selected
// or no record holds the key (FindJobByKey's slot 0 would then be another job).
quint64 SelectedJobSerial(const JobStore &store);

// Retires the job whose record bears `serial`, once the operator has confirmed. The question
// takes time, and the queue may change meanwhile: false, and nothing changes, when that record
// is no longer queued.
bool RemoveJob(JobStore &store, quint64 serial);

// The number of the next urgent job and the entry index it is inserted at: 1 at the top when
// no urgent entry is listed, else one more than the highest number, directly below the
// lowest-placed entry holding it.
struct UrgentPlace
{
    int number = 1;
    int index = 0;
};
UrgentPlace findUrgentPlace(const QueueList &list);

// The name of the urgent copy of `imageFileName`: its stem, "u", the first number c for which
// nothing of that name is in `imagesFolder`, and its last four characters (the extension).
// Empty when no free name is found.
QString freeUrgentCopyName(const QString &imagesFolder, const QString &imageFileName);

// Copies `from` to `to`, replacing what is there; on failure no file is left at `to`.
bool copyImageFile(const QString &from, const QString &to);
using CopyImageFunction = std::function<bool(const QString &from, const QString &to)>;

enum class PrintNowResult {
    Made, // the urgent job is in the table and the list
    NoSource, // no entry selected, its record is gone, or no photo k
    QueueFull,
    CopyFailed, // the photo's copy could not be written; nothing changed
    OnItsWay, // the photo's document is on its way to the printer: not sent again
};

// Makes photo k of the selected job an urgent job of its own that prints ahead of the normal
// jobs: a copy of the photo under a free "u" name in the job's own images folder, an
// "Urgente N" entry and record (of the same system folder), and the
// photo marked printed in its job so the job ends without it. A photo already marked printed
// gets a further copy and is not counted again. A photo whose document is on its way to the
// printer now is left alone: it counts as printed when the printer takes it, and is tried
// again at the next tick when it refuses it. The selection and the viewer stay as they are;
// the next selection reloads the viewer.
PrintNowResult PrintNow(JobStore &store, int k, const CopyImageFunction &copy = copyImageFile);

// Adds the one-photo job `urgent` (its fileName, orderPrefix, systemFolder and photo set) as the
// next urgent job "Urgente N", with a serial of its own: at the head of the queue when `atHead`,
// else where print now puts it; the next selection reloads the viewer. Returns its key. The
// caller has checked that the queue has room.
QString insertUrgentJob(JobStore &store, JobRecord urgent, bool atHead);

struct UrgentReprint
{
    QString listKey; // "Urgente N"
    QString imageFileName; // the copy in images/
};

// Prints `photo` of the job `source` (its fileName, orderPrefix and systemFolder; the job may be
// retired) again as an urgent job at the head of the queue, from a copy of its image in the
// system folder's images/ or, once the job is retired, in backup/images/, named as print now
// names its copies. nullopt, logged, when the image is in neither, its copy fails, or the queue
// is full.
std::optional<UrgentReprint> QueueReprint(JobStore &store, const JobRecord &source,
                                          const PhotoItem &photo);
