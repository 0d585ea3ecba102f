#include "CupsLink.h"

#include "CupsAttributes.h"
#include "CupsLinkWorker.h"
#include "PrinterStatus.h"

#include <QFile>
#include <QTimer>

#include <pthread.h>
#include <signal.h>

namespace {

constexpr int RoundIntervalMs = 1000;
constexpr int ConnectTimeoutMs = 1000;

// libcups's list of destinations (lpoptions instances, the user's default) is read again at
// least this often, in rounds; sooner when the scheduler's queues or default change.
constexpr int DestinationsEveryRounds = 10;

} // namespace

int CupsLinkWorker::giveUp(http_t *, void *data)
{
    auto *worker = static_cast<CupsLinkWorker *>(data);
    if (!worker->m_patience.hasExpired())
        return 1; // a submission, which waits longer
    worker->m_timedOut = true;
    return 0;
}

void CupsLinkWorker::start()
{
    // A scheduler that drops the connection must not end the station with SIGPIPE: blocked on
    // this thread, the write fails with EPIPE instead.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    if (m_server.isEmpty()) {
        m_host = cupsServer();
        m_port = ippPort();
    } else if (m_server.startsWith(QLatin1Char('/'))) {
        m_host = QFile::encodeName(m_server);
    } else {
        m_host = m_server.section(QLatin1Char(':'), 0, 0).toUtf8();
        m_port = m_server.section(QLatin1Char(':'), 1).toInt();
        if (m_port <= 0)
            m_port = ippPort();
    }
    m_timer = new QTimer(this);
    m_timer->setInterval(RoundIntervalMs);
    QObject::connect(m_timer, &QTimer::timeout, this, [this] { round(m_request); });
    m_timer->start();
    round(m_request);
}

QString CupsLinkWorker::address() const
{
    const QString host = QString::fromUtf8(m_host);
    return host.startsWith(QLatin1Char('/')) ? host
                                             : host + QLatin1Char(':') + QString::number(m_port);
}

bool CupsLinkWorker::connect()
{
    if (m_http)
        return true;
    m_http = httpConnect2(m_host.constData(), m_port, nullptr, AF_UNSPEC, cupsEncryption(), 1,
                          ConnectTimeoutMs, nullptr);
    if (m_http)
        httpSetTimeout(m_http, AnswerTimeoutSeconds, &CupsLinkWorker::giveUp, this);
    return m_http != nullptr;
}

void CupsLinkWorker::disconnect()
{
    httpClose(m_http);
    m_http = nullptr;
}

ipp_t *CupsLinkWorker::call(const std::function<ipp_t *()> &make)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connect())
            return nullptr;
        m_timedOut = false;
        if (ipp_t *response = cupsDoRequest(m_http, make(), "/"))
            return response;
        disconnect();
        if (m_timedOut)
            break;
    }
    return nullptr;
}

bool CupsLinkWorker::readQueues(PrinterSnapshot &snapshot, QString &destinationsKey)
{
    ipp_t *response = call([] {
        ipp_t *request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                      int(std::size(CupsAttributes::PrinterAttributes)), nullptr,
                      CupsAttributes::PrinterAttributes);
        return request;
    });
    if (!response)
        return false;
    QString serverDefault;
    for (ipp_attribute_t *attr = ippFirstAttribute(response); attr;
         attr = ippNextAttribute(response)) {
        if (ippGetGroupTag(attr) != IPP_TAG_PRINTER)
            continue;
        QString name;
        bool isDefault = false;
        const QueueStatus queue = CupsAttributes::readQueue(attr, response, name, isDefault);
        if (!name.isEmpty())
            snapshot.status.insert(name, queue);
        if (isDefault)
            serverDefault = name;
        if (!attr)
            break;
    }
    ippDelete(response);
    QStringList names = snapshot.status.keys();
    names.sort();
    destinationsKey = names.join(QLatin1Char('/')) + QLatin1Char('|') + serverDefault;
    return true;
}

bool CupsLinkWorker::readDestinations()
{
    // libcups's own list, as lp and the print dialogs see it: lpoptions instances, and the
    // user's default before the scheduler's.
    m_timedOut = false;
    cups_dest_t *dests = nullptr;
    const int count = cupsGetDests2(m_http, &dests);
    if (m_timedOut) {
        cupsFreeDests(count, dests);
        disconnect();
        return false;
    }
    m_queues.clear();
    m_defaultQueue.clear();
    for (int i = 0; i < count; ++i) {
        QString name = QString::fromUtf8(dests[i].name);
        if (dests[i].instance)
            name += QLatin1Char('/') + QString::fromUtf8(dests[i].instance);
        m_queues << name;
        if (dests[i].is_default)
            m_defaultQueue = name;
    }
    cupsFreeDests(count, dests);
    return true;
}

bool CupsLinkWorker::readJobs(PrinterSnapshot &snapshot)
{
    if (m_followed.isEmpty())
        return true;
    // The jobs not yet ended in one request; each followed job missing there has ended and
    // is asked for once, for how.
    ipp_t *response = call([] {
        ipp_t *request = ippNewRequest(IPP_OP_GET_JOBS);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     "ipp://localhost/");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                     "not-completed");
        const char *const wanted[] = { "job-id", "job-state" };
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2,
                      nullptr, wanted);
        return request;
    });
    if (!response)
        return false;
    int id = 0;
    for (ipp_attribute_t *attr = ippFirstAttribute(response); attr;
         attr = ippNextAttribute(response)) {
        const char *name = ippGetName(attr);
        if (!name)
            id = 0;
        else if (!strcmp(name, "job-id"))
            id = ippGetInteger(attr, 0);
        else if (!strcmp(name, "job-state") && m_followed.contains(id))
            snapshot.jobStates.insert(id, ippGetInteger(attr, 0));
    }
    ippDelete(response);

    for (const int job : std::as_const(m_followed)) {
        if (snapshot.jobStates.contains(job))
            continue;
        response = call([job] {
            ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         "ipp://localhost/");
            ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                         nullptr, "job-state");
            return request;
        });
        if (!response)
            return false;
        // Only "not found" means CUPS forgot the job; an answer without its state for another
        // reason (busy, refused) says nothing of it, and it is asked for again next round.
        if (ipp_attribute_t *state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM))
            snapshot.jobStates.insert(job, ippGetInteger(state, 0));
        else if (ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND)
            snapshot.jobStates.insert(job, int(JobUnknown));
        ippDelete(response);
    }
    return true;
}

void CupsLinkWorker::round(quint64 request)
{
    request = m_request = std::max(m_request, request);
    PrinterSnapshot snapshot;
    snapshot.generation = ++m_generation;
    snapshot.server = address();
    QString destinationsKey;
    snapshot.answering = readQueues(snapshot, destinationsKey);
    if (snapshot.answering
        && (request > m_destinationsRequest || destinationsKey != m_destinationsKey
            || ++m_roundsSinceDestinations >= DestinationsEveryRounds)) {
        snapshot.answering = readDestinations();
        m_destinationsKey = snapshot.answering ? destinationsKey : QString();
        m_destinationsRequest = request;
        m_roundsSinceDestinations = 0;
    }
    snapshot.queues = m_queues;
    snapshot.defaultQueue = m_defaultQueue;
    snapshot.answering = snapshot.answering && readJobs(snapshot);
    if (!snapshot.answering) {
        m_destinationsKey.clear();
        snapshot.queues.clear();
        snapshot.defaultQueue.clear();
        snapshot.status.clear();
        snapshot.jobStates.clear();
    }
    QMetaObject::invokeMethod(
        m_front, [front = m_front, snapshot, request] { front->takeSnapshot(snapshot, request); },
        Qt::QueuedConnection);
}

CupsLink::CupsLink(const QString &server, QObject *parent)
    : QObject(parent)
    , m_worker(new CupsLinkWorker(this, server))
{
    m_thread.setObjectName(QStringLiteral("CUPS link"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::started, m_worker, [worker = m_worker] { worker->start(); });
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

CupsLink::~CupsLink()
{
    // The round or submission under way ends within its timeouts; documents still waiting
    // for their turn are never submitted, and their spool files go.
    m_thread.quit();
    m_thread.wait();
    for (const QString &file : std::as_const(m_waitingFiles))
        QFile::remove(file);
}

PrinterSnapshot CupsLink::snapshot() const
{
    if (m_snapshot.answering && m_sinceSnapshot.isValid()
        && m_sinceSnapshot.elapsed() > StaleAfterMs) {
        PrinterSnapshot stale;
        stale.generation = m_snapshot.generation;
        stale.server = m_snapshot.server;
        return stale;
    }
    return m_snapshot;
}

int CupsLink::submit(const QString &queue, const QString &instance, const QString &file,
                     const QString &title)
{
    const int ticket = ++m_lastTicket;
    m_waitingFiles.insert(ticket, file);
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, ticket, queue, instance, file, title] {
            worker->submit(ticket, queue, instance, file, title);
        },
        Qt::QueuedConnection);
    return ticket;
}

void CupsLink::setFollowedJobs(const QList<int> &jobIds)
{
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, jobIds] { worker->setFollowed(jobIds); },
        Qt::QueuedConnection);
}

void CupsLink::refreshNow()
{
    const quint64 request = ++m_lastRequest;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, request] { worker->round(request); }, Qt::QueuedConnection);
}

bool CupsLink::idle() const
{
    return m_waitingFiles.isEmpty() && m_answeredRequest >= m_lastRequest;
}

void CupsLink::takeSnapshot(const PrinterSnapshot &snapshot, quint64 answersRequest)
{
    m_snapshot = snapshot;
    m_sinceSnapshot.start();
    m_answeredRequest = std::max(m_answeredRequest, answersRequest);
    emit snapshotChanged();
}

void CupsLink::takeAnswer(int ticket, int jobId, const QString &refusal)
{
    m_waitingFiles.remove(ticket);
    emit documentAnswered(ticket, jobId, refusal);
}
