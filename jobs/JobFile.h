#pragma once

#include "JobFileSystem.h"
#include "JobRecord.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <vector>

// A job file's lines are counted in 16 bits.
inline constexpr int MaxJobLines = 32767;

// A file of the jobs folder is a job file when the last three characters of its name,
// lower-cased, are "job".
bool isJobFileName(const QString &name);

struct JobFileName
{
    QChar status; // '0' awaiting payment, '1' released, '2' taken into a queue, '3' retired
    QString orderPrefix; // characters 2-3: part of the order id, not shown in the queue
    QString listKey; // characters 4 to length-4: the job number the queue shows
    QString error; // why the station cannot take a file of this name; empty when it can
};

JobFileName splitJobFileName(const QString &name);

struct PhotoLine
{
    PhotoItem photo;
    QString error; // empty when the line is well-formed
    QString warning; // what was read leniently (an unreadable amount); empty when nothing
};

// One line of a job file, without its line end. Fields that run past the end of the line
// are shortened or empty. The columns the station uses must hold a whole number (blanks around
// it and a sign allowed), so an empty one makes the line malformed. The amount, which it only
// carries, is a decimal number of hundredths with '.' or ',' (blanks and a sign allowed); one
// that cannot be read counts as 0, with a warning.
PhotoLine parseJobLine(QStringView line, const QString &orderId);

struct JobPhotos
{
    std::vector<PhotoItem> photos;
    QString error; // the first fault found, with its line number; photos is then empty
    QString warning; // the first warning, with its line number
};

// The lines of a job file's single-byte text, ended by CRLF or LF; a final line without a line
// end counts. A blank line or more than MaxJobLines lines make the whole file malformed.
JobPhotos parseJobFileText(const QByteArray &text, const QString &orderId);

struct JobFileRead
{
    JobRecord record; // queueOrder is given when the record is stored in the table
    JobFs::FileIdentity identity; // the file that was read, to tell whether it was replaced since
    QString error; // why the file cannot be taken; empty when it can
    bool ok() const { return error.isEmpty(); }
};

// Reads a job file into a record: names from the file name, one photo per line. The file is
// read whole and checked before anything else happens to it. A warning is logged once.
JobFileRead ReadJobFile(const QString &filePath);

// Records in the job file at `jobFilePath` that `photo` has been printed: its line's column 1
// becomes '1', one byte written in place and flushed to disk, so that after a crash or a restart
// the job goes on with its next photo. Only the file `identity` names is written, and only at a
// line that still holds the photo (a digit, then its photo number). True when the mark is on
// disk, a line already marked included; a failure is logged.
bool recordPhotoPrinted(const QString &jobFilePath, const JobFs::FileIdentity &identity,
                        const PhotoItem &photo);

// Makes the claimed job file at `jobFilePath`, read as `read`, one this station can record its
// progress in. The order-taking program (or the station that held the job before) may have
// written it as another account that left it read-only to the group: such a file is replaced by
// a verified copy this station owns, the same bytes under the same name, and `read` is read
// again from it. False, with a warning, when a copy is needed and cannot be made.
bool makeJobFileWritable(const QString &jobFilePath, JobFileRead &read);
