#pragma once

#include "JobRecord.h"
#include "JobStore.h"
#include "PrintLedger.h"
#include "PrinterStatus.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class PrinterPort;

// A photo handed to a printer: enough to find it in the queue again, to write its ledger row
// and to print it once more.
struct PrintedPhoto
{
    quint64 serial = 0; // of its job's record (0 once read back after a restart)
    QString fileName; // its job's file ("2AB12345.job"); urgent copies keep their source's
    QString listKey;
    QString orderPrefix;
    bool urgent = false;
    int photoIndex = 0;
    PhotoItem photo; // as it was printed
    QString systemFolder;
    QString printer;
    bool reprint = false; // printed again after CUPS lost the first one: not retried again
};

// One paper size's line of the printer strip.
struct SizeLine
{
    QString size; // "10x15"
    QString printer; // the device its photos go to; "" when none is set
    PrinterDescription description;
    std::optional<MarkerLevel> media;
    int printedToday = 0; // copies
};

// Follows every document the station hands to a printer until the print system is done with
// it: the photo whose document still waits for CUPS's answer (no other photo is printed
// meanwhile), then its CUPS job until CUPS ends it. A job CUPS aborts, or that anyone cancels
// (the station never does), is printed again once, as an urgent job at the head of the queue;
// a reprint that fails too is shown to the operator and not tried again. Every accepted
// document goes into the day's ledger, whose row gets the job's final state. Jobs still
// followed are kept in a state file beside the ledger and followed again after a restart.
// It also logs every state change of a printer in use, and gives the printer strip its lines.
class PrintTracker : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *StateFileName = "zelvo-cups-jobs.json";

    // `folder` holds the ledger and the state file (the station's folder, beside its log).
    PrintTracker(JobStore &store, PrinterPort &port, const QString &folder,
                 QObject *parent = nullptr);
    ~PrintTracker() override;

    // At start-up, once the waiting jobs are listed: follows the jobs an earlier run followed,
    // and puts back the reprints it had queued.
    void restore();

    // For the dispatcher: a document is on its way (`ticket`), or was accepted.
    bool photoInFlight() const { return m_inFlight.has_value(); }
    // Lets the event loop run until the document on its way has been answered, `ms` at most: a
    // station that stops still counts what CUPS took, rather than print it again at its start.
    void awaitAnswer(int ms);
    // While held, the queue does not change: a photo CUPS takes is recorded and counted, but
    // its job is retired, and the jobs CUPS ends are acted on, once the hold is released.
    void holdQueue(bool held);
    void expectAnswer(int ticket, const PrintedPhoto &photo);
    void photoAccepted(const PrintedPhoto &photo, int cupsJobId);

    // A photo whose file cannot be read waits: `notice` (in red) names it until it prints or
    // the operator acknowledges it. A later notice for the same `path` replaces it.
    void photoWaiting(const QString &path, const QString &notice);

    QList<SizeLine> sizeLines() const;
    // What the strip says below the printers: an alert the operator has not acknowledged yet
    // (isAlert), or the latest notice of the day.
    QString notice() const;
    bool isAlert() const { return m_alertCount > 0 || !m_photoAlerts.isEmpty(); }
    // The alerts given since the last acknowledgement; of those not about a waiting photo, only
    // the latest is kept.
    int alertCount() const;
    void acknowledge();

    const PrintLedger &ledger() const { return m_ledger; }
    QString stateFile() const;

    // The time now, read once for each ledger row so that its day and time agree.
    std::function<QDateTime()> now = &QDateTime::currentDateTime;

signals:
    void changed();

private:
    struct Followed
    {
        PrintedPhoto printed;
        int cupsJobId = 0; // 0: its reprint waits in the queue
        QDate day; // of its ledger row
        QString reprintKey; // the urgent job printing it again, and that job's photo
        QString reprintImage;
    };

    void takeAnswer(int ticket, int jobId);
    void takeSnapshot();
    // Whether `followed` stays: a reprint of it has been queued.
    bool jobEnded(Followed &followed, int state);
    bool queueReprint(Followed &followed, const QString &why);
    void dropFinishedReprints();
    void logPrinterChanges();
    void recountToday();
    void save() const;
    void tellPortWhatToFollow();
    void say(const QString &notice, bool alert);

    JobStore &m_store;
    PrinterPort &m_port;
    QString m_folder;
    PrintLedger m_ledger;
    std::optional<std::pair<int, PrintedPhoto>> m_inFlight;
    bool m_held = false;
    std::optional<quint64> m_heldRetirement; // the serial of a job that may be complete
    QList<Followed> m_followed;
    QHash<QString, QString> m_loggedStates; // by printer
    QString m_alert;
    int m_alertCount = 0;
    // A waiting photo's alert, by its path, until the photo prints or it is acknowledged; the
    // latest alert of all shows.
    struct PhotoAlert
    {
        QString text;
        quint64 order = 0;
    };
    QHash<QString, PhotoAlert> m_photoAlerts;
    quint64 m_alertOrder = 0; // of the latest alert given
    quint64 m_latestOtherAlert = 0; // m_alert's order
    QString m_notice;
    QDate m_tallyDay;
    int m_tally[3] = { 0, 0, 0 };
};
