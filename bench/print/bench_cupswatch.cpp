// Watching CUPS from the station's window, on a private scheduler with three cups-pdf queues (run
// as root): how soon a change in CUPS reaches the printer strip, what watching the three queues
// costs the station and the scheduler in CPU, and how the window fares while a scheduler takes
// connections and never answers. ZELVO_BENCH_SECONDS sets how long the last two run (60).
#include "FIni.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PrinterStrip.h"
#include "PrivateCups.h"
#include "SystemPrinterPort.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>

namespace {

PrivateCups *cups = nullptr;
QString cupsRoot;

int seconds()
{
    const int value = qEnvironmentVariableIntValue("ZELVO_BENCH_SECONDS");
    return value > 0 ? value : 60;
}

// CPU time used so far by process `pid` ("self" for this one), its threads included, in seconds.
double cpuSeconds(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The fields after the command name, which is in parentheses and may hold blanks.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / ::sysconf(_SC_CLK_TCK);
}

// The same for this process's thread named `name` (the CUPS link's), 0 when there is none.
double threadCpuSeconds(const QByteArray &name)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            return cpuSeconds(QStringLiteral("self/task/") + tid);
    }
    return 0;
}

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The station's window on a folder of its own, its three sizes on `printers`, talking to the
// scheduler at `server` ("" the private one).
struct Station
{
    Station(const QString &server, const QStringList &printers)
        : port(app.filePath(QStringLiteral("pdf")), server)
    {
        QFile ini(ModConf::settingsFilePath(app.path()));
        if (ini.open(QIODevice::WriteOnly))
            ini.write(QStringLiteral("[General]\nPRINT_ALL=True\n[Printers]\n10x15=%1\n13x18=%2\n"
                                     "15x23=%3\n")
                          .arg(printers.value(0), printers.value(1), printers.value(2))
                          .toUtf8());
        ini.close();
        ModPrint::setPrinterPort(&port);
        window = std::make_unique<FIni>(port, app.path());
        window->load();
        window->show();
    }
    ~Station()
    {
        window.reset();
        ModPrint::setPrinterPort(nullptr);
    }
    QString strip() const { return window->StripPrinters->rows[0].state->text(); }

    QTemporaryDir app;
    SystemPrinterPort port;
    std::unique_ptr<FIni> window;
};

// From the moment cupsdisable or cupsenable returns until the strip shows the queue paused or
// ready again.
void benchRefreshLatency(benchmark::State &state)
{
    if (!cups)
        return state.SkipWithError("no private CUPS scheduler (run as root)");
    Station station({}, { cups->queue('a'), cups->queue('b'), cups->queue('c') });
    runEventLoop(2000);
    bool paused = false;
    double longest = 0;
    std::srand(20261206);
    for (auto _ : state) {
        // At any moment of the link's one-second round, as changes come.
        runEventLoop(std::rand() % 1000);
        paused = !paused;
        const QString expected = paused ? QStringLiteral("Pausada") : QStringLiteral("Pronta");
        PrivateCups::admin(paused ? QStringLiteral("cupsdisable") : QStringLiteral("cupsenable"),
                           { cups->queue('a') });
        QElapsedTimer clock;
        clock.start();
        while (station.strip() != expected && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double latency = clock.nsecsElapsed() / 1e9;
        longest = std::max(longest, latency);
        state.SetIterationTime(latency);
    }
    PrivateCups::admin(QStringLiteral("cupsenable"), { cups->queue('a') });
    state.counters["longest_ms"] = longest * 1000;
}

// The window watching three idle queues: the share of one core the station and the scheduler
// use.
void benchWatchCost(benchmark::State &state)
{
    if (!cups)
        return state.SkipWithError("no private CUPS scheduler (run as root)");
    Station station({}, { cups->queue('a'), cups->queue('b'), cups->queue('c') });
    runEventLoop(2000);
    for (auto _ : state) {
        const QString cupsd = QString::number(cups->pid());
        const double ownBefore = cpuSeconds(QStringLiteral("self"));
        const double linkBefore = threadCpuSeconds("CUPS link");
        const double cupsdBefore = cpuSeconds(cupsd);
        QElapsedTimer clock;
        clock.start();
        runEventLoop(seconds() * 1000);
        const double wall = clock.elapsed() / 1000.0;
        state.counters["station_cpu_pct"]
            = (cpuSeconds(QStringLiteral("self")) - ownBefore) / wall * 100;
        state.counters["link_cpu_pct"] = (threadCpuSeconds("CUPS link") - linkBefore) / wall * 100;
        state.counters["cupsd_cpu_pct"] = (cpuSeconds(cupsd) - cupsdBefore) / wall * 100;
    }
}

// A scheduler that takes connections and never answers, a job waiting, Timer1 every second:
// the longest the window's event loop was held, and how late the ticks came.
void benchHangingScheduler(benchmark::State &state)
{
    const QByteArray path = QFile::encodeName(cupsRoot + QStringLiteral("/hang.sock"));
    ::unlink(path.constData());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 64) != 0)
        return state.SkipWithError("cannot listen on a local socket");
    Station station(QString::fromUtf8(path), { "dnp", "dnp", "dnp" });
    QFile job(station.app.filePath(QStringLiteral("jobs/1HS00001.job")));
    if (job.open(QIODevice::WriteOnly))
        job.write("00001000100001250\r\n");
    job.close();
    station.window->Timer1.setInterval(1000);

    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        qint64 lastProbe = 0, longestStall = 0, lastTick = 0, latestTick = 0, ticks = 0;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, clock.elapsed() - lastProbe);
            lastProbe = clock.elapsed();
        });
        const auto onTick = QObject::connect(&station.window->Timer1, &QTimer::timeout, [&] {
            if (ticks++ > 0)
                latestTick = std::max(latestTick, clock.elapsed() - lastTick - 1000);
            lastTick = clock.elapsed();
        });
        probe.start(5);
        station.window->Timer1.start();
        runEventLoop(seconds() * 1000);
        QObject::disconnect(onTick);
        state.counters["longest_stall_ms"] = double(longestStall);
        state.counters["latest_tick_ms"] = double(latestTick);
        state.counters["ticks"] = double(ticks);
        state.counters["printed"] = double(station.window->store.jobCount == 0);
    }
    ::close(listener);
}

} // namespace

BENCHMARK(benchRefreshLatency)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);
BENCHMARK(benchWatchCost)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(benchHangingScheduler)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir root;
    cupsRoot = root.path();
    std::unique_ptr<PrivateCups> scheduler;
    if (PrivateCups::unavailableReason().isEmpty()) {
        scheduler = std::make_unique<PrivateCups>(root.path());
        if (const QString error = scheduler->start(QStringLiteral("abc")); error.isEmpty())
            cups = scheduler.get();
        else
            std::fprintf(stderr, "%s\n", qPrintable(error));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    cups = nullptr;
    return 0;
}
