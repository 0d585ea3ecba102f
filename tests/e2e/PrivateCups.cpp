#include "PrivateCups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cups/cups.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Binds (listen) or connects to a loopback port. Binding port 0 gives a free port's number;
// connecting gives 0 once something listens there.
int loopbackSocket(int port, bool listen)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int result = listen ? ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a)
                        : ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    if (listen && result == 0 && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) == 0)
        result = ntohs(a.sin_port);
    ::close(fd);
    return result;
}

bool writeText(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                               | QFile::ReadOther);
}

// The states of the jobs of `queue` (every queue when empty) that `which` selects.
QList<int> jobStates(const QString &queue, int which)
{
    cups_job_t *jobs = nullptr;
    const QByteArray name = queue.toUtf8();
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs,
                                   queue.isEmpty() ? nullptr : name.constData(), 0, which);
    QList<int> states;
    for (int i = 0; i < count; ++i)
        states << jobs[i].state;
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
    for (const QString &config : m_backendConfigs)
        QFile::remove(config);
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

QString PrivateCups::start()
{
    if (isRunning())
        return {};
    if (m_port == 0) {
        for (const char *dir : { "", "/conf", "/spool", "/cache", "/state", "/log" }) {
            const QString path = m_root + QLatin1String(dir);
            if (!QDir().mkpath(path) || ::chmod(QFile::encodeName(path), 0755) != 0)
                return QStringLiteral("cannot make %1").arg(path);
        }
        m_port = loopbackSocket(0, true);
        if (m_port <= 0)
            return QStringLiteral("no free loopback port");
        // MaxJobs 0: a long run keeps every job's history, so the tests can count them.
        const bool written
            = writeText(m_root + "/conf/cupsd.conf",
                        QStringLiteral("LogLevel warn\nListen 127.0.0.1:%1\nWebInterface No\n"
                                       "Browsing No\nMaxJobs 0\nDefaultAuthType None\n"
                                       "<Location />\n Order allow,deny\n Allow all\n"
                                       "</Location>\n")
                            .arg(m_port))
            && writeText(m_root + "/cups-files.conf",
                         QStringLiteral("ServerRoot %1/conf\nRequestRoot %1/spool\n"
                                        "TempDir %1/spool\nCacheDir %1/cache\nStateDir %1/state\n"
                                        "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                                        "ErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                                        "PageLog %1/log/page_log\nUser lp\nGroup lp\n"
                                        "SystemGroup root\n")
                             .arg(m_root));
        if (!written)
            return QStringLiteral("cannot write the scheduler's configuration");
        qputenv("CUPS_SERVER", QByteArray("localhost:") + QByteArray::number(m_port));
    }
    m_cupsd.start(QStringLiteral("/usr/sbin/cupsd"),
                  { "-f", "-c", m_root + "/conf/cupsd.conf", "-s", m_root + "/cups-files.conf" });
    if (!m_cupsd.waitForStarted())
        return QStringLiteral("cupsd: ") + m_cupsd.errorString();
    const QDeadlineTimer deadline(20000);
    while (loopbackSocket(m_port, false) != 0) {
        if (!isRunning() || deadline.hasExpired())
            return QStringLiteral("cupsd is not answering: ") + m_cupsd.readAll();
        QThread::msleep(20);
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

QString PrivateCups::addPdfQueue(const QString &name, const QString &paper,
                                 const QString &outFolder)
{
    if (!QDir().mkpath(outFolder))
        return QStringLiteral("cannot make %1").arg(outFolder);
    const QString config = QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(name);
    if (!m_backendConfigs.contains(config))
        m_backendConfigs << config;
    if (!writeText(config, QStringLiteral("Out %1\nLabel 1\n").arg(outFolder)))
        return QStringLiteral("cannot write %1").arg(config);
    return admin(QStringLiteral("lpadmin"),
                 { "-p", name, "-v", "cups-pdf:/" + name, "-P",
                   "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd", "-o", "PageSize=" + paper, "-E" });
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
    const QByteArray name = queue.toUtf8();
    for (const QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(50)) {
        cups_job_t *jobs = nullptr;
        const int count
            = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, name.constData(), 0, CUPS_WHICHJOBS_ALL);
        int state = 0;
        for (int i = 0; i < count; ++i)
            state = jobs[i].id == jobId ? jobs[i].state : state;
        cupsFreeJobs(count, jobs);
        if (state >= IPP_JSTATE_CANCELED)
            return state;
    }
    return 0;
}

bool PrivateCups::waitUntilIdle(int timeoutMs)
{
    for (const QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(100)) {
        if (activeJobs() == 0)
            return true;
    }
    return false;
}
