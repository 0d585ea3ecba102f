#include "CupsLinkWorker.h"

#include "PrinterPort.h"

#include <QFile>
#include <QScopeGuard>
#include <QUuid>

#include <algorithm>

#include <cstring>

namespace {

// Create-Job and Send-Document wait this long in all for CUPS's answers, where the link's rounds
// give up after half a second: a scheduler busy with other documents, or on a slow PC, may take
// seconds, and a document given up on while CUPS takes it could be printed twice.
constexpr int SubmissionPatienceMs = 40000;
static_assert(SubmissionPatienceMs + 5000 <= PrinterPort::AnswerWithinMs);

// The job attribute that names a submission, so that it can be found again when its answer was
// lost. CUPS keeps the attributes a client gives with its job.
constexpr const char *TagAttribute = "zelvo-submission";
// Unanswered submissions remembered; older ones are forgotten.
constexpr qsizetype UnansweredKept = 32;

bool succeeded(ipp_status_t status)
{
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

QByteArray printerResource(const QByteArray &queue)
{
    return "/printers/" + queue;
}

} // namespace

QString CupsLinkWorker::notAnswering() const
{
    return QStringLiteral("the CUPS scheduler (%1) is not answering").arg(address());
}

QString CupsLinkWorker::unanswered() const
{
    return QStringLiteral("the CUPS scheduler (%1) did not answer%2; it is asked whether it has "
                          "the document before that is sent again")
        .arg(address(), m_timedOut ? QStringLiteral(" in time") : QString());
}

void CupsLinkWorker::submit(int ticket, const QString &queue, const QString &instance,
                            const QString &file, const QString &title)
{
    const QByteArray queueName = queue.toUtf8();
    const QByteArray instanceName = instance.toUtf8();
    int job = 0;
    QString refusal;
    // The scheduler is asked first whether it answers at all: libcups says "no such queue" as
    // well when nobody answers.
    ipp_t *ping = call([] { return ippNewRequest(IPP_OP_CUPS_GET_DEFAULT); });
    ippDelete(ping);
    cups_dest_t *dest = nullptr;
    if (ping) {
        m_timedOut = false;
        dest = cupsGetNamedDest(m_http, queueName.constData(),
                                instanceName.isEmpty() ? nullptr : instanceName.constData());
    }
    if (!ping || m_timedOut) {
        refusal = notAnswering();
    } else if (!dest) {
        refusal = QStringLiteral("CUPS has no queue named '%1'").arg(queue);
    } else {
        // A document whose earlier submission went unanswered may be in CUPS already.
        const auto earlier = std::find_if(m_unanswered.cbegin(), m_unanswered.cend(),
                                          [&](const Unanswered &u) { return u.title == title; });
        if (earlier != m_unanswered.cend())
            job = settleUnanswered(earlier - m_unanswered.cbegin(), queueName, file, refusal);
        if (job == 0 && refusal.isEmpty()) {
            // "queue/instance" prints with the options of that lpoptions instance, as lp does.
            int optionCount = 0;
            cups_option_t *options = nullptr;
            for (int i = 0; i < dest->num_options; ++i)
                optionCount = cupsAddOption(dest->options[i].name, dest->options[i].value,
                                            optionCount, &options);
            job = submitTo(queueName, optionCount, options, file, title, refusal);
            cupsFreeOptions(optionCount, options);
        }
    }
    cupsFreeDests(dest ? 1 : 0, dest);
    QFile::remove(file);
    if (job > 0)
        m_followed.insert(job);
    QMetaObject::invokeMethod(
        m_front,
        [front = m_front, ticket, job, refusal] { front->takeAnswer(ticket, job, refusal); },
        Qt::QueuedConnection);
}

int CupsLinkWorker::submitTo(const QByteArray &queue, int optionCount, cups_option_t *options,
                             const QString &file, const QString &title, QString &refusal)
{
    const QByteArray tag = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const QByteArray name = title.toUtf8();
    ipp_t *request = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 ("ipp://localhost" + printerResource(queue)).constData());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.constData());
    cupsEncodeOptions2(request, optionCount, options, IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, optionCount, options, IPP_TAG_JOB);
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_TEXT, TagAttribute, nullptr, tag.constData());

    m_timedOut = false;
    m_patience = QDeadlineTimer(SubmissionPatienceMs); // for the document too
    const auto impatient = qScopeGuard([this] { m_patience = QDeadlineTimer(); });
    ipp_t *response = cupsDoRequest(m_http, request, printerResource(queue).constData());
    if (!response) {
        // Sent, perhaps taken, but not answered: looked for before the document goes again.
        refusal = unanswered();
        disconnect();
        noteUnanswered(title, tag, 0);
        return 0;
    }
    ipp_attribute_t *id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
    const int job = id && succeeded(ippGetStatusCode(response)) ? ippGetInteger(id, 0) : 0;
    ippDelete(response);
    if (job <= 0) {
        refusal = QString::fromUtf8(cupsLastErrorString());
        return 0;
    }
    if (sendDocument(queue, job, file, title, refusal) > 0)
        return job;
    noteUnanswered(title, tag, job);
    return 0;
}

int CupsLinkWorker::sendDocument(const QByteArray &queue, int jobId, const QString &file,
                                 const QString &title, QString &refusal)
{
    QFile document(file);
    if (!document.open(QIODevice::ReadOnly)) {
        refusal = QStringLiteral("cannot read '%1': %2").arg(file, document.errorString());
        return 0;
    }
    m_timedOut = false;
    bool sent = cupsStartDocument(m_http, queue.constData(), jobId, title.toUtf8().constData(),
                                  CUPS_FORMAT_PDF, 1)
        == HTTP_STATUS_CONTINUE;
    char buffer[65536];
    for (qint64 n = 0; sent && (n = document.read(buffer, sizeof buffer)) > 0;)
        sent = cupsWriteRequestData(m_http, buffer, size_t(n)) == HTTP_STATUS_CONTINUE;
    // Read in any case, so that the connection is left between requests, or is given up.
    ipp_t *response = cupsGetResponse(m_http, printerResource(queue).constData());
    const bool answered = response && succeeded(ippGetStatusCode(response));
    ippDelete(response);
    if (sent && answered)
        return jobId;
    refusal = response ? QString::fromUtf8(cupsLastErrorString()) : unanswered();
    disconnect();
    return 0;
}

int CupsLinkWorker::settleUnanswered(qsizetype index, const QByteArray &queue, const QString &file,
                                     QString &refusal)
{
    const Unanswered unanswered = m_unanswered[index];
    const Held held = findUnanswered(unanswered);
    if (!held.answered) {
        refusal = QStringLiteral("%1; it is not known whether CUPS holds '%2' from before")
                      .arg(notAnswering(), unanswered.title);
        return 0;
    }
    m_unanswered.removeAt(index);
    if (held.jobId <= 0)
        return 0; // CUPS never took it
    if (!held.waitsForDocument)
        return held.jobId;
    // Created, and still waiting for its document: the document goes into that job.
    m_patience = QDeadlineTimer(SubmissionPatienceMs);
    const auto impatient = qScopeGuard([this] { m_patience = QDeadlineTimer(); });
    // Into the job's own queue: Setup may have chosen another printer meanwhile.
    const QByteArray jobQueue = held.queue.isEmpty() ? queue : held.queue;
    if (sendDocument(jobQueue, held.jobId, file, unanswered.title, refusal) == 0) {
        noteUnanswered(unanswered.title, unanswered.tag, held.jobId);
        return 0;
    }
    return held.jobId;
}

CupsLinkWorker::Held CupsLinkWorker::findUnanswered(const Unanswered &unanswered)
{
    Held held;
    ipp_t *response = call([] {
        ipp_t *request = ippNewRequest(IPP_OP_GET_JOBS);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     "ipp://localhost/");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                     cupsUser());
        ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
        const char *const wanted[]
            = { "job-id", "job-printer-uri", "job-state-reasons", TagAttribute };
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                      int(std::size(wanted)), nullptr, wanted);
        return request;
    });
    if (!response || !succeeded(ippGetStatusCode(response))) {
        ippDelete(response);
        return held;
    }
    held.answered = true;
    Held job;
    bool tagged = false;
    // One group per job; a null name ends a group.
    for (ipp_attribute_t *attr = ippFirstAttribute(response);; attr = ippNextAttribute(response)) {
        const char *name = attr ? ippGetName(attr) : nullptr;
        if (!name) {
            if (tagged || (unanswered.jobId > 0 && job.jobId == unanswered.jobId)) {
                held = job;
                held.answered = true;
                break;
            }
            job = Held();
            tagged = false;
            if (!attr)
                break;
        } else if (!std::strcmp(name, "job-id")) {
            job.jobId = ippGetInteger(attr, 0);
        } else if (!std::strcmp(name, "job-printer-uri")) {
            const QByteArray uri = ippGetString(attr, 0, nullptr);
            const qsizetype at = uri.lastIndexOf("/printers/");
            job.queue = at < 0 ? QByteArray() : uri.mid(at + 10);
        } else if (!std::strcmp(name, "job-state-reasons")) {
            for (int i = 0; i < ippGetCount(attr); ++i)
                job.waitsForDocument = job.waitsForDocument
                    || qstrcmp(ippGetString(attr, i, nullptr), "job-incoming") == 0;
        } else if (!std::strcmp(name, TagAttribute)) {
            tagged = unanswered.tag == ippGetString(attr, 0, nullptr);
        }
    }
    ippDelete(response);
    return held;
}

void CupsLinkWorker::noteUnanswered(const QString &title, const QByteArray &tag, int jobId)
{
    m_unanswered.removeIf([&](const Unanswered &u) { return u.title == title; });
    m_unanswered << Unanswered { title, tag, jobId };
    if (m_unanswered.size() > UnansweredKept)
        m_unanswered.removeFirst();
}
