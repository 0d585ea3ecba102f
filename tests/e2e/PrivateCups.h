#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A CUPS scheduler of the test's own: configuration, spool, logs and local socket under a folder
// the test gives, clients of this process (libcups, Qt, and the admin programs started from here)
// pointed at it through CUPS_SERVER. Queues print with the cups-pdf backend into folders of the
// test. The scheduler can be stopped and started again on the same socket with the same queues,
// as after a restart of the print system. The scheduler runs the system's filters and backends
// from a folder of its own, where tests may add backends. Needs root: cupsd runs the cups-pdf
// backend as root, and the backend reads each queue's settings from /etc/cups/cups-pdf-NAME.conf.
class PrivateCups
{
public:
    // `root` must outlive this object; it is made readable by all, as the scheduler's filters
    // run as the lp user. Its parent folders must let lp through.
    explicit PrivateCups(const QString &root);
    // Stops the scheduler and removes the cups-pdf settings of its queues.
    ~PrivateCups();
    PrivateCups(const PrivateCups &) = delete;
    PrivateCups &operator=(const PrivateCups &) = delete;

    // Why no private scheduler can run here; "" when it can.
    static QString unavailableReason();

    // Starts the scheduler and waits until it answers, then adds (or sets up again) the queues
    // named in `queues`, as addPdfQueue does. The first start points CUPS_SERVER at its socket;
    // call it before anything in this process talks to CUPS, which reads the variable once. "" or
    // what went wrong.
    QString start(const QString &queues = {});
    // Stops the scheduler (SIGTERM) and waits for it to exit; it saves its queues on the way.
    bool stop();
    bool isRunning() const { return m_cupsd.state() == QProcess::Running; }
    qint64 pid() const { return m_cupsd.processId(); }

    // Queue `which`: 'a' (A5), 'b' (A4) or 'c' (Letter) as its default page, a cups-pdf queue
    // named after this process, enabled and accepting. "" or the error.
    QString addPdfQueue(char which);
    QString queue(char which) const;
    // The PDFs that queue `which` wrote ("job_<id>-<title>.pdf") with `titlePart` in their name.
    QStringList pdfs(char which, const QString &titlePart = {}) const;
    // Copies `program` into the scheduler's own backend folder as the backend of `scheme`
    // (after start()); it goes with the scheduler's folder. "" or the error.
    QString installBackend(const QString &scheme, const QString &program);
    // Runs lpadmin, cupsreject, cupsenable... against the scheduler; "" or why it failed.
    static QString admin(const QString &program, const QStringList &arguments);

    // Jobs of `queue` (every queue when empty) that are pending, held or processing.
    static int activeJobs(const QString &queue = {});
    // The final state of job `jobId` of `queue` once it left the queue; 0 on timeout.
    static int waitForJob(const QString &queue, int jobId, int timeoutMs = 120000);

private:
    QString makeServerBin();
    QString outFolder(char which) const { return m_root + "/out-" + QLatin1Char(which); }
    QString backendConfig(char which) const
    {
        return "/etc/cups/cups-pdf-" + queue(which) + ".conf";
    }

    QString m_root;
    bool m_configured = false;
    QProcess m_cupsd;
};
