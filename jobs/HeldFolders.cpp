#include "HeldFolders.h"

#include "JobFileSystem.h"
#include "JobIntake.h"
#include "JobOwnership.h"
#include "JobsLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

namespace {

QString heldFoldersFile(const QString &programFolder)
{
    return JobFs::joinPath(programFolder, QLatin1String(HeldFoldersFileName));
}

// Two spellings of one folder ("/srv/fotos", "/srv/fotos/", a link to it) are one folder,
// whose jobs must be listed once.
QString folderKey(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

void writeHeldFolders(const JobStore &store)
{
    if (store.programFolder.isEmpty())
        return;
    QSaveFile file(heldFoldersFile(store.programFolder));
    const QByteArray text = store.heldFolders.isEmpty()
        ? QByteArray()
        : store.heldFolders.join(QLatin1Char('\n')).toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        qCWarning(lcJobs).noquote()
            << "Cannot write" << file.fileName() << "-" << file.errorString()
            << "- after a restart only the jobs of the system folder in the settings are listed";
}

bool queuesJobOf(const JobStore &store, const QString &systemFolder)
{
    for (int32_t i = 0; i < store.jobCount && size_t(i) < store.printJobs.size(); ++i)
        if (store.printJobs[size_t(i)].systemFolder == systemFolder)
            return true;
    return false;
}

} // namespace

QStringList readHeldFolders(const QString &programFolder)
{
    QFile file(heldFoldersFile(programFolder));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList folders;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            folders << QString::fromUtf8(line);
    return folders;
}

void rememberSystemFolder(JobStore &store, const QString &systemFolder)
{
    if (store.heldFolders.contains(systemFolder))
        return;
    store.heldFolders << systemFolder;
    writeHeldFolders(store);
}

int LoadAllWaitingJobs(JobStore &store, const QString &current)
{
    const QStringList kept
        = store.programFolder.isEmpty() ? QStringList() : readHeldFolders(store.programFolder);
    store.heldFolders.clear();
    QSet<QString> seen { folderKey(current) };
    int listed = 0;
    for (const QString &folder : kept) {
        if (seen.contains(folderKey(folder)))
            continue;
        seen << folderKey(folder);
        store.heldFolders << folder;
        if (!JobFs::isFolder(JobFs::joinPath(folder, QStringLiteral("jobs")))) {
            qCWarning(lcJobs).noquote()
                << "System folder" << folder
                << "cannot be reached - the jobs this station holds there are listed at a later"
                << "start";
            continue;
        }
        qCInfo(lcJobs).noquote() << "Listing the jobs this station holds in" << folder
                                 << "- a system folder it used before";
        listed += LoadWaitingJobs(store, folder);
    }
    listed += LoadWaitingJobs(store, current);
    store.heldFolders << current;
    if (store.heldFolders != kept)
        writeHeldFolders(store);
    forgetIdleSystemFolders(store, current);
    return listed;
}

void forgetIdleSystemFolders(JobStore &store, const QString &current)
{
    const qsizetype before = store.heldFolders.size();
    store.heldFolders.removeIf([&](const QString &folder) {
        // A folder out of reach may still hold jobs: it is looked at again at the next start.
        if (folder == current || queuesJobOf(store, folder)
            || !JobFs::isFolder(JobFs::joinPath(folder, QStringLiteral("jobs")))
            || holdsAnyMarker(store.station, folder))
            return false;
        qCInfo(lcJobs).noquote() << "This station holds no job in" << folder
                                 << "any more: it is no longer looked at";
        store.station.leases.remove(folder);
        return true;
    });
    if (store.heldFolders.size() != before)
        writeHeldFolders(store);
}
