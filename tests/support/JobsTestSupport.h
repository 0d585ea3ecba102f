#pragma once

#include "JobFileSystem.h"
#include "JobIntake.h"
#include "JobStore.h"
#include "TestFiles.h"

#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

// Puts the real system calls back when a test that replaced some of them ends.
struct ScopedSysCalls
{
    JobFs::SysCalls saved = JobFs::sysCalls();
    ~ScopedSysCalls() { JobFs::sysCalls() = saved; }
};

// A test object whose every test gets a fresh system folder with its layout: newSystemFolder()
// in its init(), `under` naming it inside the temporary folder m_dir.
class SystemFolderTest : public QObject
{
protected:
    [[nodiscard]] bool newSystemFolder(const QString &under = {})
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_root = under.isEmpty() ? m_dir->path() : m_dir->filePath(under);
        return QDir().mkpath(m_root) && CreateFolderLayout(m_root);
    }
    QString at(const QString &relative) const { return m_root + '/' + relative; }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
};

// The job store of station `id`.
struct StationStore : JobStore
{
    explicit StationStore(const QString &id) { station.id = id; }
};

// The modification time of `path` set to `ns` since the epoch.
[[nodiscard]] inline bool setFileTime(const QString &path, qint64 ns)
{
    const timespec times[2] = { { 0, UTIME_OMIT }, { ns / 1000000000, ns % 1000000000 } };
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// Station `id` on the system folder `root`, its lease renewed at `ns` (server time).
[[nodiscard]] inline bool addStation(const QString &root, const QString &id, qint64 ns)
{
    const QString lease = root + "/.zelvo/leases/" + id;
    return QDir().mkpath(root + "/.zelvo/owners/" + id) && QDir().mkpath(root + "/.zelvo/leases")
        && writeFile(lease, id.toUtf8()) && setFileTime(lease, ns);
}

// A job store that notes the job keys whose thumbnails it was asked to show.
struct ShowingStore : JobStore
{
    ShowingStore()
    {
        showJobThumbnails = [this](const QString &key) { shown << key; };
    }
    QStringList shown;
};

// Every rename between two folders fails from now on, as it does between two file systems.
inline void splitFileSystems()
{
    JobFs::SysCalls &calls = JobFs::sysCalls();
    calls.rename = [rename = calls.rename](const char *from, const char *to) {
        const auto folder = [](const QByteArray &p) { return p.left(p.lastIndexOf('/')); };
        return folder(from) == folder(to) ? rename(from, to) : EXDEV;
    };
}

// Appends job `key` of `systemFolder` to the table and the list as intake stores it: photos
// AB<key>_0001.jpg... with one copy each, the entry "job <key>", or for an urgent key
// ("Urgente N") the key itself.
inline JobRecord &appendJob(JobStore &store, const QString &key, int photos = 1,
                            const QString &systemFolder = {})
{
    JobRecord job;
    job.systemFolder = systemFolder;
    job.serial = ++store.lastSerial;
    job.listKey = key;
    job.fileName = "2AB" + key + ".job";
    job.orderPrefix = QStringLiteral("AB");
    job.urgent = key.startsWith(QLatin1String("Urgente"));
    job.queueOrder = store.jobCount;
    job.photoCount = int16_t(photos);
    job.photos.resize(size_t(photos));
    for (int i = 0; i < photos; ++i) {
        job.photos[size_t(i)].imageFileName
            = QStringLiteral("AB%1_%2.jpg").arg(key).arg(i + 1, 4, 10, QChar('0'));
        job.photos[size_t(i)].copies = 1;
    }
    store.printJobs.resize(size_t(store.jobCount));
    store.printJobs.push_back(job);
    store.LstJobs.insert(store.jobCount++, job.urgent ? key : formJobEntryText(key));
    return store.printJobs.back();
}

inline QStringList entryTexts(const QueueList &list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.text(i);
    return texts;
}

inline QList<int> queueOrders(const JobStore &store)
{
    QList<int> orders;
    for (const JobRecord &job : store.printJobs)
        orders << job.queueOrder;
    return orders;
}
