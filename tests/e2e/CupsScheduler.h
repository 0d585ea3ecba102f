#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private CUPS scheduler for one test run: its own configuration, spool, logs and port in a
// temporary folder, and cups-pdf queues whose PDFs land in folders of that run. Needs root,
// since cupsd runs the cups-pdf backend as root and the backend reads its per-queue settings
// from /etc/cups/cups-pdf-NAME.conf.
class CupsScheduler
{
public:
    CupsScheduler();
    ~CupsScheduler();
    CupsScheduler(const CupsScheduler &) = delete;
    CupsScheduler &operator=(const CupsScheduler &) = delete;

    // Starts cupsd and waits until it answers; "" on success, else what went wrong.
    QString start();
    void stop();
    // "localhost:PORT", for CUPS_SERVER.
    QString server() const;

    // Adds a cups-pdf queue named `name` with `paper` as its default page size; its PDFs go
    // to outputFolder(name).
    QString addPdfQueue(const QString &name, const QString &paper);
    QString outputFolder(const QString &name) const;
    // Runs an admin tool (lpadmin, cupsreject...) against this scheduler.
    QString run(const QString &program, const QStringList &arguments) const;

private:
    QTemporaryDir m_root;
    QProcess m_cupsd;
    int m_port = 0;
    QStringList m_queueConfigs;
};
