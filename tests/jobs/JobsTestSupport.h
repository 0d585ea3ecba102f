#pragma once

#include "JobFileSystem.h"
#include "JobStore.h"

#include <QFile>
#include <QStringList>

// Puts the real system calls back when a test that replaced some of them ends.
struct ScopedSysCalls
{
    JobFs::SysCalls saved = JobFs::sysCalls();
    ~ScopedSysCalls() { JobFs::sysCalls() = saved; }
};

// Collects what the job store logs while it lives; other messages go on to the test runner.
struct JobsLogRecorder
{
    JobsLogRecorder() { lines.clear(), previous = qInstallMessageHandler(&record); }
    ~JobsLogRecorder() { qInstallMessageHandler(previous); }
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (qstrcmp(context.category, "zelvo.jobs") == 0)
            lines << message;
        else
            previous(type, context, message);
    }
    static inline QStringList lines;
    static inline QtMessageHandler previous = nullptr;
};

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline JobRecord makeJob(const QString &listKey, int queueOrder, int photoCount = 1)
{
    JobRecord job;
    job.listKey = listKey;
    job.queueOrder = int16_t(queueOrder);
    job.photoCount = int16_t(photoCount);
    job.photos.resize(size_t(photoCount));
    return job;
}

// Fills the table and the list in step, one "job " entry per key, in this order.
inline void fillQueue(JobStore &store, const QStringList &keys)
{
    for (const QString &key : keys) {
        store.printJobs.push_back(makeJob(key, store.jobCount));
        store.LstJobs.insert(store.jobCount++, formJobEntryText(key));
    }
}

inline QList<int> queueOrders(const JobStore &store)
{
    QList<int> orders;
    for (const JobRecord &job : store.printJobs)
        orders << job.queueOrder;
    return orders;
}
