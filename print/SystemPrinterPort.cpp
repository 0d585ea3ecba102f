#include "SystemPrinterPort.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <cups/cups.h>

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

// The scheduler libcups talks to, as "host:port" or a local socket's path.
QString schedulerAddress()
{
    // A server starting with "/" is a local socket, which has no port.
    QString server = QString::fromUtf8(cupsServer());
    if (!server.startsWith(QLatin1Char('/')))
        server += QLatin1Char(':') + QString::number(ippPort());
    return server;
}

bool schedulerAnswers()
{
    http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                2000, nullptr);
    if (!http)
        return false;
    httpClose(http);
    return true;
}

// Why CUPS did not take a document for `queue`. For a queue it does not know, libcups reports
// only "No such file or directory", and the same when no scheduler answers at all, so those two
// are told apart here.
QString refusalReason(const QByteArray &queue, bool queueKnown)
{
    if (queueKnown)
        return QString::fromUtf8(cupsLastErrorString());
    if (!schedulerAnswers())
        return QStringLiteral("the CUPS scheduler (%1) is not answering").arg(schedulerAddress());
    return QStringLiteral("CUPS has no queue named '%1'").arg(QString::fromUtf8(queue));
}

} // namespace

SystemPrinterPort::SystemPrinterPort(const QString &pdfFolder)
    : m_pdfFolder(pdfFolder)
{ }

SystemPrinterPort::~SystemPrinterPort()
{
    discardDocument();
}

PrintQueues SystemPrinterPort::printQueues() const
{
    // Qt lists no queue both when CUPS has none and when it does not answer, so an empty list
    // counts only when the scheduler answered before and after it.
    if (!schedulerAnswers())
        return {};
    PrintQueues queues { true, QPrinterInfo::availablePrinterNames(),
                         QPrinterInfo::defaultPrinterName() };
    if (queues.names.isEmpty() && !schedulerAnswers())
        return {};
    return queues;
}

QStringList SystemPrinterPort::installedPrinters() const
{
    QStringList names = QPrinterInfo::availablePrinterNames();
    names.append(BuiltInPdfPrinter);
    return names;
}

QString SystemPrinterPort::defaultPrinter() const
{
    const QString name = QPrinterInfo::defaultPrinterName();
    return name.isEmpty() ? BuiltInPdfPrinter : name;
}

QString SystemPrinterPort::currentPrinter() const
{
    return m_current.isEmpty() ? defaultPrinter() : m_current;
}

void SystemPrinterPort::setCurrentPrinter(const QString &deviceName)
{
    // Qt's print engine silently falls back to another queue for an unknown name, so only a
    // listed name is ever taken.
    if (!installedPrinters().contains(deviceName)) {
        qCWarning(lcPrinter, "'%s' is not an installed printer; '%s' stays current",
                  qUtf8Printable(deviceName), qUtf8Printable(currentPrinter()));
        return;
    }
    m_current = deviceName;
    m_setup.reset(); // measure again: the queue's defaults may have changed
    m_setupPrinter.clear();
}

std::optional<SystemPrinterPort::PageSetup>
SystemPrinterPort::pageSetupFor(const QString &deviceName) const
{
    if (deviceName == BuiltInPdfPrinter) {
        return PageSetup { BuiltInPdfDpi,
                           QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                       QMarginsF(0, 0, 0, 0)) };
    }
    const QPrinterInfo info = QPrinterInfo::printerInfo(deviceName);
    if (info.isNull())
        return std::nullopt;
    QPrinter printer(info, QPrinter::HighResolution);
    // A bare QPrinter keeps A4 with margins of its own whatever the queue is set up for; lay
    // the page out on the queue's default paper and its hardware margins instead.
    const QPageSize paper = info.defaultPageSize();
    if (paper.isValid())
        printer.setPageSize(paper);
    printer.setPageMargins(printer.pageLayout().minimumMargins(), printer.pageLayout().units());
    return PageSetup { printer.resolution(), printer.pageLayout() };
}

const std::optional<SystemPrinterPort::PageSetup> &SystemPrinterPort::currentSetup()
{
    const QString name = currentPrinter();
    if (!m_setup || m_setupPrinter != name) {
        m_setup = pageSetupFor(name);
        m_setupPrinter = name;
    }
    return m_setup;
}

float SystemPrinterPort::resolution()
{
    const auto &setup = currentSetup();
    return setup ? float(setup->dpi) : 0.0f;
}

QSizeF SystemPrinterPort::printableSize()
{
    const auto &setup = currentSetup();
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
    if (m_current.isEmpty() && defaultPrinter() == BuiltInPdfPrinter && !schedulerAnswers()) {
        qCWarning(lcPrinter,
                  "No printer chosen yet and the CUPS scheduler (%s) is not answering: the "
                  "document waits for it",
                  qUtf8Printable(schedulerAddress()));
        return false;
    }
    const QString printer = currentPrinter();
    const auto setup = currentSetup();
    if (!setup) {
        qCWarning(lcPrinter, "Cannot open a document on '%s': it is not installed",
                  qUtf8Printable(printer));
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

bool SystemPrinterPort::endDocument()
{
    if (!m_painter)
        return false;
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
    if (ok)
        ok = m_docPrinter == BuiltInPdfPrinter ? publishPdf(spoolFile) : submitToQueue(spoolFile);
    m_spool.reset(); // removes the spool file unless it was published
    return ok;
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

bool SystemPrinterPort::submitToQueue(const QString &spoolFile)
{
    // "queue/instance" names an lpoptions instance of a queue, whose options the job takes,
    // as lp does.
    const QByteArray device = m_docPrinter.toUtf8();
    const qsizetype slash = device.indexOf('/');
    const QByteArray queue = slash < 0 ? device : device.left(slash);
    const QByteArray instance = slash < 0 ? QByteArray() : device.mid(slash + 1);

    int optionCount = 0;
    cups_option_t *options = nullptr;
    cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.constData(),
                                         instance.isEmpty() ? nullptr : instance.constData());
    const bool queueKnown = dest != nullptr;
    if (dest) {
        for (int i = 0; i < dest->num_options; ++i)
            optionCount = cupsAddOption(dest->options[i].name, dest->options[i].value, optionCount,
                                        &options);
        cupsFreeDests(1, dest);
    }
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.constData(),
                                   QFile::encodeName(spoolFile).constData(),
                                   m_docTitle.toUtf8().constData(), optionCount, options);
    cupsFreeOptions(optionCount, options);
    if (job <= 0) {
        qCWarning(lcPrinter, "CUPS did not take the document for '%s': %s",
                  qUtf8Printable(m_docPrinter), qUtf8Printable(refusalReason(queue, queueKnown)));
        return false;
    }
    m_lastJobId = job;
    return true;
}
