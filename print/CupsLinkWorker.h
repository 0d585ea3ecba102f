#pragma once

#include "CupsLink.h"
#include "PrinterSnapshot.h"

#include <QDeadlineTimer>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

#include <cups/cups.h>

class QTimer;

// libcups waits this long for each part of an answer to the link's rounds, twice per request at
// most: a scheduler that accepts and never answers is given up within about a second.
inline constexpr double AnswerTimeoutSeconds = 0.5;

// Lives on the link's thread and does all the talking to CUPS there.
class CupsLinkWorker : public QObject
{
public:
    CupsLinkWorker(CupsLink *front, const QString &server)
        : m_front(front)
        , m_server(server)
    { }
    ~CupsLinkWorker() override { disconnect(); }

    void start();
    void round(quint64 request);
    void submit(int ticket, const QString &queue, const QString &instance, const QString &file,
                const QString &title);
    void setFollowed(const QList<int> &jobIds)
    {
        m_followed = QSet<int>(jobIds.begin(), jobIds.end());
    }

private:
    // A document whose submission ended without CUPS's answer: CUPS may hold it, as a job
    // bearing `tag` (`jobId` when Create-Job was answered), so it is looked for before the
    // document is submitted again.
    struct Unanswered
    {
        QString title;
        QByteArray tag;
        int jobId = 0;
    };
    // What CUPS holds of an unanswered submission.
    struct Held
    {
        bool answered = false; // false: CUPS could not be asked
        int jobId = 0; // 0: nothing
        QByteArray queue; // the job's
        bool waitsForDocument = false; // created, its document not yet taken
    };

    bool connect();
    void disconnect();
    // The answer to the request `make` builds, or nullptr when the scheduler did not answer.
    // A connection the scheduler has closed (a restart) is opened again once; a scheduler that
    // did not answer in time is not asked twice.
    ipp_t *call(const std::function<ipp_t *()> &make);
    // Each queue's state and page setup; `destinationsKey` changes with the set of queues and
    // the scheduler's default.
    bool readQueues(PrinterSnapshot &snapshot, QString &destinationsKey);
    bool readDestinations();
    bool readJobs(PrinterSnapshot &snapshot);
    QString address() const;
    static int giveUp(http_t *, void *data);

    // Submission (CupsSubmission.cpp). Each returns CUPS's job id, or 0 with `refusal`.
    int submitTo(const QByteArray &queue, int optionCount, cups_option_t *options,
                 const QString &file, const QString &title, QString &refusal);
    // Into job `jobId`, within the patience the caller has set.
    int sendDocument(const QByteArray &queue, int jobId, const QString &file, const QString &title,
                     QString &refusal);
    // Settles an unanswered submission of `title` before the document goes again: the job CUPS
    // holds for it, completed with the document when it has none; 0 when CUPS holds none (then
    // `refusal` is empty) or cannot tell.
    int settleUnanswered(qsizetype index, const QByteArray &queue, const QString &file,
                         QString &refusal);
    Held findUnanswered(const Unanswered &unanswered);
    void noteUnanswered(const QString &title, const QByteArray &tag, int jobId);
    QString notAnswering() const;
    QString unanswered() const;

    CupsLink *m_front; // outlives the link's thread
    QString m_server;
    QByteArray m_host;
    int m_port = 0;
    http_t *m_http = nullptr;
    bool m_timedOut = false;
    QDeadlineTimer m_patience; // while a submission waits for CUPS (expired otherwise)
    QSet<int> m_followed;
    QList<Unanswered> m_unanswered;
    QStringList m_queues;
    QString m_defaultQueue;
    QString m_destinationsKey; // of the queues last read with the destinations
    quint64 m_destinationsRequest = 0;
    int m_roundsSinceDestinations = 0;
    quint64 m_generation = 0;
    quint64 m_request = 0;
    QTimer *m_timer = nullptr;
};
