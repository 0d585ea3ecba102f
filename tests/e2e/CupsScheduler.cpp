#include "CupsScheduler.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char PdfPpd[] = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd";

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool answers(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

bool writeText(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

} // namespace

CupsScheduler::CupsScheduler()
{
    // cupsd's filters run as lp and must reach the spool.
    ::chmod(QFile::encodeName(m_root.path()).constData(), 0755);
}

CupsScheduler::~CupsScheduler()
{
    stop();
    for (const QString &config : m_queueConfigs)
        QFile::remove(config);
}

QString CupsScheduler::server() const
{
    return QStringLiteral("localhost:%1").arg(m_port);
}

QString CupsScheduler::start()
{
    if (!m_root.isValid())
        return QStringLiteral("no temporary folder");
    const QString root = m_root.path();
    for (const char *dir : { "conf", "spool", "spool/tmp", "cache", "state", "log" }) {
        QDir(root).mkpath(QLatin1String(dir));
        ::chmod(QFile::encodeName(root + QLatin1Char('/') + QLatin1String(dir)).constData(), 0755);
    }
    ::chmod(QFile::encodeName(root + QStringLiteral("/spool/tmp")).constData(), 01777);

    m_port = freeLoopbackPort();
    if (m_port == 0)
        return QStringLiteral("no free port");
    const QString cupsd
        = QStringLiteral("LogLevel warn\n"
                         "Listen 127.0.0.1:%1\n"
                         "WebInterface No\n"
                         "Browsing No\n"
                         "DefaultAuthType None\n"
                         "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n")
              .arg(m_port);
    const QString files = QStringLiteral("ServerRoot %1/conf\n"
                                         "RequestRoot %1/spool\n"
                                         "TempDir %1/spool/tmp\n"
                                         "CacheDir %1/cache\n"
                                         "StateDir %1/state\n"
                                         "ServerBin /usr/lib/cups\n"
                                         "DataDir /usr/share/cups\n"
                                         "AccessLog %1/log/access_log\n"
                                         "ErrorLog %1/log/error_log\n"
                                         "PageLog %1/log/page_log\n"
                                         "User lp\nGroup lp\nSystemGroup root\n")
                              .arg(root);
    if (!writeText(root + QStringLiteral("/conf/cupsd.conf"), cupsd)
        || !writeText(root + QStringLiteral("/cups-files.conf"), files))
        return QStringLiteral("cannot write the scheduler's configuration");

    // The scheduler goes with the test, even when the test dies.
    m_cupsd.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd.start(QStringLiteral("/usr/sbin/cupsd"),
                  { QStringLiteral("-f"), QStringLiteral("-c"),
                    root + QStringLiteral("/conf/cupsd.conf"), QStringLiteral("-s"),
                    root + QStringLiteral("/cups-files.conf") });
    if (!m_cupsd.waitForStarted(10000))
        return QStringLiteral("cupsd did not start: ") + m_cupsd.errorString();
    const QDeadlineTimer deadline(20000);
    while (!answers(m_port)) {
        if (m_cupsd.state() != QProcess::Running || deadline.hasExpired())
            return QStringLiteral("cupsd is not answering: ")
                + QString::fromUtf8(m_cupsd.readAll());
        QThread::msleep(50);
    }
    return {};
}

void CupsScheduler::stop()
{
    if (m_cupsd.state() == QProcess::NotRunning)
        return;
    m_cupsd.terminate();
    if (!m_cupsd.waitForFinished(15000)) {
        m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }
}

QString CupsScheduler::outputFolder(const QString &name) const
{
    return m_root.filePath(QStringLiteral("out-") + name);
}

QString CupsScheduler::run(const QString &program, const QStringList &arguments) const
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CUPS_SERVER"), server());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return program + QStringLiteral(" failed: ") + QString::fromUtf8(p.readAll());
    return {};
}

QString CupsScheduler::addPdfQueue(const QString &name, const QString &paper)
{
    const QString out = outputFolder(name);
    QDir().mkpath(out);
    ::chmod(QFile::encodeName(out).constData(), 0777);
    const QString config = QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(name);
    if (!writeText(config, QStringLiteral("Out %1\nLabel 1\n").arg(out)))
        return QStringLiteral("cannot write ") + config;
    m_queueConfigs << config;
    return run(QStringLiteral("lpadmin"),
               { QStringLiteral("-p"), name, QStringLiteral("-v"),
                 QStringLiteral("cups-pdf:/") + name, QStringLiteral("-P"), QLatin1String(PdfPpd),
                 QStringLiteral("-o"), QStringLiteral("PageSize=") + paper, QStringLiteral("-E") });
}
