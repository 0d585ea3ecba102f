#include "PrintTracker.h"

#include "Dispatcher.h"
#include "JobFileSystem.h"
#include "ModConf.h"
#include "PageGeometry.h"
#include "PrinterPort.h"
#include "QueueCommands.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTimer>

#include <limits>

Q_LOGGING_CATEGORY(lcTracker, "zelvo.tracker")
Q_LOGGING_CATEGORY(lcPrinters, "zelvo.printers")

namespace {

const char *const SizeNames[3] = { "10x15", "13x18", "15x23" };

QString paperSizeName(int code)
{
    return code >= 0 && code < 3 ? QLatin1String(SizeNames[code]) : QString::number(code);
}

// The order a job file belongs to: its name without the status digit and the extension.
QString orderOf(const QString &jobFileName)
{
    return jobFileName.mid(1, jobFileName.size() - 5);
}

QString endedWord(int state)
{
    return state == JobAborted ? QStringLiteral("abortado") : QStringLiteral("cancelado");
}

QJsonObject toJson(const PrintedPhoto &p)
{
    return { { "file", p.fileName },
             { "key", p.listKey },
             { "prefix", p.orderPrefix },
             { "urgent", p.urgent },
             { "photoIndex", p.photoIndex },
             { "image", p.photo.imageFileName },
             { "number", p.photo.photoNumber },
             { "paperSize", p.photo.paperSize },
             { "copies", p.photo.copies },
             { "amount", p.photo.amount },
             { "systemFolder", p.systemFolder },
             { "printer", p.printer },
             { "reprint", p.reprint } };
}

PrintedPhoto printedFromJson(const QJsonObject &o)
{
    PrintedPhoto p;
    p.fileName = o["file"].toString();
    p.listKey = o["key"].toString();
    p.orderPrefix = o["prefix"].toString();
    p.urgent = o["urgent"].toBool();
    p.photoIndex = o["photoIndex"].toInt();
    p.photo.imageFileName = o["image"].toString();
    p.photo.photoNumber = o["number"].toString();
    p.photo.paperSize = int16_t(o["paperSize"].toInt());
    p.photo.copies = int16_t(o["copies"].toInt());
    p.photo.amount = o["amount"].toDouble();
    p.systemFolder = o["systemFolder"].toString();
    p.printer = o["printer"].toString();
    p.reprint = o["reprint"].toBool();
    return p;
}

} // namespace

PrintTracker::PrintTracker(JobStore &store, PrinterPort &port, const QString &folder,
                           QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_port(port)
    , m_folder(folder)
    , m_ledger(folder)
{
    connect(&m_port.events, &PrinterPortEvents::documentAnswered, this, &PrintTracker::takeAnswer);
    connect(&m_port.events, &PrinterPortEvents::snapshotChanged, this, &PrintTracker::takeSnapshot);
    // Print now on the photo in flight would print it a second time.
    m_store.photoOnItsWay = [this](quint64 serial, int photoIndex) {
        return m_inFlight && m_inFlight->second.serial == serial
            && m_inFlight->second.photoIndex == photoIndex;
    };
    recountToday();
}

PrintTracker::~PrintTracker()
{
    m_store.photoOnItsWay = nullptr;
}

QString PrintTracker::stateFile() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(StateFileName);
}

void PrintTracker::restore()
{
    QFile file(stateFile());
    if (!file.open(QIODevice::ReadOnly))
        return;
    QJsonParseError error;
    const QJsonDocument state = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        qCWarning(lcTracker, "'%s' cannot be read (%s): the CUPS jobs it followed are not",
                  qUtf8Printable(stateFile()), qUtf8Printable(error.errorString()));
    const QJsonArray jobs = state.object()["jobs"].toArray();
    for (const QJsonValue &value : jobs) {
        const QJsonObject o = value.toObject();
        Followed followed { printedFromJson(o), o["cupsJob"].toInt(),
                            QDate::fromString(o["day"].toString(), Qt::ISODate),
                            o["reprintKey"].toString(), o["reprintImage"].toString() };
        if (followed.cupsJobId == 0) {
            // A reprint the earlier run had queued: listed again while its copy still waits in
            // images/ (a retired or removed one has gone to backup).
            const QString copy = JobFs::joinPath(
                JobFs::joinPath(followed.printed.systemFolder, QStringLiteral("images")),
                followed.reprintImage);
            if (!JobFs::isFile(copy) || !hasRoomForJob(m_store))
                continue;
            JobRecord urgent;
            urgent.fileName = followed.printed.fileName;
            urgent.orderPrefix = followed.printed.orderPrefix;
            urgent.systemFolder = followed.printed.systemFolder;
            urgent.photos.push_back(followed.printed.photo);
            urgent.photos.front().imageFileName = followed.reprintImage;
            followed.reprintKey = insertUrgentJob(m_store, std::move(urgent), true);
        }
        m_followed << followed;
    }
    qCInfo(lcTracker, "Following %d CUPS jobs and reprints of the earlier run",
           int(m_followed.size()));
    tellPortWhatToFollow();
    save();
}

void PrintTracker::awaitAnswer(int ms)
{
    if (!m_inFlight)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    connect(this, &PrintTracker::changed, &loop, [this, &loop] {
        if (!m_inFlight)
            loop.quit();
    });
    loop.exec();
}

void PrintTracker::expectAnswer(int ticket, const PrintedPhoto &photo)
{
    m_inFlight = std::make_pair(ticket, photo);
}

void PrintTracker::holdQueue(bool held)
{
    m_held = held;
    if (held)
        return;
    if (const auto serial = std::exchange(m_heldRetirement, std::nullopt))
        RetireIfPrinted(m_store, *serial);
    takeSnapshot(); // the jobs that ended meanwhile
}

void PrintTracker::takeAnswer(int ticket, int jobId)
{
    if (!m_inFlight || m_inFlight->first != ticket)
        return;
    const PrintedPhoto printed = m_inFlight->second;
    m_inFlight.reset();
    if (jobId > 0) {
        // Recorded at once, whatever is open: a crash must not print it again.
        AcceptPrintedPhoto(m_store, printed, !m_held);
        if (m_held)
            m_heldRetirement = printed.serial;
        photoAccepted(printed, jobId);
    } else {
        NotePhotoRefused();
    }
    emit changed();
}

QString PrintTracker::notice() const
{
    const PhotoAlert *latest = nullptr;
    for (const PhotoAlert &alert : m_photoAlerts) {
        if (!latest || alert.order > latest->order)
            latest = &alert;
    }
    if (latest && (m_alertCount == 0 || latest->order > m_latestOtherAlert))
        return latest->text;
    return m_alertCount > 0 ? m_alert : m_notice;
}

int PrintTracker::alertCount() const
{
    return int(std::min<qint64>(qint64(m_alertCount) + m_photoAlerts.size(),
                                std::numeric_limits<int>::max()));
}

void PrintTracker::photoWaiting(const QString &path, const QString &notice)
{
    m_photoAlerts.insert(path, PhotoAlert { notice, ++m_alertOrder });
    emit changed();
}

void PrintTracker::photoAccepted(const PrintedPhoto &photo, int cupsJobId)
{
    m_photoAlerts.remove(photo.systemFolder + QStringLiteral("/images/")
                         + photo.photo.imageFileName);
    PrintedPhoto printed = photo;
    // The reprint of a job CUPS lost has gone out: from now on it is followed as itself.
    for (qsizetype i = 0; i < m_followed.size(); ++i) {
        const Followed &f = m_followed[i];
        if (f.cupsJobId == 0 && printed.urgent && f.reprintKey == printed.listKey
            && f.reprintImage == printed.photo.imageFileName) {
            printed.reprint = true;
            m_followed.removeAt(i);
            break;
        }
    }
    // One reading: a row written at midnight must not land in the day before stamped 00:00:00.
    const QDateTime accepted = now();
    const QDate today = accepted.date();
    m_ledger.add(today,
                 LedgerRow { accepted.time(), orderOf(printed.fileName),
                             printed.photo.imageFileName, paperSizeName(printed.photo.paperSize),
                             printed.photo.copies, printed.printer, cupsJobId,
                             cupsJobId > 0 ? PrintLedger::Sent : PrintLedger::Completed });
    if (cupsJobId > 0) {
        m_followed << Followed { printed, cupsJobId, today, {}, {} };
        tellPortWhatToFollow();
    }
    recountToday();
    save();
    emit changed();
}

void PrintTracker::takeSnapshot()
{
    const PrinterSnapshot snapshot = m_port.snapshot();
    bool anyEnded = false;
    for (qsizetype i = 0; snapshot.answering && !m_held && i < m_followed.size();) {
        const int state = snapshot.jobStates.value(m_followed[i].cupsJobId, -1);
        if (m_followed[i].cupsJobId <= 0 || !(state == JobUnknown || state >= JobCanceled)) {
            ++i;
            continue;
        }
        anyEnded = true;
        if (jobEnded(m_followed[i], state))
            ++i;
        else
            m_followed.removeAt(i);
    }
    if (anyEnded) {
        recountToday();
        save();
        tellPortWhatToFollow();
    }
    dropFinishedReprints();
    if (m_tallyDay != QDate::currentDate())
        recountToday();
    logPrinterChanges();
    emit changed();
}

bool PrintTracker::jobEnded(Followed &followed, int state)
{
    const PrintedPhoto &p = followed.printed;
    const QString photo = p.photo.imageFileName;
    const QString ledgerState = state == JobCompleted ? PrintLedger::Completed
        : state == JobAborted                         ? PrintLedger::Aborted
        : state == JobCanceled                        ? PrintLedger::Canceled
                                                      : PrintLedger::Unknown;
    m_ledger.setState(followed.day, p.printer, followed.cupsJobId, ledgerState);
    if (state == JobUnknown)
        qCWarning(lcTracker, "CUPS no longer knows job %d on '%s' ('%s'): it is not followed",
                  followed.cupsJobId, qUtf8Printable(p.printer), qUtf8Printable(photo));
    if (state == JobAborted || state == JobCanceled) {
        const QString why = QStringLiteral("trabalho %1 %2 em %3")
                                .arg(followed.cupsJobId)
                                .arg(endedWord(state), p.printer);
        if (p.reprint) {
            qCWarning(lcTracker,
                      "CUPS job %d on '%s' ('%s', a reprint) was %s too: it is not "
                      "printed again",
                      followed.cupsJobId, qUtf8Printable(p.printer), qUtf8Printable(photo),
                      state == JobAborted ? "aborted" : "canceled");
            say(QStringLiteral("Não impressa: %1 falhou de novo (%2)").arg(photo, why), true);
        } else {
            return queueReprint(followed, why);
        }
    }
    return false;
}

bool PrintTracker::queueReprint(Followed &followed, const QString &why)
{
    const PrintedPhoto &p = followed.printed;
    JobRecord source;
    source.fileName = p.fileName;
    source.orderPrefix = p.orderPrefix;
    source.systemFolder = p.systemFolder;
    const auto reprint = QueueReprint(m_store, source, p.photo);
    if (!reprint) {
        say(QStringLiteral("Não reimpressa: %1 (%2); a foto não foi encontrada")
                .arg(p.photo.imageFileName, why),
            true);
        return false;
    }
    qCWarning(lcTracker, "CUPS job %d on '%s' did not print '%s': it is printed again as '%s'",
              followed.cupsJobId, qUtf8Printable(p.printer), qUtf8Printable(p.photo.imageFileName),
              qUtf8Printable(reprint->listKey));
    say(QStringLiteral("Reimpressão automática: %1 (%2)").arg(p.photo.imageFileName, why), false);
    followed.cupsJobId = 0;
    followed.reprintKey = reprint->listKey;
    followed.reprintImage = reprint->imageFileName;
    return true;
}

void PrintTracker::dropFinishedReprints()
{
    // A queued reprint the operator removed has left the queue without being printed.
    const auto queued = [this](const Followed &f) {
        for (int32_t i = 0; i < m_store.jobCount && size_t(i) < m_store.printJobs.size(); ++i) {
            const JobRecord &job = m_store.printJobs[size_t(i)];
            if (job.urgent && job.listKey == f.reprintKey && !job.photos.empty()
                && job.photos.front().imageFileName == f.reprintImage)
                return true;
        }
        return false;
    };
    if (m_followed.removeIf([&](const Followed &f) { return f.cupsJobId == 0 && !queued(f); }) > 0)
        save();
}

void PrintTracker::recountToday()
{
    m_tallyDay = QDate::currentDate();
    std::fill(std::begin(m_tally), std::end(m_tally), 0);
    for (const LedgerRow &row : m_ledger.rows(m_tallyDay)) {
        const int size = int(std::find(std::begin(SizeNames), std::end(SizeNames), row.paperSize)
                             - std::begin(SizeNames));
        if (size < 3 && row.state != PrintLedger::Aborted && row.state != PrintLedger::Canceled)
            m_tally[size] += row.copies;
    }
}

QList<SizeLine> PrintTracker::sizeLines() const
{
    const PrinterSnapshot snapshot = m_port.snapshot();
    const QStringList installed = m_port.installedPrinters();
    QList<SizeLine> lines;
    for (int size = 0; size < 3; ++size) {
        SizeLine line;
        line.size = QLatin1String(SizeNames[size]);
        const QString key = ModConf::paperSettings(size)->printer;
        const int found = findPrinterByName(installed, key);
        line.printer = found >= 0 ? installed[found] : key.trimmed();
        line.description = describePrinter(line.printer, snapshot, PrinterPort::BuiltInPdfPrinter);
        if (const auto queue = snapshot.status.constFind(queueOfDevice(line.printer));
            snapshot.answering && queue != snapshot.status.constEnd())
            line.media = lowestMarker(*queue);
        line.printedToday = m_tally[size];
        lines << line;
    }
    return lines;
}

void PrintTracker::logPrinterChanges()
{
    const PrinterSnapshot snapshot = m_port.snapshot();
    for (const SizeLine &line : sizeLines()) {
        if (line.printer.isEmpty())
            continue;
        const auto queue = snapshot.status.constFind(queueOfDevice(line.printer));
        const QString reasons = !snapshot.answering
            ? QStringLiteral("no answer from ") + snapshot.server
            : queue == snapshot.status.constEnd() || queue->reasons.isEmpty()
            ? QStringLiteral("none")
            : queue->reasons.join(QLatin1Char(','));
        const QString state
            = line.description.text + QStringLiteral(" [") + reasons + QLatin1Char(']');
        if (m_loggedStates.value(line.printer) == state)
            continue;
        m_loggedStates.insert(line.printer, state);
        qCInfo(lcPrinters, "Printer '%s': %s", qUtf8Printable(line.printer), qUtf8Printable(state));
    }
}

void PrintTracker::say(const QString &notice, bool alert)
{
    if (alert) {
        m_alert = notice;
        m_latestOtherAlert = ++m_alertOrder;
        if (m_alertCount < std::numeric_limits<int>::max())
            ++m_alertCount;
    } else
        m_notice = notice;
}

void PrintTracker::acknowledge()
{
    m_alert.clear();
    m_alertCount = 0;
    m_photoAlerts.clear();
    m_notice.clear();
    emit changed();
}

void PrintTracker::tellPortWhatToFollow()
{
    QList<int> jobs;
    for (const Followed &f : std::as_const(m_followed)) {
        if (f.cupsJobId > 0)
            jobs << f.cupsJobId;
    }
    m_port.setFollowedJobs(jobs);
}

void PrintTracker::save() const
{
    QJsonArray jobs;
    for (const Followed &f : m_followed) {
        QJsonObject o = toJson(f.printed);
        o["cupsJob"] = f.cupsJobId;
        o["day"] = f.day.toString(Qt::ISODate);
        o["reprintKey"] = f.reprintKey;
        o["reprintImage"] = f.reprintImage;
        jobs << o;
    }
    QSaveFile file(stateFile());
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(QJsonObject { { "jobs", jobs } }).toJson()) < 0
        || !file.commit())
        qCWarning(lcTracker,
                  "Cannot write '%s': %s; the CUPS jobs followed now would not be "
                  "followed after a restart",
                  qUtf8Printable(stateFile()), qUtf8Printable(file.errorString()));
}
