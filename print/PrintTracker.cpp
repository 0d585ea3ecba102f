#include "PrintTracker.h"

#include "Dispatcher.h"
#include "JobFileSystem.h"
#include "ModConf.h"
#include "PageGeometry.h"
#include "PrinterAvailability.h"
#include "PrinterPort.h"
#include "QueueCommands.h"
#include "ReadyTimes.h"

#include <QDateTime>
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
    connect(&m_port.events, &PrinterPortEvents::jobMoved, this, &PrintTracker::takeMove);
    // Print now on a photo in flight would print it a second time.
    m_store.photoOnItsWay
        = [this](quint64 serial, int photoIndex) { return photoOnItsWay(serial, photoIndex); };
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

bool PrintTracker::photoOnItsWay(quint64 serial, int photo) const
{
    for (const PrintedPhoto &p : m_inFlight) {
        if (p.serial == serial && p.photoIndex == photo)
            return true;
    }
    return false;
}

int PrintTracker::documentsOn(const QString &device) const
{
    int count = 0;
    for (const PrintedPhoto &p : m_inFlight)
        count += p.printer == device ? 1 : 0;
    for (const Followed &f : m_followed)
        count += f.cupsJobId > 0 && f.printed.printer == device ? 1 : 0;
    return count;
}

double PrintTracker::secondsPerPage(const QString &device, int paperSize) const
{
    return m_secondsPerPage.value(device, defaultSecondsPerPage(paperSize));
}

double PrintTracker::busyFor(const QString &device) const
{
    double seconds = 0;
    for (const PrintedPhoto &p : m_inFlight) {
        if (p.printer == device)
            seconds += p.photo.copies * secondsPerPage(device, p.photo.paperSize);
    }
    for (const Followed &f : m_followed) {
        if (f.cupsJobId > 0 && f.printed.printer == device)
            seconds += f.printed.photo.copies * secondsPerPage(device, f.printed.photo.paperSize);
    }
    return seconds;
}

void PrintTracker::measure(const Followed &followed)
{
    const QString &printer = followed.printed.printer;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 start = std::max(followed.acceptedAtMs, m_lastCompletedMs.value(printer));
    m_lastCompletedMs.insert(printer, now);
    if (followed.acceptedAtMs <= 0 || followed.printed.photo.copies < 1)
        return;
    const double sample = double(now - start) / 1000 / followed.printed.photo.copies;
    const auto known = m_secondsPerPage.constFind(printer);
    // Smoothed: the reports come about once a second, so one document's time is rough.
    m_secondsPerPage.insert(
        printer, known == m_secondsPerPage.constEnd() ? sample : 0.7 * *known + 0.3 * sample);
}

void PrintTracker::moveHeldDocuments(const PrinterSnapshot &snapshot)
{
    const QStringList installed = m_port.installedPrinters();
    const auto availability = [&](const QString &name) {
        return availabilityOf(name, installed, snapshot, PrinterPort::BuiltInPdfPrinter);
    };
    for (const Followed &f : std::as_const(m_followed)) {
        const int state = snapshot.jobStates.value(f.cupsJobId, -1);
        const auto paper = ModConf::paperSettings(f.printed.photo.paperSize);
        if (f.cupsJobId <= 0 || m_moveTried.contains(f.cupsJobId) || !paper
            || !(state == JobPending || state == JobHeld || state == JobStopped)
            || availability(f.printed.printer).state != PrinterAvailability::Held)
            continue;
        const PrinterAvailability first = availability(paper->printer);
        const PrinterAvailability other
            = first.device == f.printed.printer ? availability(paper->standIn) : first;
        if (other.state != PrinterAvailability::Ready || other.device == f.printed.printer)
            continue;
        m_moveTried.insert(f.cupsJobId);
        m_port.moveJob(f.cupsJobId, other.device);
    }
}

void PrintTracker::takeMove(int jobId, const QString &device, const QString &error)
{
    for (Followed &f : m_followed) {
        if (f.cupsJobId != jobId)
            continue;
        if (!error.isEmpty()) {
            qCWarning(lcTracker, "CUPS job %d stays on '%s' ('%s'), which cannot print: %s", jobId,
                      qUtf8Printable(f.printed.printer),
                      qUtf8Printable(f.printed.photo.imageFileName), qUtf8Printable(error));
            return;
        }
        qCInfo(lcTracker, "CUPS job %d ('%s') moved from '%s', which cannot print, to '%s'", jobId,
               qUtf8Printable(f.printed.photo.imageFileName), qUtf8Printable(f.printed.printer),
               qUtf8Printable(device));
        m_ledger.setPrinter(f.day, f.printed.printer, jobId, device);
        f.printed.printer = device;
        save();
        emit changed();
        return;
    }
}

void PrintTracker::awaitAnswer(int ms)
{
    if (m_inFlight.isEmpty())
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    connect(this, &PrintTracker::changed, &loop, [this, &loop] {
        if (m_inFlight.isEmpty())
            loop.quit();
    });
    loop.exec();
}

void PrintTracker::expectAnswer(int ticket, const PrintedPhoto &photo)
{
    m_inFlight.insert(ticket, photo);
}

void PrintTracker::holdQueue(bool held)
{
    m_held = held;
    if (held)
        return;
    for (const quint64 serial : std::exchange(m_heldRetirements, {}))
        RetireIfPrinted(m_store, serial);
    takeSnapshot(); // the jobs that ended meanwhile
}

void PrintTracker::takeAnswer(int ticket, int jobId)
{
    if (!m_inFlight.contains(ticket))
        return;
    const PrintedPhoto printed = m_inFlight.take(ticket);
    if (jobId > 0) {
        // Recorded at once, whatever is open: a crash must not print it again.
        AcceptPrintedPhoto(m_store, printed, !m_held);
        if (m_held)
            m_heldRetirements << printed.serial;
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
        m_followed << Followed { printed, cupsJobId, today,
                                 {},      {},        QDateTime::currentMSecsSinceEpoch() };
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
        if (state == JobCompleted)
            measure(m_followed[i]);
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
    if (snapshot.answering)
        moveHeldDocuments(snapshot);
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
            say(QStringLiteral("Não impressa: %1 falhou de novo (%2)").arg(photo, why), true, p);
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
        // What a printer holds is not printed yet: it may still be moved, lost or cancelled. A
        // job CUPS has forgotten left its queue long ago, and counts as it most likely ended.
        if (size < 3 && (row.state == PrintLedger::Completed || row.state == PrintLedger::Unknown))
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
        const ModConf::PaperSettings paper = *ModConf::paperSettings(size);
        const auto device = [&installed](const QString &key) {
            const int found = findPrinterByName(installed, key);
            return found >= 0 ? installed[found] : key.trimmed();
        };
        // Stopped, paused or refusing jobs: what Retomar undoes.
        const auto resumable = [&snapshot](const QString &printer) {
            const auto queue = snapshot.status.constFind(queueOfDevice(printer));
            return snapshot.answering && queue != snapshot.status.constEnd()
                && (queue->state == 5 || !queue->accepting);
        };
        line.printer = device(paper.printer);
        line.description = describePrinter(line.printer, snapshot, PrinterPort::BuiltInPdfPrinter);
        if (const auto queue = snapshot.status.constFind(queueOfDevice(line.printer));
            snapshot.answering && queue != snapshot.status.constEnd())
            line.media = lowestMarker(*queue);
        line.standIn = device(paper.standIn);
        if (!line.standIn.isEmpty())
            line.standInDescription
                = describePrinter(line.standIn, snapshot, PrinterPort::BuiltInPdfPrinter);
        line.resumable = resumable(line.printer)                 ? line.printer
            : !line.standIn.isEmpty() && resumable(line.standIn) ? line.standIn
                                                                 : QString();
        line.printedToday = m_tally[size];
        lines << line;
    }
    return lines;
}

void PrintTracker::logPrinterChanges()
{
    const PrinterSnapshot snapshot = m_port.snapshot();
    QList<std::pair<QString, PrinterDescription>> printers;
    for (const SizeLine &line : sizeLines()) {
        printers << std::make_pair(line.printer, line.description);
        if (!line.standIn.isEmpty())
            printers << std::make_pair(line.standIn, line.standInDescription);
    }
    for (const auto &[printer, description] : std::as_const(printers)) {
        if (printer.isEmpty())
            continue;
        const auto queue = snapshot.status.constFind(queueOfDevice(printer));
        const QString reasons = !snapshot.answering
            ? QStringLiteral("no answer from ") + snapshot.server
            : queue == snapshot.status.constEnd() || queue->reasons.isEmpty()
            ? QStringLiteral("none")
            : queue->reasons.join(QLatin1Char(','));
        const QString state = description.text + QStringLiteral(" [") + reasons + QLatin1Char(']');
        if (m_loggedStates.value(printer) == state)
            continue;
        m_loggedStates.insert(printer, state);
        qCInfo(lcPrinters, "Printer '%s': %s", qUtf8Printable(printer), qUtf8Printable(state));
    }
}

void PrintTracker::say(const QString &notice, bool alert, const std::optional<PrintedPhoto> &again)
{
    if (alert) {
        m_alert = notice;
        m_alertPhoto = again;
        m_latestOtherAlert = ++m_alertOrder;
        if (m_alertCount < std::numeric_limits<int>::max())
            ++m_alertCount;
    } else
        m_notice = notice;
}

void PrintTracker::acknowledge()
{
    m_alert.clear();
    m_alertPhoto.reset();
    m_alertCount = 0;
    m_photoAlerts.clear();
    m_notice.clear();
    emit changed();
}

bool PrintTracker::printAgain()
{
    if (!canPrintAgain())
        return false;
    const PrintedPhoto p = *m_alertPhoto;
    JobRecord source;
    source.fileName = p.fileName;
    source.orderPrefix = p.orderPrefix;
    source.systemFolder = p.systemFolder;
    const auto reprint = QueueReprint(m_store, source, p.photo);
    if (!reprint)
        return false;
    qCInfo(lcTracker, "'%s' is sent again by the operator as '%s'",
           qUtf8Printable(p.photo.imageFileName), qUtf8Printable(reprint->listKey));
    // Followed as an automatic reprint is: a failure is told again, not retried.
    m_followed << Followed { p, 0, QDate::currentDate(), reprint->listKey, reprint->imageFileName };
    m_alert.clear();
    m_alertPhoto.reset();
    m_alertCount = 0;
    save();
    emit changed();
    return true;
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
