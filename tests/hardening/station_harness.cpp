// A station without its window, for tests that run several stations, kill them and start them
// again: the real start-up (CreateFolderLayout, LoadWaitingJobs) and ticks (ScanNewJobs, then
// PrintNextPhoto) on a system folder, printing on the built-in PDF printer.
//
// Standard input takes one command per line: "go" starts the ticks when --wait-go held them,
// "quit" (or the end of input) runs one more tick and ends. With --log, standard output gets
// one line per event, flushed at once so that a killed station has told all it did:
//   READY <jobs listed at start-up>      LOAD <job file>
//   CLAIM <job file> <photos>            PRINT <pdf file>
//   RETIRE <job file>                    DONE <ticks>
// READY and DONE are written also without --log.

#include "Dispatcher.h"
#include "JobFileSystem.h"
#include "JobIntake.h"
#include "JobTable.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "SystemPrinterPort.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool logging = false;

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void logEvent(const QString &line)
{
    if (logging)
        say(line);
}

// "--crash-at CALL:N[:after]": the station kills itself with SIGKILL at the N-th call of one of
// the file-system calls that claim and retire (renameNoReplace, rename, link, unlink), before
// the call or, with ":after", once it is done: a crash at an exact point.
bool installCrashPoint(const QString &point)
{
    const QStringList parts = point.split(QLatin1Char(':'));
    bool numeric = false;
    const int n = parts.value(1).toInt(&numeric);
    if (parts.size() < 2 || parts.size() > 3 || !numeric || n < 1
        || (parts.size() == 3 && parts[2] != QLatin1String("after")))
        return false;
    const bool after = parts.size() == 3;
    auto wrap = [after, n, count = 0](auto call) mutable {
        return [=](auto... args) mutable {
            const bool hit = ++count == n;
            if (hit && !after)
                ::raise(SIGKILL);
            const int result = call(args...);
            if (hit)
                ::raise(SIGKILL);
            return result;
        };
    };
    JobFs::SysCalls &calls = JobFs::sysCalls();
    const QString name = parts[0];
    if (name == QLatin1String("renameNoReplace"))
        calls.renameNoReplace = wrap(calls.renameNoReplace);
    else if (name == QLatin1String("rename"))
        calls.rename = wrap(calls.rename);
    else if (name == QLatin1String("link"))
        calls.link = wrap(calls.link);
    else if (name == QLatin1String("unlink"))
        calls.unlink = wrap(calls.unlink);
    else
        return false;
    return true;
}

// Every rename between two folders fails as it does between two file systems, for machines
// where a test cannot mount one.
void splitFoldersIntoFileSystems()
{
    JobFs::SysCalls &calls = JobFs::sysCalls();
    calls.rename = [rename = calls.rename](const char *from, const char *to) {
        const auto folder = [](const QByteArray &p) { return p.left(p.lastIndexOf('/')); };
        return folder(from) == folder(to) ? rename(from, to) : EXDEV;
    };
}

// One line of standard input, read unbuffered so that later lines are left for the notifier.
QByteArray readCommand()
{
    QByteArray line;
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

class Station
{
public:
    Station(const QString &systemFolder, const QString &pdfFolder)
        : systemFolder(systemFolder)
        , printers(pdfFolder)
    { }

    void start()
    {
        ModPrint::setPrinterPort(&printers);
        printers.setCurrentPrinter(SystemPrinterPort::BuiltInPdfPrinter);
        ModConf::SystemFolder = systemFolder;
        ModConf::ApplySettingsDefaults(systemFolder, SystemPrinterPort::BuiltInPdfPrinter);
        CreateFolderLayout(systemFolder);
        const int loaded = LoadWaitingJobs(store, systemFolder);
        for (int i = 0; i < store.jobCount; ++i)
            logEvent(QStringLiteral("LOAD ") + store.printJobs[size_t(i)].fileName);
        say(QStringLiteral("READY %1").arg(loaded));
    }

    // One tick; whether it found nothing to do.
    bool tick(bool scanOnly)
    {
        ++ticks;
        const int before = store.jobCount;
        const int taken = ScanNewJobs(store, systemFolder, ModConf::PrintAll);
        for (int i = before; i < store.jobCount; ++i) {
            const JobRecord &job = store.printJobs[size_t(i)];
            logEvent(QStringLiteral("CLAIM %1 %2").arg(job.fileName).arg(job.photoCount));
        }
        if (scanOnly)
            return taken == 0;
        const QueueOrderSearch head = FindNextJobToPrint(store.printJobs);
        const QString headFile
            = head.found && store.jobCount > 0 ? store.printJobs[size_t(head.index)].fileName : "";
        const QString pdfBefore = printers.lastPdfFile();
        const int queued = store.jobCount;
        PrintNextPhoto(store, systemFolder);
        if (printers.lastPdfFile() != pdfBefore)
            logEvent(QStringLiteral("PRINT ") + QFileInfo(printers.lastPdfFile()).fileName());
        if (store.jobCount < queued)
            logEvent(QStringLiteral("RETIRE ") + headFile);
        return taken == 0 && store.jobCount == 0;
    }

    void stop()
    {
        say(QStringLiteral("DONE %1").arg(ticks));
        ModPrint::setPrinterPort(nullptr);
    }

private:
    QString systemFolder;
    SystemPrinterPort printers;
    JobStore store;
    int ticks = 0;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every photo goes to the built-in printer; pointing libcups at no scheduler keeps a test
    // off this machine's queues and makes listing them fail at once.
    if (qEnvironmentVariableIsEmpty("CUPS_SERVER"))
        qputenv("CUPS_SERVER", "/nonexistent/zelvo-harness-cups.sock");
    QGuiApplication app(argc, argv);

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Runs the station's job store and printing "
                                                     "on a system folder, without a window."));
    options.addHelpOption();
    const QCommandLineOption system(QStringLiteral("system"), QStringLiteral("System folder."),
                                    QStringLiteral("folder"));
    const QCommandLineOption pdf(QStringLiteral("pdf"),
                                 QStringLiteral("Folder of the built-in printer's PDF files."),
                                 QStringLiteral("folder"));
    const QCommandLineOption pace(QStringLiteral("pace"),
                                  QStringLiteral("Milliseconds between ticks (0: back to back)."),
                                  QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption scanOnly(QStringLiteral("scan-only"),
                                      QStringLiteral("Ticks take new jobs and print nothing."));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("One line per job listed, claimed, printed and "
                                                "retired on standard output."));
    const QCommandLineOption printAll(QStringLiteral("print-all"),
                                      QStringLiteral("Also take orders awaiting payment."));
    const QCommandLineOption waitGo(QStringLiteral("wait-go"),
                                    QStringLiteral("After start-up, wait for \"go\" on standard "
                                                   "input before the first tick."));
    const QCommandLineOption exitWhenIdle(
        QStringLiteral("exit-when-idle"),
        QStringLiteral("End after a tick that found no new job and, unless scanning only, "
                       "left the queue empty."));
    const QCommandLineOption claimByLink(
        QStringLiteral("claim-by-link"),
        QStringLiteral("Claim as on a file system without rename-without-replace."));
    const QCommandLineOption splitFs(QStringLiteral("split-fs"),
                                     QStringLiteral("Treat every folder as its own file system."));
    const QCommandLineOption crashAt(QStringLiteral("crash-at"),
                                     QStringLiteral("Kill this process at CALL:N[:after]."),
                                     QStringLiteral("point"));
    options.addOptions({ system, pdf, pace, scanOnly, log, printAll, waitGo, exitWhenIdle,
                         claimByLink, splitFs, crashAt });
    options.process(app);
    if (!options.isSet(system) || !options.isSet(pdf))
        options.showHelp(2);
    if (options.isSet(crashAt) && !installCrashPoint(options.value(crashAt))) {
        std::fprintf(stderr, "Bad --crash-at: %s\n", qPrintable(options.value(crashAt)));
        return 2;
    }
    if (options.isSet(claimByLink))
        JobFs::sysCalls().renameNoReplace = [](const char *, const char *) { return EINVAL; };
    if (options.isSet(splitFs))
        splitFoldersIntoFileSystems();
    logging = options.isSet(log);
    ModConf::PrintAll = options.isSet(printAll);
    const bool onlyScan = options.isSet(scanOnly);

    Station station(options.value(system), options.value(pdf));
    station.start();
    if (options.isSet(waitGo) && readCommand() != "go")
        return 0;

    QTimer ticker;
    ticker.setInterval(options.value(pace).toInt());
    const bool untilIdle = options.isSet(exitWhenIdle);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (station.tick(onlyScan) && untilIdle)
            QCoreApplication::quit();
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got > 0 && !QByteArray(buffer, int(got)).contains("quit"))
            return;
        input.setEnabled(false);
        station.tick(onlyScan); // everything dropped before "quit" is seen at least once
        QCoreApplication::quit();
    });
    ticker.start();
    const int status = QCoreApplication::exec();
    station.stop();
    return status;
}
