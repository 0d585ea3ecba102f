// Run: build/bench/bench_thumbnails
// Selecting a job of 60 photos of 12 MP: the viewer's rebuild on one core and on two, side by
// side with libjpeg-turbo's own `djpeg -scale 1/8` (and a full-size djpeg for reference) on the
// same files, one process per photo as the tool runs. One-core cases run with this process
// pinned to the first CPU, and djpeg inherits the pinning. Peak memory comes from a fresh child
// process per case (this program with --measure=CORES), which reports its RSS high-water mark
// (VmHWM) after one rebuild.

#include "BenchSupport.h"
#include "JobStore.h"
#include "ThumbViewer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <benchmark/benchmark.h>

#include <sched.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>

namespace {

constexpr int Photos = 60;
constexpr QSize PhotoSize(4000, 3000);

QString systemFolder;
QStringList photoFiles;

// Gradients and texture under sensor-like noise, so the JPEG compresses like a camera's.
// Every fourth photo is portrait, as a camera held upright writes it.
void makePhoto(int index)
{
    const QSize size = index % 4 == 3 ? PhotoSize.transposed() : PhotoSize;
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
    QImageWriter writer(photoFiles[index], "jpeg");
    writer.setQuality(92);
    writer.write(image);
}

void writeJob()
{
    photoFiles.clear();
    for (int i = 0; i < Photos; ++i)
        photoFiles << systemFolder
                + QStringLiteral("/images/BE00001_%1.jpg").arg(i + 1, 4, 10, QChar('0'));
    std::vector<int> indices(Photos);
    std::iota(indices.begin(), indices.end(), 0);
    QtConcurrent::blockingMap(indices, [](int i) {
        if (!QFileInfo::exists(photoFiles[i]))
            makePhoto(i);
    });
}

// Every thread of the process, the pool's included, runs on the first `cores` CPUs only.
void pinToCores(int cores)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int c = 0; c < cores; ++c)
        CPU_SET(c, &set);
    const QStringList threads
        = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &thread : threads)
        sched_setaffinity(pid_t(thread.toInt()), sizeof(set), &set);
    QThreadPool::globalInstance()->setMaxThreadCount(cores);
}

// A job store holding the one job of all the photos, selected in the list.
struct ShownJob
{
    JobStore store;
    std::unique_ptr<ThumbViewer> viewer;

    ShownJob()
    {
        JobRecord job;
        job.listKey = QStringLiteral("00001");
        job.systemFolder = systemFolder;
        for (const QString &file : photoFiles) {
            PhotoItem photo;
            photo.imageFileName = QFileInfo(file).fileName();
            photo.copies = 1;
            job.photos.push_back(photo);
        }
        job.photoCount = int16_t(job.photos.size());
        store.printJobs.push_back(job);
        store.jobCount = 1;
        store.LstJobs.insert(0, QStringLiteral("job 00001"));
        viewer = std::make_unique<ThumbViewer>(
            store, [] {}, nullptr);
        store.LstJobs.select(0);
    }
    void rebuild() { viewer->ShowJobThumbnails(QStringLiteral("00001")); }
};

// Child process: one rebuild, then "baselineKb peakKb heldBytes".
int measureOnce(int cores)
{
    pinToCores(cores);
    ShownJob shown; // its first selection was the rebuild
    const long baseline = peakRssKb();
    shown.rebuild();
    qint64 held = 0;
    for (IgHandle handle : shown.viewer->thumbImages)
        held += imagePixelBytesHeld(handle);
    std::printf("%ld %ld %lld\n", baseline, peakRssKb(), held);
    return 0;
}

// CPU seconds used so far by this process (all its threads) or by its finished children:
// what a case costs, however busy the machine is with other work.
double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void reportPerPhoto(benchmark::State &state, double seconds, double cpu)
{
    const double photos = double(state.iterations()) * Photos;
    state.counters["ms_per_photo"] = seconds * 1000.0 / photos;
    state.counters["cpu_ms_per_photo"] = cpu * 1000.0 / photos;
    // How many cores were busy on average: about 2 for the two-core rebuild on an idle machine.
    state.counters["cores_busy"] = cpu / seconds;
}

void benchDjpeg(benchmark::State &state, bool scaled)
{
    pinToCores(1);
    QStringList args;
    if (scaled)
        args << QStringLiteral("-scale") << QStringLiteral("1/8");
    args << QStringLiteral("-outfile") << QStringLiteral("/dev/null") << QString();
    QElapsedTimer clock;
    double seconds = 0;
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        clock.start();
        for (const QString &file : photoFiles) {
            args.last() = file;
            if (QProcess::execute(QStringLiteral("djpeg"), args) != 0)
                state.SkipWithError("djpeg failed");
        }
        seconds += clock.nsecsElapsed() / 1e9;
    }
    reportPerPhoto(state, seconds, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore);
}

void benchRebuild(benchmark::State &state, int cores)
{
    pinToCores(cores);
    ShownJob shown;
    QElapsedTimer clock;
    double seconds = 0;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        clock.start();
        shown.rebuild();
        seconds += clock.nsecsElapsed() / 1e9;
    }
    reportPerPhoto(state, seconds, cpuSeconds(RUSAGE_SELF) - cpuBefore);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--measure=%1").arg(cores), systemFolder });
    child.waitForFinished(300000);
    const QStringList fields
        = QString::fromUtf8(child.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    if (fields.size() == 3) {
        state.counters["rss_before_MB"] = fields[0].toDouble() / 1024;
        state.counters["peak_rss_MB"] = fields[1].toDouble() / 1024;
        state.counters["thumbs_held_MB"] = fields[2].toDouble() / (1024 * 1024);
    }
    pinToCores(2);
}

} // namespace

BENCHMARK_CAPTURE(benchDjpeg, djpeg_full_size, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK_CAPTURE(benchDjpeg, djpeg_scale_1_8, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(benchRebuild, rebuild_one_core, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(benchRebuild, rebuild_two_cores, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && std::strncmp(argv[1], "--measure=", 10) == 0) {
        systemFolder = QString::fromLocal8Bit(argv[2]);
        writeJob();
        return measureOnce(std::atoi(argv[1] + 10));
    }

    QTemporaryDir folder;
    systemFolder = folder.path();
    QDir(systemFolder).mkpath(QStringLiteral("images"));
    QElapsedTimer made;
    made.start();
    writeJob();
    qint64 bytes = 0;
    for (const QString &file : photoFiles)
        bytes += QFileInfo(file).size();
    std::printf("%d photos of %d x %d, %.1f MB JPEG each on average, made in %.0f s\n", Photos,
                PhotoSize.width(), PhotoSize.height(), bytes / (1024.0 * 1024.0) / Photos,
                made.elapsed() / 1000.0);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
