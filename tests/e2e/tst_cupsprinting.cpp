#include "ModPrint.h"
#include "PageGeometry.h"
#include "PdfInspect.h"
#include "SystemPrinterPort.h"
#include "TestPhotos.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTest>
#include <QThread>

#include <cups/cups.h>

#include <memory>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestPhotos;

namespace {

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

void writeText(const QString &path, const QString &text, mode_t mode = 0644)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text.toUtf8());
    ::chmod(QFile::encodeName(path).constData(), mode);
}

} // namespace

// Printing through a real CUPS scheduler that the test starts itself (own configuration,
// spool and port in a temporary folder) into cups-pdf queues whose PDFs land in folders of this
// run; the PDFs are read back with poppler. Needs root: cupsd runs the cups-pdf backend as
// root, and the backend reads its per-queue settings from /etc/cups/cups-pdf-NAME.conf.
class TestCupsPrinting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listsQueuesThenBuiltInPrinter();
    void printsOnTheRightQueue_data();
    void printsOnTheRightQueue();
    void rejectingQueueFailsTheDocument();
    void pausedQueueKeepsTheJob();
    void schedulerDownFailsTheDocument();

private:
    QString queue(char which) const { return m_prefix + QLatin1Char(which); }
    QString outFolder(char which) const { return m_root.filePath(QStringLiteral("out-") + which); }
    int pdfCount(char which) const { return QDir(outFolder(which)).entryList({ "*.pdf" }).size(); }
    QString admin(const QString &program, const QStringList &arguments);
    // Final state of the job once it left the queue, 0 on timeout.
    int waitForJob(char which, int jobId);
    int activeJobs(char which);
    bool printDocument(char which, const QString &photo, int16_t copies);

    QTemporaryDir m_root;
    QProcess m_cupsd;
    QStringList m_configs;
    QString m_prefix = QStringLiteral("zelvo_e2e_%1_").arg(::getpid());
    std::unique_ptr<SystemPrinterPort> m_port;
};

void TestCupsPrinting::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("Starting a private CUPS scheduler with the cups-pdf backend needs root; run as "
              "root (CI does) to print end to end");
    const QString root = m_root.path();
    for (const char *dir : { "", "/conf", "/spool", "/cache", "/state", "/log" })
        QVERIFY(QDir().mkpath(root + dir) && ::chmod(QFile::encodeName(root + dir), 0755) == 0);
    const int port = loopbackSocket(0, true);
    QVERIFY(port > 0);
    writeText(root + "/conf/cupsd.conf",
              QStringLiteral("LogLevel warn\nListen 127.0.0.1:%1\nWebInterface No\nBrowsing No\n"
                             "DefaultAuthType None\n<Location />\n Order allow,deny\n Allow all\n"
                             "</Location>\n")
                  .arg(port));
    writeText(root + "/cups-files.conf",
              QStringLiteral("ServerRoot %1/conf\nRequestRoot %1/spool\nTempDir %1/spool\n"
                             "CacheDir %1/cache\nStateDir %1/state\nServerBin /usr/lib/cups\n"
                             "DataDir /usr/share/cups\nErrorLog %1/log/error_log\n"
                             "AccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                             "User lp\nGroup lp\nSystemGroup root\n")
                  .arg(root));
    // The scheduler goes with the test, even when the test dies.
    m_cupsd.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd.start("/usr/sbin/cupsd",
                  { "-f", "-c", root + "/conf/cupsd.conf", "-s", root + "/cups-files.conf" });
    QVERIFY2(m_cupsd.waitForStarted(), qPrintable(m_cupsd.errorString()));
    const QDeadlineTimer deadline(20000);
    while (loopbackSocket(port, false) != 0) {
        QVERIFY2(m_cupsd.state() == QProcess::Running && !deadline.hasExpired(),
                 qPrintable("cupsd is not answering: " + m_cupsd.readAll()));
        QThread::msleep(50);
    }
    // Before anything in this process talks to CUPS, which reads it once.
    qputenv("CUPS_SERVER", QByteArray("localhost:") + QByteArray::number(port));

    for (const auto &[which, paper] :
         { std::pair { 'a', "A5" }, { 'b', "A4" }, { 'c', "Letter" } }) {
        QVERIFY(QDir().mkpath(outFolder(which)));
        m_configs << QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(queue(which));
        writeText(m_configs.last(), QStringLiteral("Out %1\nLabel 1\n").arg(outFolder(which)));
        const QString added = admin("lpadmin",
                                    { "-p", queue(which), "-v", "cups-pdf:/" + queue(which), "-P",
                                      "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd", "-o",
                                      QStringLiteral("PageSize=") + paper, "-E" });
        QVERIFY2(added.isEmpty(), qPrintable(added));
    }
    m_port = std::make_unique<SystemPrinterPort>(m_root.filePath("pdf"));
    ModPrint::setPrinterPort(m_port.get());
}

void TestCupsPrinting::cleanupTestCase()
{
    ModPrint::setPrinterPort(nullptr);
    m_cupsd.terminate();
    m_cupsd.waitForFinished();
    for (const QString &config : m_configs)
        QFile::remove(config);
}

QString TestCupsPrinting::admin(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    return p.waitForFinished() && p.exitCode() == 0 ? QString() : program + ": " + p.readAll();
}

int TestCupsPrinting::waitForJob(char which, int jobId)
{
    for (const QDeadlineTimer deadline(120000); !deadline.hasExpired(); QThread::msleep(100)) {
        cups_job_t *jobs = nullptr;
        const int count
            = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue(which).toUtf8(), 0, CUPS_WHICHJOBS_ALL);
        int state = 0;
        for (int i = 0; i < count; ++i)
            state = jobs[i].id == jobId ? jobs[i].state : state;
        cupsFreeJobs(count, jobs);
        if (state >= IPP_JSTATE_CANCELED)
            return state;
    }
    return 0;
}

int TestCupsPrinting::activeJobs(char which)
{
    cups_job_t *jobs = nullptr;
    const int count
        = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue(which).toUtf8(), 0, CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(count, jobs);
    return count;
}

bool TestCupsPrinting::printDocument(char which, const QString &photo, int16_t copies)
{
    // Configured names match their queue whatever their letter case.
    ModPrint::SelectPrinter(queue(which).toUpper());
    if (!ModPrint::OpenPrintDocument(QFileInfo(photo).fileName()))
        return false;
    ModPrint::PrintPhoto(photo, copies);
    return ModPrint::EndPrintDocument();
}

void TestCupsPrinting::listsQueuesThenBuiltInPrinter()
{
    const QString builtIn = SystemPrinterPort::BuiltInPdfPrinter;
    QCOMPARE(m_port->installedPrinters(),
             QStringList({ queue('a'), queue('b'), queue('c'), builtIn }));
    QCOMPARE(m_port->defaultPrinter(), builtIn);
    QCOMPARE(admin("lpadmin", { "-d", queue('b') }), QString());
    QCOMPARE(m_port->currentPrinter(), queue('b'));
    // An unknown name never reaches Qt, which would quietly pick another queue.
    m_port->setCurrentPrinter(queue('z'));
    QCOMPARE(m_port->currentPrinter(), queue('b'));
    // The page is the queue's default paper; cups-pdf has no hardware margins.
    m_port->setCurrentPrinter(queue('a'));
    const double dpi = m_port->resolution();
    QVERIFY(qAbs(m_port->printableSize().width() - 420 * dpi / 72) <= 1);
    QVERIFY(qAbs(m_port->printableSize().height() - 595 * dpi / 72) <= 1);
}

void TestCupsPrinting::printsOnTheRightQueue_data()
{
    QTest::addColumn<char>("which");
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<QSizeF>("inches");
    QTest::addColumn<int>("copies");

    QTest::newRow("10x15, landscape photo, A5 queue")
        << 'a' << QSize(1500, 1000) << QSizeF(6.13, 4.13) << 1;
    QTest::newRow("13x18, portrait photo, A4 queue")
        << 'b' << QSize(1000, 1500) << QSizeF(7, 5) << 2;
    QTest::newRow("15x23, square photo wider than the Letter page")
        << 'c' << QSize(1200, 1200) << QSizeF(9, 6) << 3;
}

void TestCupsPrinting::printsOnTheRightQueue()
{
    QFETCH(char, which);
    QFETCH(QSize, photo);
    QFETCH(QSizeF, inches);
    QFETCH(int, copies);
    const QString file = m_root.filePath(QStringLiteral("photo-%1.jpg").arg(which));
    QVERIFY(writeJpeg(file, photo.width(), photo.height()));
    const QList<int> before { pdfCount('a'), pdfCount('b'), pdfCount('c') };

    ModPrint::TargetWidthIn = float(inches.width());
    ModPrint::TargetHeightIn = float(inches.height());
    QVERIFY(printDocument(which, file, int16_t(copies)));
    QCOMPARE(m_port->currentPrinter(), queue(which));
    QCOMPARE(waitForJob(which, m_port->lastJobId()), int(IPP_JSTATE_COMPLETED));
    for (char q : { 'a', 'b', 'c' })
        QCOMPARE(pdfCount(q), before[q - 'a'] + (q == which ? 1 : 0));
    const QDir out(outFolder(which));
    const QString pdf = out.filePath(out.entryList({ "*.pdf" }, QDir::Files, QDir::Time).value(0));
    QCOMPARE(PdfInspect::pageCount(pdf), copies);

    // Rendered at 100 dpi, each page shows the photo where the geometry puts it.
    const PhotoPlacement place
        = placePhoto(ModPrint::TargetWidthPx, ModPrint::TargetHeightPx, ModPrint::PageWidthPx,
                     ModPrint::PageHeightPx, photo.width(), photo.height());
    const IgRect &d = place.deviceRect;
    for (int page : { 1, copies }) {
        const QImage image = PdfInspect::render(pdf, page, 100);
        QCOMPARE(placementMismatch(image, QRect(QPoint(d.left, d.top), QPoint(d.right, d.bottom)),
                                   quartersAfterTurn(place.turnCode), 100 / ModPrint::PrinterDpi,
                                   2),
                 QString());
    }
}

void TestCupsPrinting::rejectingQueueFailsTheDocument()
{
    const QString photo = m_root.filePath("reject.jpg");
    QVERIFY(writeJpeg(photo, 600, 400));
    QCOMPARE(admin("cupsreject", { queue('a') }), QString());
    const int files = pdfCount('a');
    const int lastJob = m_port->lastJobId();
    QVERIFY(!printDocument('a', photo, 1));
    QCOMPARE(m_port->lastJobId(), lastJob);
    QCOMPARE(activeJobs('a'), 0);
    QCOMPARE(pdfCount('a'), files);
    QCOMPARE(admin("cupsaccept", { queue('a') }), QString());
}

void TestCupsPrinting::pausedQueueKeepsTheJob()
{
    // A stopped queue still takes jobs and prints them once started again: the document was
    // handed over, and printing it a second time would make a duplicate.
    const QString photo = m_root.filePath("paused.jpg");
    QVERIFY(writeJpeg(photo, 600, 400));
    QCOMPARE(admin("cupsdisable", { queue('b') }), QString());
    const int files = pdfCount('b');
    QVERIFY(printDocument('b', photo, 1));
    QCOMPARE(activeJobs('b'), 1);
    QCOMPARE(pdfCount('b'), files);
    QCOMPARE(admin("cupsenable", { queue('b') }), QString());
    QCOMPARE(waitForJob('b', m_port->lastJobId()), int(IPP_JSTATE_COMPLETED));
    QCOMPARE(pdfCount('b'), files + 1);
}

void TestCupsPrinting::schedulerDownFailsTheDocument()
{
    const QString photo = m_root.filePath("down.jpg");
    QVERIFY(writeJpeg(photo, 600, 400));
    ModPrint::SelectPrinter(queue('c'));
    m_cupsd.terminate();
    QVERIFY(m_cupsd.waitForFinished());
    // Only the built-in printer is left to list; the current queue stays and cannot take
    // the document, and nothing falls through to the PDF folder.
    QCOMPARE(m_port->installedPrinters(), QStringList { SystemPrinterPort::BuiltInPdfPrinter });
    QVERIFY(!printDocument('c', photo, 1));
    QCOMPARE(m_port->currentPrinter(), queue('c'));
    QVERIFY(!QDir(m_root.filePath("pdf")).exists());
}

QTEST_MAIN(TestCupsPrinting)
#include "tst_cupsprinting.moc"
