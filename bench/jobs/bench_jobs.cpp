#include "JobIntake.h"
#include "JobStore.h"
#include "JobTable.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <optional>

namespace {

void fillQueue(JobStore &store, int jobs)
{
    for (int i = 0; i < jobs; ++i) {
        JobRecord job;
        job.listKey = QString::number(10000 + i);
        job.fileName = "2AB" + job.listKey + ".job";
        job.queueOrder = int16_t(i);
        job.photoCount = 1;
        job.photos.resize(1);
        store.printJobs.push_back(std::move(job));
        store.LstJobs.insert(i, formJobEntryText(store.printJobs.back().listKey));
        ++store.jobCount;
    }
}

// The operator moves the bottom job to the top: remove and insert in the list, select it,
// carry the list order into the records.
void BM_MoveToTopAndRenumber(benchmark::State &state)
{
    JobStore store;
    fillQueue(store, int(state.range(0)));
    for (auto _ : state) {
        const int last = store.LstJobs.count() - 1;
        const QString text = store.LstJobs.text(last);
        store.LstJobs.remove(last);
        store.LstJobs.insert(0, text);
        store.lastShownIndex = 0;
        store.LstJobs.select(0);
        RenumberQueue(store);
    }
}
BENCHMARK(BM_MoveToTopAndRenumber)->Arg(500)->Arg(5000)->Arg(32767)->Unit(benchmark::kMicrosecond);

void BM_FindJobByKey_LastSlot(benchmark::State &state)
{
    JobStore store;
    fillQueue(store, int(state.range(0)));
    const QString key = store.printJobs.back().listKey;
    for (auto _ : state)
        benchmark::DoNotOptimize(FindJobByKey(store.printJobs, key));
}
BENCHMARK(BM_FindJobByKey_LastSlot)->Arg(5000)->Unit(benchmark::kMicrosecond);

// One tick that finds this many new job files of three photos each.
void BM_ScanNewJobs(benchmark::State &state)
{
    const QByteArray text = "00001000100000100\r\n00002100200000200\r\n00003200300000300\r\n";
    std::optional<QTemporaryDir> dir;
    std::optional<JobStore> store;
    for (auto _ : state) {
        state.PauseTiming();
        store.reset();
        dir.emplace();
        CreateFolderLayout(dir->path());
        for (int i = 0; i < state.range(0); ++i) {
            QFile file(dir->filePath(QStringLiteral("jobs/1AB%1.job").arg(10000 + i)));
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
                state.SkipWithError("cannot write job files");
        }
        store.emplace();
        state.ResumeTiming();
        benchmark::DoNotOptimize(ScanNewJobs(*store, dir->path(), false));
        state.PauseTiming();
        if (store->jobCount != state.range(0))
            state.SkipWithError("not every job was taken");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ScanNewJobs)->Arg(1000)->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
