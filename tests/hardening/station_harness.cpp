// A station without its window, for tests that run several stations, kill them and start them
// again: the real start-up and ticks back to back on a system folder, printing on the built-in
// PDF printer.
//
//   station_harness SYSTEM_FOLDER PDF_FOLDER [--scan-only] [--wait-go] [--exit-when-idle]
//                   [--claim-by-link] [--split-fs] [--crash-at CALL:N[:after]]
//                   [--stop-at CALL:N[:after]] [--stop-at-document N]
//                   [--station ID] [--lease-timeout MS] [--kill-after-prints N]
//
// --scan-only: take new jobs, print nothing. --wait-go: after start-up, wait for "go" on
// standard input. --exit-when-idle: end after a tick that took nothing and left the queue empty.
// --claim-by-link: as on a file system without rename-without-replace. --split-fs: every folder
// its own file system. --crash-at: see installCrashPoint; --stop-at stops there (SIGSTOP) instead,
// for a test to run another station meanwhile and continue this one (SIGCONT);
// --stop-at-document: the same once the N-th document is open, before its photo is drawn.
// --kill-after-prints: SIGKILL once the PDF folder holds N documents, between two photos. "quit"
// (or the end of input) runs one more tick and ends. Standard output, flushed line by line so that
// a killed station has told all it did: "LISTED <job file>" per job listed at start-up, "READY
// <count>", then "CLAIM <job file> <photos>" per job taken later (claimed, taken over or adopted).

#include "Dispatcher.h"
#include "JobFileSystem.h"
#include "JobIntake.h"
#include "JobsTestSupport.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "SystemPrinterPort.h"

#include <QDir>
#include <QGuiApplication>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// "CALL:N[:after]": `signal` at the N-th call of CALL (renameNoReplace, rename, link, unlink,
// writeAt, syncData, createFile), before it or, with ":after", once it is done.
bool installCrashPoint(const QString &point, int signal)
{
    const QStringList parts = point.split(QLatin1Char(':'));
    const int n = parts.value(1).toInt();
    const bool after = parts.value(2) == QLatin1String("after");
    if (n < 1 || parts.size() > 3 || (parts.size() == 3 && !after))
        return false;
    auto wrap = [after, n, signal, count = 0](auto call) mutable {
        return [=](auto... args) mutable {
            const bool hit = ++count == n;
            if (hit && !after)
                ::raise(signal);
            const auto result = call(args...);
            if (hit && after)
                ::raise(signal);
            return result;
        };
    };
    JobFs::SysCalls &calls = JobFs::sysCalls();
    const auto hook = [&](const char *name, auto &call) {
        return parts[0] == QLatin1String(name) && (call = wrap(call), true);
    };
    return hook("renameNoReplace", calls.renameNoReplace) || hook("rename", calls.rename)
        || hook("link", calls.link) || hook("unlink", calls.unlink)
        || hook("writeAt", calls.writeAt) || hook("syncData", calls.syncData)
        || hook("createFile", calls.createFile);
}

// One line of standard input, read unbuffered so that later ones are left for the tick loop.
QByteArray readCommand()
{
    QByteArray line;
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

// The built-in printer, stopping this process once the N-th document is open.
class StoppingPort : public SystemPrinterPort
{
public:
    using SystemPrinterPort::SystemPrinterPort;
    bool beginDocument(const QString &title) override
    {
        const bool begun = SystemPrinterPort::beginDocument(title);
        if (++m_documents == stopAt)
            ::raise(SIGSTOP);
        return begun;
    }
    int stopAt = 0;

private:
    int m_documents = 0;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Pointing libcups at no scheduler keeps a test off this machine's queues and makes listing
    // them fail at once.
    if (qEnvironmentVariableIsEmpty("CUPS_SERVER"))
        qputenv("CUPS_SERVER", "/nonexistent/zelvo-harness-cups.sock");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, const QString &otherwise) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 ? args.value(at + 1) : otherwise;
    };
    const qsizetype crashAt = args.indexOf(QLatin1String("--crash-at"));
    const qsizetype stopAt = args.indexOf(QLatin1String("--stop-at"));
    if (args.size() < 3 || (crashAt > 0 && !installCrashPoint(args.value(crashAt + 1), SIGKILL))
        || (stopAt > 0 && !installCrashPoint(args.value(stopAt + 1), SIGSTOP))) {
        std::fprintf(stderr, "Bad arguments; see station_harness.cpp\n");
        return 2;
    }
    if (args.contains(QLatin1String("--claim-by-link")))
        JobFs::sysCalls().renameNoReplace = [](const char *, const char *) { return EINVAL; };
    if (args.contains(QLatin1String("--split-fs")))
        splitFileSystems();
    const bool scanOnly = args.contains(QLatin1String("--scan-only"));
    const bool untilIdle = args.contains(QLatin1String("--exit-when-idle"));

    const QString system = args[1];
    StoppingPort printers(args[2]);
    printers.stopAt = option("--stop-at-document", QString()).toInt();
    ModPrint::setPrinterPort(&printers);
    printers.setCurrentPrinter(SystemPrinterPort::BuiltInPdfPrinter);
    ModConf::ApplySettingsDefaults(system, SystemPrinterPort::BuiltInPdfPrinter);
    CreateFolderLayout(system);
    JobStore store;
    store.station.id = option("--station", QStringLiteral("harness"));
    store.station.leaseTimeoutMs
        = option("--lease-timeout", QString::number(DefaultLeaseTimeoutMs)).toLongLong();
    const int killAfterPrints = option("--kill-after-prints", QString()).toInt();
    const int listed = LoadWaitingJobs(store, system);
    for (int i = 0; i < store.jobCount; ++i)
        say(QStringLiteral("LISTED %1").arg(store.printJobs[size_t(i)].fileName));
    say(QStringLiteral("READY %1").arg(listed));
    if (args.contains(QLatin1String("--wait-go")) && readCommand() != "go")
        return 0;

    // Ticks back to back; "quit" (or the end of input) ends them after one more, so that
    // everything dropped before it is seen at least once.
    for (bool quit = false; !quit;) {
        pollfd input { STDIN_FILENO, POLLIN, 0 };
        quit = ::poll(&input, 1, 0) > 0;
        RenewLeases(store.station);
        const int before = store.jobCount;
        const int taken = ScanNewJobs(store, system, ModConf::PrintAll);
        for (int i = before; i < store.jobCount; ++i) {
            const JobRecord &job = store.printJobs[size_t(i)];
            say(QStringLiteral("CLAIM %1 %2").arg(job.fileName).arg(job.photoCount));
        }
        if (!scanOnly)
            PrintNextPhoto(store);
        if (killAfterPrints > 0 && QDir(args[2]).entryList(QDir::Files).size() >= killAfterPrints)
            ::raise(SIGKILL);
        if (untilIdle && taken == 0 && (scanOnly || store.jobCount == 0))
            break;
    }
    ModPrint::setPrinterPort(nullptr);
    return 0;
}
