#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A CUPS scheduler of the test's own: configuration, spool, logs and port under a folder the
// test gives, clients of this process (libcups, Qt, and the admin programs started from here)
// pointed at it through CUPS_SERVER. Queues print with the cups-pdf backend into folders of the
// test. The scheduler can be stopped and started again on the same port with the same queues,
// as after a restart of the print system. Needs root: cupsd runs the cups-pdf backend as root,
// and the backend reads each queue's settings from /etc/cups/cups-pdf-NAME.conf.
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

    // Starts the scheduler and waits until it answers. The first start picks a free port and
    // points CUPS_SERVER at it; call it before anything in this process talks to CUPS, which
    // reads the variable once. "" or what went wrong.
    QString start();
    // Stops the scheduler (SIGTERM) and waits for it to exit; it saves its queues on the way.
    bool stop();
    bool isRunning() const { return m_cupsd.state() == QProcess::Running; }

    // A cups-pdf queue with `paper` as its default page size, enabled and accepting, writing its
    // PDFs into `outFolder` (created here), each named "job_<id>-<title>.pdf". "" or the error.
    QString addPdfQueue(const QString &name, const QString &paper, const QString &outFolder);
    // Runs lpadmin, cupsreject, cupsenable... against the scheduler; "" or why it failed.
    static QString admin(const QString &program, const QStringList &arguments);

    // Jobs of `queue` (every queue when empty) that are pending, held or processing.
    static int activeJobs(const QString &queue = {});
    // The final state of job `jobId` of `queue` once it left the queue; 0 on timeout.
    static int waitForJob(const QString &queue, int jobId, int timeoutMs = 120000);
    // Waits until no queue has an active job; false on timeout.
    static bool waitUntilIdle(int timeoutMs);

private:
    QString m_root;
    int m_port = 0;
    QProcess m_cupsd;
    QStringList m_backendConfigs;
};
