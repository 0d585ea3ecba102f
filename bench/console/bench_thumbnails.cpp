// Run: build/bench/bench_thumbnails [--benchmark_filter=REGEX]
// Selecting a job of 60 photos of 12 MP and of 24 MP in the thumbnail viewer, shown on the
// offscreen platform while a 1 ms timer runs on the interface thread: how long the selection
// takes to return, the event loop to answer, the first and the last thumbnail to reach its
// slot, and the longest gap between two ticks of the timer (the longest time the interface
// thread did not answer); the same job selected again from the cache; print ticks (a 24 MP
// photo onto a 10x15 page at 300 dpi) in turn at rest, while the shown job decodes and while the
// next job is prepared ahead; side by side with libjpeg-turbo's `djpeg -scale 1/8` on the same
// files, two processes at a time as the viewer uses both cores. Peak memory comes from a
// fresh child process per size (this program with --measure=MP FOLDER) that fills the cache
// past its budget with other jobs and then shows the 60-photo job; it reports its RSS
// high-water mark (VmHWM).

#include "BenchSupport.h"
#include "JobStore.h"
#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "ThumbViewer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent/QtConcurrentMap>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>

namespace {

constexpr int Photos = 60;
constexpr int DistinctPhotos = 12; // the others are copies of these
QString systemFolder;

QSize photoSize(int megapixels)
{
    return megapixels == 24 ? QSize(6000, 4000) : QSize(4000, 3000);
}

QString photoName(const QString &job, int index)
{
    return QStringLiteral("%1_%2.jpg").arg(job).arg(index + 1, 4, 10, QChar('0'));
}

QString imagePath(const QString &name)
{
    return systemFolder + QStringLiteral("/images/") + name;
}

// Gradients and texture under sensor-like noise, so the JPEG compresses like a camera's.
// Every fourth photo is portrait, as a camera held upright writes it.
void makePhoto(const QString &path, QSize size, int index)
{
    if (index % 4 == 3)
        size.transpose();
    QImage image(size, QImage::Format_RGB32);
    uint32_t state = 2463534242u + uint32_t(index) * 7919u;
    for (int y = 0; y < size.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const double gy = std::sin(y * 0.004 + index);
        for (int x = 0; x < size.width(); ++x) {
            state ^= state << 13, state ^= state >> 17, state ^= state << 5;
            const int noise = int(state % 25) - 12;
            const double t = std::sin(x * 0.013 + index) * gy;
            line[x] = qRgb(qBound(0, int(120 + 80 * t + x * 0.02) + noise, 255),
                           qBound(0, int(100 + 60 * gy) + noise, 255),
                           qBound(0, int(90 + 70 * std::cos((x + y) * 0.003)) + noise, 255));
        }
    }
    QImageWriter writer(path, "jpeg");
    writer.setQuality(92);
    writer.write(image);
}

// The 60 photos of job "P<mp>": 12 made, the others copies of them.
QStringList writePhotos(int megapixels)
{
    const QString job = QStringLiteral("P%1").arg(megapixels);
    std::vector<int> distinct(DistinctPhotos);
    std::iota(distinct.begin(), distinct.end(), 0);
    QtConcurrent::blockingMap(distinct, [&](int i) {
        if (!QFileInfo::exists(imagePath(photoName(job, i))))
            makePhoto(imagePath(photoName(job, i)), photoSize(megapixels), i);
    });
    QStringList names;
    for (int i = 0; i < Photos; ++i) {
        names << photoName(job, i);
        if (i >= DistinctPhotos)
            QFile::copy(imagePath(photoName(job, i % DistinctPhotos)), imagePath(names.last()));
    }
    return names;
}

void appendJob(JobStore &store, const QString &key, const QStringList &photos)
{
    JobRecord job;
    job.listKey = key;
    job.systemFolder = systemFolder;
    job.serial = ++store.lastSerial;
    for (const QString &file : photos) {
        PhotoItem photo;
        photo.imageFileName = file;
        photo.copies = 1;
        job.photos.push_back(photo);
    }
    job.photoCount = int16_t(job.photos.size());
    job.queueOrder = store.jobCount;
    store.printJobs.resize(size_t(store.jobCount));
    store.printJobs.push_back(job);
    store.LstJobs.insert(store.jobCount++, formJobEntryText(key));
}

// A shown viewer over a store of the given jobs, entry 0 selected.
struct Station
{
    JobStore store;
    std::unique_ptr<ThumbViewer> viewer;

    explicit Station(const QList<std::pair<QString, QStringList>> &jobs)
    {
        for (const auto &[key, photos] : jobs)
            appendJob(store, key, photos);
        viewer = std::make_unique<ThumbViewer>(
            store, [] {}, nullptr);
        viewer->resize(410, 428);
        viewer->show();
        store.LstJobs.select(0);
        settle();
    }
    // Until the shown job is complete and nothing is prepared ahead.
    void settle()
    {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!viewer->decoding() && !viewer->prefetching())
                loop.quit();
        });
        poll.start(5);
        loop.exec();
    }
};

// A 1 ms timer on the interface thread; the longest gap between its ticks is the longest the
// thread did not answer.
struct Probe
{
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    std::function<void(qint64)> onTick;

    Probe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
            if (onTick)
                onTick(now);
        });
        clock.start();
        timer.start();
    }
    void restart()
    {
        last = clock.nsecsElapsed();
        longest = 0;
    }
};

double ms(qint64 ns)
{
    return ns / 1e6;
}

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Adds `value` to counter `name`, averaged over the iterations.
void average(benchmark::State &state, const char *name, double value)
{
    auto &counter = state.counters[name];
    counter = benchmark::Counter(counter.value + value, benchmark::Counter::kAvgIterations);
}

void benchDjpeg(benchmark::State &state, int megapixels)
{
    const QStringList photos = writePhotos(megapixels);
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        // Two decoders at a time, one per core.
        QProcess running[2];
        for (int i = 0; i < Photos; ++i) {
            QProcess &slot = running[i % 2];
            slot.waitForFinished(-1);
            slot.start(QStringLiteral("djpeg"),
                       { QStringLiteral("-scale"), QStringLiteral("1/8"),
                         QStringLiteral("-outfile"), QStringLiteral("/dev/null"),
                         imagePath(photos[i]) });
        }
        for (QProcess &slot : running)
            slot.waitForFinished(-1);
    }
    average(state, "cpu_ms_per_photo", (cpuSeconds(RUSAGE_CHILDREN) - cpuBefore) * 1000 / Photos);
}

// A job selected with nothing of it kept; with `cached`, selected again after another job.
void benchSelect(benchmark::State &state, int megapixels, bool cached)
{
    const QString key = QStringLiteral("P%1").arg(megapixels);
    Station station({ { QStringLiteral("other"), {} }, { key, writePhotos(megapixels) } });
    ThumbViewer &viewer = *station.viewer;
    Probe probe;
    qint64 first = -1;
    probe.onTick = [&](qint64 now) {
        if (first < 0
            && std::any_of(viewer.thumbImages.begin(), viewer.thumbImages.end(),
                           [](IgHandle h) { return h != 0; }))
            first = now;
    };
    for (auto _ : state) {
        // Another job shown, and this one prepared ahead meanwhile; cold, nothing is kept.
        state.PauseTiming();
        viewer.ShowJobThumbnails(QStringLiteral("other"));
        station.settle();
        if (!cached)
            viewer.thumbCache.clear();
        state.ResumeTiming();

        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        probe.restart();
        const qint64 start = probe.clock.nsecsElapsed();
        first = -1;
        viewer.ShowJobThumbnails(key);
        const qint64 returned = probe.clock.nsecsElapsed();
        qint64 answered = -1, last = viewer.decoding() ? -1 : returned;
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            answered = probe.clock.nsecsElapsed();
            if (last >= 0)
                loop.quit();
        });
        const auto done = QObject::connect(&viewer, &ThumbViewer::thumbnailsShown, &loop, [&] {
            last = probe.clock.nsecsElapsed();
            if (answered >= 0)
                loop.quit();
        });
        loop.exec();
        QObject::disconnect(done);
        if (first < 0)
            first = returned;

        average(state, "select_ms", ms(returned - start));
        average(state, "answer_ms", ms(answered - start));
        average(state, "first_ms", ms(first - start));
        average(state, "last_ms", ms(last - start));
        state.counters["longest_block_ms"]
            = std::max(state.counters["longest_block_ms"].value, ms(probe.longest));
        average(state, "cores_busy",
                (cpuSeconds(RUSAGE_SELF) - cpuBefore) / (ms(last - start) / 1000 + 1e-9));
    }
}

double threadCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Print ticks of a 24 MP photo, taken in turn while the viewer is at rest, while it decodes
// the shown job and while it prepares the next job ahead, so that the load of the machine
// weighs on the three alike. "waited" is the tick's wall time less the interface thread's own
// CPU time: how long the tick waited for a core.
void benchTicks(benchmark::State &state)
{
    const QStringList photos = writePhotos(24);
    Station station(
        { { QStringLiteral("one"), photos.mid(0, 1) }, { QStringLiteral("P24"), photos } });
    ThumbViewer &viewer = *station.viewer;
    RecordingPrinterPort port({ { QStringLiteral("bench") } });
    ModPrint::setPrinterPort(&port);
    ModPrint::TargetWidthIn = 6.13f;
    ModPrint::TargetHeightIn = 4.13f;
    ModPrint::SelectPrinter(QStringLiteral("bench"));
    const char *names[] = { "at_rest", "while_decoding", "while_prefetching" };
    std::vector<double> wall[3], waited[3];
    QElapsedTimer clock;
    for (auto _ : state) {
        for (int meanwhile = 0; meanwhile < 3; ++meanwhile) {
            viewer.thumbCache.clear();
            if (meanwhile == 1)
                viewer.ShowJobThumbnails(QStringLiteral("P24"));
            if (meanwhile == 2) {
                viewer.ShowJobThumbnails(QStringLiteral("one"));
                while (!viewer.prefetching())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            const bool busy = viewer.decoding() || viewer.prefetching();
            clock.start();
            const double cpu = threadCpuMs();
            ModPrint::OpenPrintDocument(QStringLiteral("bench"));
            ModPrint::PrintPhoto(imagePath(photos[0]), 1);
            ModPrint::EndPrintDocument();
            wall[meanwhile].push_back(ms(clock.nsecsElapsed()));
            waited[meanwhile].push_back(wall[meanwhile].back() - (threadCpuMs() - cpu));
            if (busy != (meanwhile != 0))
                state.SkipWithError("the viewer was not doing what the case needs");
            // Everything stopped, and the photos in hand finished, before the next tick.
            viewer.clearThumbnails();
            viewer.unloadElements();
        }
    }
    for (int meanwhile = 0; meanwhile < 3; ++meanwhile) {
        state.counters[std::string(names[meanwhile]) + "_ms"] = median(wall[meanwhile]);
        state.counters[std::string(names[meanwhile]) + "_waited_ms"] = median(waited[meanwhile]);
    }
    ModPrint::setPrinterPort(nullptr);
}

// Child process: the 60-photo job shown, the cache filled past its budget by jobs of a 1 MP
// photo linked under other names, then the job shown again; prints "baselineKb filledKb
// peakKb cacheBytes".
int measureOnce(int megapixels)
{
    const QString fill = imagePath(QStringLiteral("fill.jpg"));
    makePhoto(fill, QSize(1200, 800), 0);
    QList<std::pair<QString, QStringList>> jobs;
    const qint64 perThumbnail = 100 * 67 * 4 + ThumbCache::EntryOverhead;
    const int fillPhotos = int(ThumbCache::DefaultBudget / perThumbnail) + Photos;
    for (int i = 0; i < fillPhotos; ++i) {
        const QString job = QStringLiteral("F%1").arg(i / Photos);
        if (i % Photos == 0)
            jobs.append({ job, {} });
        jobs.last().second << photoName(job, i % Photos);
        ::link(QFile::encodeName(fill), QFile::encodeName(imagePath(jobs.last().second.last())));
    }
    // Shown first, then pushed out of the cache by the others, which it never pushes out
    // when it is prepared ahead.
    const QString key = QStringLiteral("P%1").arg(megapixels);
    jobs.prepend({ key, writePhotos(megapixels) });
    const long baseline = peakRssKb();
    Station station(jobs);
    for (const auto &[job, photos] : jobs.mid(1)) {
        station.viewer->ShowJobThumbnails(job);
        station.settle();
    }
    const long filled = peakRssKb();
    station.viewer->ShowJobThumbnails(key);
    station.settle();
    std::printf("%ld %ld %ld %lld\n", baseline, filled, peakRssKb(),
                station.viewer->thumbCache.bytesHeld());
    return 0;
}

void benchPeakMemory(benchmark::State &state, int megapixels)
{
    for (auto _ : state) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    { QStringLiteral("--measure=%1").arg(megapixels), systemFolder });
        child.waitForFinished(600000);
        const QStringList fields
            = QString::fromUtf8(child.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
        if (fields.size() != 4) {
            state.SkipWithError("the measuring child failed");
            break;
        }
        state.counters["rss_before_MB"] = fields[0].toDouble() / 1024;
        state.counters["peak_rss_cache_full_MB"] = fields[1].toDouble() / 1024;
        state.counters["peak_rss_after_job_MB"] = fields[2].toDouble() / 1024;
        state.counters["cache_MB"] = fields[3].toDouble() / (1024 * 1024);
    }
}

} // namespace

BENCHMARK_CAPTURE(benchDjpeg, djpeg_scale_1_8_12MP, 12)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(benchSelect, select_12MP, 12, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(benchSelect, reselect_cached_12MP, 12, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(benchDjpeg, djpeg_scale_1_8_24MP, 24)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(benchSelect, select_24MP, 24, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(benchSelect, reselect_cached_24MP, 24, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(benchTicks)->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK_CAPTURE(benchPeakMemory, peak_memory_12MP, 12)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(benchPeakMemory, peak_memory_24MP, 24)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && std::strncmp(argv[1], "--measure=", 10) == 0) {
        systemFolder = QString::fromLocal8Bit(argv[2]);
        return measureOnce(std::atoi(argv[1] + 10));
    }

    QTemporaryDir folder;
    systemFolder = folder.path();
    QDir(systemFolder).mkpath(QStringLiteral("images"));
    QElapsedTimer made;
    made.start();
    for (int megapixels : { 12, 24 }) {
        qint64 bytes = 0;
        for (const QString &name : writePhotos(megapixels))
            bytes += QFileInfo(imagePath(name)).size();
        std::printf("%d photos of %d MP, %.1f MB JPEG each on average\n", Photos, megapixels,
                    bytes / (1024.0 * 1024.0) / Photos);
    }
    std::printf("made in %.0f s\n", made.elapsed() / 1000.0);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
