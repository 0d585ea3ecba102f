#pragma once

#include "JobFileSystem.h"

#include <QString>

#include <cstdint>
#include <vector>

// One photo of a job: one line of its job file.
struct PhotoItem
{
    QString imageFileName; // orderPrefix + listKey + "_" + photoNumber + ".jpg", no folder
    int16_t paperSize = 0; // 0 = 10x15, 1 = 13x18, 2 = 15x23
    int16_t copies = 0;
    double amount = 0; // carried along, never used by the station
    int16_t printed = 0; // 0 = still to print
    QString photoNumber; // four characters exactly as written, blanks included
    qint64 lineOffset = -1; // where its line starts in the job file; -1 when not read from one
};

// One job of the queue, read from a job file or made by print now.
struct JobRecord
{
    QString fileName; // the job file's name when read ("2..." once claimed)
    QString listKey; // the queue shows "job " + listKey; urgent copies hold "Urgente N"
    QString orderPrefix;
    int16_t photoCount = 0; // always photos.size()
    int16_t printedCount = 0;
    int16_t queueOrder = 0; // the dispatcher takes the smallest
    std::vector<PhotoItem> photos;
    bool urgent = false;
    // The system folder the job was taken from: its photos are there and it retires there, also
    // after Setup has moved the station to another folder.
    QString systemFolder;
    // Unique in the run, given when the record is stored: it names this very record, where a
    // slot or a key may come to hold another (two jobs can share a key).
    quint64 serial = 0;
    // The job file read, so that progress is never written into a later file of the same name.
    JobFs::FileIdentity fileIdentity;
    // An urgent copy made by print now (not a reprint), kept beside the program until a printer
    // takes it; `sourceWasPrinted`: its photo already counted as printed in its job then.
    bool sentAhead = false;
    bool sourceWasPrinted = false;
};
