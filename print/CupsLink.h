#pragma once

#include "PrinterSnapshot.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

class CupsLinkWorker;

// The station's one link to CUPS. Every conversation with the scheduler runs on the link's own
// thread, over its own connection, so that a scheduler that is slow, gone or hanging never holds
// up the interface thread. About once a second the link asks, with short timeouts, for the
// queues, the default queue, each queue's state, markers, waiting jobs and page setup, and the
// state of every job the station follows, and posts it as a snapshot; documents are submitted
// in turn between those rounds, with the time a busy scheduler needs (within
// PrinterPort::AnswerWithinMs). A submission whose answer is lost is looked for in CUPS before
// a document of the same title is submitted again. Everything here is called on the interface
// thread and returns at once.
class CupsLink : public QObject
{
    Q_OBJECT

public:
    // A round that has not ended after this long counts as no answer.
    static constexpr int StaleAfterMs = 5000;

    // `server` is a host, "host:port" or a local socket's path; "" takes libcups's own choice
    // (CUPS_SERVER, client.conf). The link starts at once.
    explicit CupsLink(const QString &server = {}, QObject *parent = nullptr);
    ~CupsLink() override;
    CupsLink(const CupsLink &) = delete;
    CupsLink &operator=(const CupsLink &) = delete;

    // The latest snapshot; not answering when the link has posted none for StaleAfterMs.
    PrinterSnapshot snapshot() const;

    // Hands the PDF at `file` to `queue` (with the options of its lpoptions `instance`, "" for
    // none) under `title`; the link removes the file afterwards, also when it closes before
    // submitting it. Returns the ticket that documentAnswered() will carry. The job is followed
    // from then on.
    int submit(const QString &queue, const QString &instance, const QString &file,
               const QString &title);
    // The CUPS jobs whose states the snapshots report, replacing the earlier ones.
    void setFollowedJobs(const QList<int> &jobIds);
    // Asks for a round now rather than at the next second.
    void refreshNow();
    // No document waits for its answer and every round asked for has been posted.
    bool idle() const;

signals:
    void snapshotChanged();
    // CUPS took the document as job `jobId`, or refused it (jobId 0) for `refusal`.
    void documentAnswered(int ticket, int jobId, const QString &refusal);

private:
    friend class CupsLinkWorker;
    void takeSnapshot(const PrinterSnapshot &snapshot, quint64 answersRequest);
    void takeAnswer(int ticket, int jobId, const QString &refusal);

    QThread m_thread;
    CupsLinkWorker *m_worker;
    PrinterSnapshot m_snapshot;
    QElapsedTimer m_sinceSnapshot;
    int m_lastTicket = 0;
    QHash<int, QString> m_waitingFiles; // ticket → the spool file handed over
    quint64 m_lastRequest = 0;
    quint64 m_answeredRequest = 0;
};
