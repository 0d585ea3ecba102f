#include "JobIntake.h"
#include "JobStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <optional>

namespace {

// Start-up with this many jobs waiting from an earlier run ("2" files of one to five photos):
// LoadWaitingJobs reads and lists them all before the polling timer starts. The files stay in
// the page cache between iterations, as after a restart of the program (not of the machine).
// The station holds them all (an earlier run of it recorded so), or, `adopting`, none holds
// them: the first start after an earlier version, which records the station as their owner.
void loadWaitingJobs(benchmark::State &state, bool adopting)
{
    const int jobs = int(state.range(0));
    QTemporaryDir dir;
    CreateFolderLayout(dir.path());
    for (int number = 1; number <= jobs; ++number) {
        QByteArray text;
        for (int line = 1; line <= 1 + number % 5; ++line)
            text += '0' + QByteArray::number(line).rightJustified(4, '0') + "0001" + "00001250\r\n";
        QFile file(
            dir.filePath(QStringLiteral("jobs/2SK%1.job").arg(number, 5, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            state.SkipWithError("cannot write job files");
    }
    std::optional<JobStore> store;
    if (!adopting)
        LoadWaitingJobs(store.emplace(), dir.path());
    for (auto _ : state) {
        state.PauseTiming();
        if (adopting)
            QDir(dir.filePath(".zelvo")).removeRecursively();
        store.emplace();
        state.ResumeTiming();
        benchmark::DoNotOptimize(LoadWaitingJobs(*store, dir.path()));
        state.PauseTiming();
        if (store->jobCount != jobs)
            state.SkipWithError("not every job was listed");
        store.reset();
        state.ResumeTiming();
    }
}

void BM_LoadWaitingJobs(benchmark::State &state)
{
    loadWaitingJobs(state, false);
}
BENCHMARK(BM_LoadWaitingJobs)->Arg(5000)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_LoadWaitingJobs_Adopting(benchmark::State &state)
{
    loadWaitingJobs(state, true);
}
BENCHMARK(BM_LoadWaitingJobs_Adopting)->Arg(5000)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
