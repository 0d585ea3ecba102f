#pragma once

#include <QHash>
#include <QList>
#include <QPageLayout>
#include <QString>
#include <QStringList>

// What the print system last told about its queues and the jobs the station follows, as one
// value: the CUPS link fills it on its own thread and hands a copy to the interface thread,
// which reads nothing else about CUPS.

// One marker (ribbon, ink, media) as the driver reports it. Levels are percent; CUPS uses -1
// for "not available", -2 for "unknown" and -3 for "some remains".
struct MarkerLevel
{
    QString name;
    QString type;
    int level = -1;
    int lowLevel = -1;
};

// One CUPS queue.
struct QueueStatus
{
    int state = 3; // IPP printer-state: 3 idle, 4 processing, 5 stopped
    QStringList reasons; // printer-state-reasons, without "none"
    bool accepting = true;
    QString message;
    QList<MarkerLevel> markers;
    int queuedJobs = 0; // the job being printed counts too

    // How a document for this queue is laid out: its default paper with the printable area
    // inside the hardware margins, at its default resolution. dpi 0: not known.
    int dpi = 0;
    QPageLayout layout;
};

// IPP job-state values.
enum CupsJobState {
    JobUnknown = 0, // the scheduler does not know the job (any more)
    JobPending = 3,
    JobHeld = 4,
    JobProcessing = 5,
    JobStopped = 6,
    JobCanceled = 7,
    JobAborted = 8,
    JobCompleted = 9,
};

struct PrinterSnapshot
{
    // Counts the link's rounds; 0 until the first round has ended.
    quint64 generation = 0;
    bool answering = false; // false: nothing below is known
    QString server; // the scheduler's address, for log lines
    QStringList queues; // in CUPS's order; an lpoptions instance is "queue/instance"
    QString defaultQueue; // "" when no queue is the default
    QHash<QString, QueueStatus> status; // by queue name (without instance)
    QHash<int, int> jobStates; // CupsJobState of each followed job, by CUPS job id
};
