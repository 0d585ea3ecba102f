#include "SystemPrinterPort.h"

#include "PrinterStatus.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPrinter, "zelvo.printer")

namespace {

// A file name made of the document's title: letters, digits, dots, dashes and underscores
// only, never starting with a dot (which would hide it).
QString fileNameFromTitle(const QString &title)
{
    QString name;
    for (const QChar c : title) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.')
            || c == QLatin1Char('-') || c == QLatin1Char('_');
        name += plain ? c : QLatin1Char('_');
    }
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    name.truncate(80);
    return name.isEmpty() ? QStringLiteral("zelvo") : name;
}

// Moves `from` to `to` only when nothing exists at `to`; errno tells why not.
bool moveWithoutReplacing(const QString &from, const QString &to)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without RENAME_NOREPLACE: a hard link fails just the same on a taken name.
    if (::link(src.constData(), dst.constData()) != 0)
        return false;
    ::unlink(src.constData());
    return true;
}

// Why nothing is known of CUPS.
QString silence(const PrinterSnapshot &cups)
{
    if (cups.generation == 0)
        return QStringLiteral("the CUPS scheduler has not answered yet");
    return QStringLiteral("the CUPS scheduler (%1) is not answering").arg(cups.server);
}

} // namespace

SystemPrinterPort::SystemPrinterPort(const QString &pdfFolder, const QString &cupsServer)
    : m_pdfFolder(pdfFolder)
    , m_link(cupsServer)
{
    QObject::connect(&m_link, &CupsLink::snapshotChanged, &events,
                     &PrinterPortEvents::snapshotChanged);
    QObject::connect(&m_link, &CupsLink::printerResumed, &events,
                     [this](const QString &queue, const QString &error, bool forbidden) {
                         const QString device = m_resuming.take(queue);
                         if (error.isEmpty())
                             qCInfo(lcPrinter, "Printer '%s' resumed", qUtf8Printable(queue));
                         else
                             qCWarning(lcPrinter, "CUPS did not resume '%s': %s",
                                       qUtf8Printable(queue), qUtf8Printable(error));
                         emit events.printerResumed(device.isEmpty() ? queue : device, error,
                                                    forbidden);
                     });
    QObject::connect(&m_link, &CupsLink::jobMoved, &events,
                     [this](int jobId, const QString &, const QString &error) {
                         emit events.jobMoved(jobId, m_moving.take(jobId), error);
                     });
    QObject::connect(&m_link, &CupsLink::documentAnswered, &events,
                     [this](int ticket, int jobId, const QString &refusal) {
                         takeAnswer(ticket, jobId, refusal);
                     });
}

SystemPrinterPort::~SystemPrinterPort()
{
    discardDocument();
}

PrintQueues SystemPrinterPort::printQueues() const
{
    // The link tells a scheduler without queues from one that does not answer.
    const PrinterSnapshot snapshot = m_link.snapshot();
    if (!snapshot.answering)
        return {};
    return { true, snapshot.queues, snapshot.defaultQueue };
}

QStringList SystemPrinterPort::installedPrinters() const
{
    QStringList names = m_link.snapshot().queues;
    names.append(BuiltInPdfPrinter);
    return names;
}

QString SystemPrinterPort::defaultPrinter() const
{
    const QString name = m_link.snapshot().defaultQueue;
    return name.isEmpty() ? BuiltInPdfPrinter : name;
}

QString SystemPrinterPort::currentPrinter() const
{
    return m_current.isEmpty() ? defaultPrinter() : m_current;
}

void SystemPrinterPort::setCurrentPrinter(const QString &deviceName)
{
    if (!installedPrinters().contains(deviceName)) {
        qCWarning(lcPrinter, "'%s' is not an installed printer; '%s' stays current",
                  qUtf8Printable(deviceName), qUtf8Printable(currentPrinter()));
        return;
    }
    m_current = deviceName;
}

std::optional<SystemPrinterPort::PageSetup>
SystemPrinterPort::pageSetupFor(const QString &deviceName) const
{
    if (deviceName == BuiltInPdfPrinter) {
        return PageSetup { BuiltInPdfDpi,
                           QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                       QMarginsF(0, 0, 0, 0)) };
    }
    const PrinterSnapshot snapshot = m_link.snapshot();
    const auto queue = snapshot.status.constFind(queueOfDevice(deviceName));
    if (queue == snapshot.status.constEnd() || queue->dpi <= 0 || !queue->layout.isValid())
        return std::nullopt;
    return PageSetup { queue->dpi, queue->layout };
}

float SystemPrinterPort::resolution()
{
    const auto setup = pageSetupFor(currentPrinter());
    return setup ? float(setup->dpi) : 0.0f;
}

QSizeF SystemPrinterPort::printableSize()
{
    const auto setup = pageSetupFor(currentPrinter());
    return setup ? QSizeF(setup->layout.paintRectPixels(setup->dpi).size()) : QSizeF();
}

bool SystemPrinterPort::beginDocument(const QString &title)
{
    if (m_painter) {
        qCWarning(lcPrinter, "A print document is already open");
        return false;
    }
    // While no printer has been chosen, the current one is the system's default, and that is
    // the built-in printer only because no queue is listed. When that is so because the
    // scheduler does not answer (CUPS still starting, or stopped), the photo must wait for its
    // printer rather than go into a PDF and count as printed.
    const PrinterSnapshot cups = m_link.snapshot();
    if (m_current.isEmpty() && defaultPrinter() == BuiltInPdfPrinter && !cups.answering) {
        qCWarning(lcPrinter, "No printer chosen yet and %s: the document waits for it",
                  qUtf8Printable(silence(cups)));
        return false;
    }
    const QString printer = currentPrinter();
    const auto setup = pageSetupFor(printer);
    if (!setup) {
        if (!cups.answering)
            qCWarning(lcPrinter, "Cannot open a document on '%s': %s", qUtf8Printable(printer),
                      qUtf8Printable(silence(cups)));
        else
            qCWarning(lcPrinter, "Cannot open a document on '%s': CUPS has no queue named '%s'",
                      qUtf8Printable(printer), qUtf8Printable(queueOfDevice(printer)));
        return false;
    }

    const bool builtIn = printer == BuiltInPdfPrinter;
    // The built-in printer's document is drawn beside its final place, so that publishing it
    // is a rename; a queue's goes to the temporary folder until it is submitted.
    const QString folder = builtIn ? m_pdfFolder : QDir::tempPath();
    if (builtIn && !QDir().mkpath(folder)) {
        qCWarning(lcPrinter, "Cannot create the PDF folder '%s'", qUtf8Printable(folder));
        return false;
    }
    auto spool = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.zelvo-XXXXXX.pdf"));
    if (!spool->open()) {
        qCWarning(lcPrinter, "Cannot create a spool file in '%s': %s", qUtf8Printable(folder),
                  qUtf8Printable(spool->errorString()));
        return false;
    }
    spool->close();

    auto writer = std::make_unique<QPdfWriter>(spool->fileName());
    writer->setResolution(setup->dpi);
    writer->setPageLayout(setup->layout);
    writer->setTitle(title);
    writer->setCreator(QStringLiteral("Zelvo"));
    auto painter = std::make_unique<QPainter>();
    if (!painter->begin(writer.get())) {
        qCWarning(lcPrinter, "Cannot start drawing the document for '%s'", qUtf8Printable(printer));
        return false;
    }

    m_docPrinter = printer;
    m_docTitle = title;
    m_docFailed = false;
    m_spool = std::move(spool);
    m_writer = std::move(writer);
    m_painter = std::move(painter);
    return true;
}

QPainter *SystemPrinterPort::painter()
{
    return m_painter.get();
}

bool SystemPrinterPort::newPage()
{
    if (!m_writer)
        return false;
    if (!m_writer->newPage()) {
        m_docFailed = true;
        return false;
    }
    return true;
}

Handover SystemPrinterPort::endDocument()
{
    if (!m_painter)
        return {};
    bool ok = m_painter->end();
    if (!ok)
        qCWarning(lcPrinter, "Cannot finish drawing the document for '%s'",
                  qUtf8Printable(m_docPrinter));
    ok = ok && !m_docFailed; // a page that could not be started was logged where it failed
    m_painter.reset();
    m_writer.reset();
    const QString spoolFile = m_spool->fileName();
    if (ok && QFileInfo(spoolFile).size() <= 0) {
        qCWarning(lcPrinter, "The document for '%s' came out empty", qUtf8Printable(m_docPrinter));
        ok = false;
    }
    Handover handover;
    handover.printer = m_docPrinter;
    if (ok && m_docPrinter == BuiltInPdfPrinter) {
        if (publishPdf(spoolFile))
            handover.fate = Handover::Accepted;
    } else if (ok) {
        // The link removes the spool file once CUPS has it, or has refused it.
        m_spool->setAutoRemove(false);
        handover.fate = Handover::Pending;
        handover.ticket
            = m_link.submit(queueOfDevice(m_docPrinter), m_docPrinter.section(QLatin1Char('/'), 1),
                            spoolFile, m_docTitle);
        m_waiting.insert(handover.ticket, m_docPrinter);
    }
    m_spool.reset(); // removes the spool file unless it was published or handed over
    return handover;
}

void SystemPrinterPort::takeAnswer(int ticket, int jobId, const QString &refusal)
{
    const QString printer = m_waiting.take(ticket);
    if (jobId > 0)
        m_lastJobId = jobId;
    else
        qCWarning(lcPrinter, "CUPS did not take the document for '%s': %s", qUtf8Printable(printer),
                  qUtf8Printable(refusal));
    emit events.documentAnswered(ticket, jobId);
}

void SystemPrinterPort::resumePrinter(const QString &device)
{
    if (device == BuiltInPdfPrinter) {
        emit events.printerResumed(device, {}, false);
        return;
    }
    m_resuming.insert(queueOfDevice(device), device);
    m_link.resumePrinter(queueOfDevice(device));
}

void SystemPrinterPort::moveJob(int jobId, const QString &device)
{
    m_moving.insert(jobId, device);
    m_link.moveJob(jobId, queueOfDevice(device));
}

void SystemPrinterPort::discardDocument()
{
    if (m_painter)
        m_painter->end();
    m_painter.reset();
    m_writer.reset();
    m_spool.reset();
}

bool SystemPrinterPort::publishPdf(const QString &spoolFile)
{
    // The spool file was made private; the published PDF is for anyone to open.
    QFile::setPermissions(
        spoolFile, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const QString base = m_pdfFolder + QLatin1Char('/')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))
        + QLatin1Char('_') + fileNameFromTitle(m_docTitle);
    for (int n = 1; n <= 9999; ++n) {
        const QString target = base + (n == 1 ? QString() : QLatin1Char('-') + QString::number(n))
            + QStringLiteral(".pdf");
        if (moveWithoutReplacing(spoolFile, target)) {
            m_lastPdfFile = target;
            return true;
        }
        if (errno != EEXIST) {
            qCWarning(lcPrinter, "Cannot write '%s': %s", qUtf8Printable(target),
                      std::strerror(errno));
            return false;
        }
    }
    qCWarning(lcPrinter, "No free file name for '%s'", qUtf8Printable(base));
    return false;
}
