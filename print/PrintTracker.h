#pragma once

#include "JobRecord.h"
#include "JobStore.h"
#include "PrintLedger.h"
#include "PrinterStatus.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
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
    int printedToday = 0; // copies completed, on the size's printer and its stand-in
    QString standIn; // its stand-in device; "" when none is set
    PrinterDescription standInDescription;
    // The device "Retomar" starts again: the printer or stand-in that CUPS has stopped, paused
    // or set to refuse jobs; "" when neither is.
    QString resumable;
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
    bool photoInFlight() const { return !m_inFlight.isEmpty(); }
    // Whether photo `photo` of the record `serial` is on its way to the print system.
    bool photoOnItsWay(quint64 serial, int photo) const;
    // This station's documents on `device` that the print system has not completed yet: those on
    // their way and the CUPS jobs still followed.
    int documentsOn(const QString &device) const;
    // How long a page of `paperSize` takes on `device`: as measured from the documents CUPS
    // completed there, or the size's usual time until then.
    double secondsPerPage(const QString &device, int paperSize) const;
    // How long the documents this station has on `device` will keep it busy, in seconds.
    double busyFor(const QString &device) const;
    // Lets the event loop run until the documents on their way have been answered, `ms` at most: a
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
    // Whether the alert shown is a photo that failed twice, which printAgain() sends once more.
    bool canPrintAgain() const
    {
        return m_alertCount > 0 && m_alertPhoto.has_value() && notice() == m_alert;
    }
    // Queues the photo of the alert shown as an urgent job at the head of the queue (from its
    // job's images, or the backup once the job has retired), as an automatic reprint is, and
    // takes the alerts away. False, with the alert kept, when the photo cannot be found.
    bool printAgain();

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
        qint64 acceptedAtMs = 0; // when CUPS took it, in this run; 0 when not known
    };

    void takeAnswer(int ticket, int jobId);
    void takeSnapshot();
    // Whether `followed` stays: a reprint of it has been queued.
    bool jobEnded(Followed &followed, int state);
    bool queueReprint(Followed &followed, const QString &why);
    // Documents waiting in a printer that cannot print go to their size's other printer when
    // that one can print; each is tried once.
    void moveHeldDocuments(const PrinterSnapshot &snapshot);
    void takeMove(int jobId, const QString &device, const QString &error);
    // Takes the time `followed` took into its printer's pace.
    void measure(const Followed &followed);
    void dropFinishedReprints();
    void logPrinterChanges();
    void recountToday();
    void save() const;
    void tellPortWhatToFollow();
    void say(const QString &notice, bool alert,
             const std::optional<PrintedPhoto> &again = std::nullopt);

    JobStore &m_store;
    PrinterPort &m_port;
    QString m_folder;
    PrintLedger m_ledger;
    QHash<int, PrintedPhoto> m_inFlight; // by ticket
    bool m_held = false;
    QList<quint64> m_heldRetirements; // the serials of jobs that may be complete
    QList<Followed> m_followed;
    QHash<QString, QString> m_loggedStates; // by printer
    QHash<QString, double> m_secondsPerPage; // measured, by printer
    QHash<QString, qint64> m_lastCompletedMs; // by printer
    QSet<int> m_moveTried; // CUPS jobs asked to move
    QString m_alert;
    std::optional<PrintedPhoto> m_alertPhoto; // a photo that failed twice, the alert's subject
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
