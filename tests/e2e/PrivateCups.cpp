#include "PrivateCups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QThread>

#include <cups/cups.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether a scheduler answers on the local socket `server`.
bool answers(const QString &server)
{
    http_t *http = httpConnect2(QFile::encodeName(server).constData(), 0, nullptr, AF_UNSPEC,
                                HTTP_ENCRYPTION_IF_REQUESTED, 1, 200, nullptr);
    httpClose(http);
    return http != nullptr;
}

bool writeText(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                               | QFile::ReadOther);
}

// The states of the jobs of `queue` (every queue when empty) that `which` selects, by job id.
QHash<int, int> jobStates(const QString &queue, int which)
{
    cups_job_t *jobs = nullptr;
    const QByteArray name = queue.toUtf8();
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs,
                                   queue.isEmpty() ? nullptr : name.constData(), 0, which);
    QHash<int, int> states;
    for (int i = 0; i < count; ++i)
        states.insert(jobs[i].id, jobs[i].state);
    cupsFreeJobs(count, jobs);
    return states;
}

} // namespace

PrivateCups::PrivateCups(const QString &root)
    : m_root(root)
{
    // The scheduler goes with the test, even when the test dies.
    m_cupsd.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
}

PrivateCups::~PrivateCups()
{
    stop();
    for (char which : { 'a', 'b', 'c' })
        QFile::remove(backendConfig(which));
}

QString PrivateCups::unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("starting a private CUPS scheduler with the cups-pdf backend needs "
                              "root; run as root (CI does) to print end to end");
    for (const char *needed : { "/usr/sbin/cupsd", "/usr/lib/cups/backend/cups-pdf",
                                "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd" }) {
        if (!QFile::exists(QLatin1String(needed)))
            return QStringLiteral("%1 is missing (cups, printer-driver-cups-pdf)").arg(needed);
    }
    return {};
}

QString PrivateCups::start(const QString &queues)
{
    const QString socket = m_root + QStringLiteral("/cups.sock");
    if (!m_configured) {
        for (const char *dir : { "", "/conf", "/spool", "/cache", "/state", "/log" }) {
            const QString path = m_root + QLatin1String(dir);
            if (!QDir().mkpath(path) || ::chmod(QFile::encodeName(path), 0755) != 0)
                return QStringLiteral("cannot make %1").arg(path);
        }
        if (const QString error = makeServerBin(); !error.isEmpty())
            return error;
        // MaxJobs 0: a long run keeps every job's history, so the tests can count them.
        const bool written
            = writeText(m_root + "/conf/cupsd.conf",
                        QStringLiteral("LogLevel warn\nListen %1\nWebInterface No\n"
                                       "Browsing No\nMaxJobs 0\nDefaultAuthType None\n"
                                       "<Location />\n Order allow,deny\n Allow all\n"
                                       "</Location>\n")
                            .arg(socket))
            && writeText(m_root + "/cups-files.conf",
                         QStringLiteral("ServerRoot %1/conf\nRequestRoot %1/spool\n"
                                        "TempDir %1/spool\nCacheDir %1/cache\nStateDir %1/state\n"
                                        "ServerBin %1/serverbin\nDataDir /usr/share/cups\n"
                                        "ErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                                        "PageLog %1/log/page_log\nUser lp\nGroup lp\n"
                                        "SystemGroup root\n")
                             .arg(m_root));
        if (!written)
            return QStringLiteral("cannot write the scheduler's configuration");
        qputenv("CUPS_SERVER", QFile::encodeName(socket));
        m_configured = true;
    }
    if (!isRunning()) {
        m_cupsd.start(
            QStringLiteral("/usr/sbin/cupsd"),
            { "-f", "-c", m_root + "/conf/cupsd.conf", "-s", m_root + "/cups-files.conf" });
        if (!m_cupsd.waitForStarted())
            return QStringLiteral("cupsd: ") + m_cupsd.errorString();
        for (const QDeadlineTimer deadline(20000); !answers(socket); QThread::msleep(20)) {
            if (!isRunning() || deadline.hasExpired())
                return QStringLiteral("cupsd is not answering: ") + m_cupsd.readAll();
        }
    }
    for (const QChar which : queues) {
        if (const QString error = addPdfQueue(which.toLatin1()); !error.isEmpty())
            return error;
    }
    return {};
}

bool PrivateCups::stop()
{
    if (!isRunning())
        return true;
    m_cupsd.terminate();
    return m_cupsd.waitForFinished(30000);
}

QString PrivateCups::makeServerBin()
{
    // The system's filters, drivers and backends, with a backend folder of this scheduler's own
    // that tests can add backends to without touching the system's.
    const QString bin = m_root + QStringLiteral("/serverbin");
    const QDir system(QStringLiteral("/usr/lib/cups"));
    if (!QDir().mkpath(bin + QStringLiteral("/backend"))
        || ::chmod(QFile::encodeName(bin), 0755) != 0
        || ::chmod(QFile::encodeName(bin + QStringLiteral("/backend")), 0755) != 0)
        return QStringLiteral("cannot make %1").arg(bin);
    for (const QString &entry : system.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (entry != QLatin1String("backend"))
            QFile::link(system.filePath(entry), bin + QLatin1Char('/') + entry);
    }
    const QDir backends(system.filePath(QStringLiteral("backend")));
    for (const QString &entry : backends.entryList(QDir::Files | QDir::System))
        QFile::link(backends.filePath(entry), bin + QStringLiteral("/backend/") + entry);
    return {};
}

QString PrivateCups::installBackend(const QString &scheme, const QString &program)
{
    const QString target = m_root + QStringLiteral("/serverbin/backend/") + scheme;
    QFile::remove(target);
    // Not world-writable, or the scheduler refuses to run it; run as lp, not as root.
    if (!QFile::copy(program, target)
        || !QFile::setPermissions(target,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                      | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                      | QFile::ExeOther))
        return QStringLiteral("cannot install %1 as %2").arg(program, target);
    return {};
}

QString PrivateCups::queue(char which) const
{
    return QStringLiteral("zelvo_%1_%2").arg(::getpid()).arg(QLatin1Char(which));
}

QString PrivateCups::addPdfQueue(char which)
{
    const QString name = queue(which);
    const QString paper = which == 'a' ? "A5" : which == 'b' ? "A4" : "Letter";
    if (!QDir().mkpath(outFolder(which)))
        return QStringLiteral("cannot make %1").arg(outFolder(which));
    const QString config = backendConfig(which);
    if (!writeText(config, QStringLiteral("Out %1\nLabel 1\n").arg(outFolder(which))))
        return QStringLiteral("cannot write %1").arg(config);
    return admin(QStringLiteral("lpadmin"),
                 { "-p", name, "-v", "cups-pdf:/" + name, "-P",
                   "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd", "-o", "PageSize=" + paper, "-E" });
}

QStringList PrivateCups::pdfs(char which, const QString &titlePart) const
{
    const QDir out(outFolder(which));
    QStringList found;
    for (const QString &name : out.entryList({ "*" + titlePart + "*.pdf" }, QDir::Files))
        found << out.filePath(name);
    return found;
}

QString PrivateCups::admin(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return {};
    return program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ")
        + QString::fromUtf8(p.readAll());
}

int PrivateCups::activeJobs(const QString &queue)
{
    return int(jobStates(queue, CUPS_WHICHJOBS_ACTIVE).size());
}

int PrivateCups::waitForJob(const QString &queue, int jobId, int timeoutMs)
{
    for (const QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(50)) {
        if (const int state = jobStates(queue, CUPS_WHICHJOBS_ALL).value(jobId);
            state >= IPP_JSTATE_CANCELED)
            return state;
    }
    return 0;
}
