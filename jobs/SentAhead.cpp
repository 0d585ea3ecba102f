#include "SentAhead.h"

#include "JobFileSystem.h"
#include "JobsLog.h"
#include "QueueCommands.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace {

QString sentAheadFile(const JobStore &store)
{
    return JobFs::joinPath(store.programFolder, QLatin1String(SentAheadFileName));
}

QJsonObject toJson(const JobRecord &copy)
{
    const PhotoItem &photo = copy.photos.front();
    return { { "systemFolder", copy.systemFolder },
             { "file", copy.fileName },
             { "device", QString::number(copy.fileIdentity.device) },
             { "inode", QString::number(copy.fileIdentity.inode) },
             { "prefix", copy.orderPrefix },
             { "image", photo.imageFileName },
             { "number", photo.photoNumber },
             { "paperSize", photo.paperSize },
             { "copies", photo.copies },
             { "amount", photo.amount },
             { "line", QString::number(photo.lineOffset) },
             { "sourceWasPrinted", copy.sourceWasPrinted } };
}

JobRecord fromJson(const QJsonObject &o)
{
    JobRecord copy;
    copy.systemFolder = o["systemFolder"].toString();
    copy.fileName = o["file"].toString();
    copy.fileIdentity.device = dev_t(o["device"].toString().toULongLong());
    copy.fileIdentity.inode = ino_t(o["inode"].toString().toULongLong());
    copy.orderPrefix = o["prefix"].toString();
    copy.sentAhead = true;
    copy.sourceWasPrinted = o["sourceWasPrinted"].toBool();
    PhotoItem photo;
    photo.imageFileName = o["image"].toString();
    photo.photoNumber = o["number"].toString();
    photo.paperSize = int16_t(o["paperSize"].toInt());
    photo.copies = int16_t(o["copies"].toInt());
    photo.amount = o["amount"].toDouble();
    photo.lineOffset = o["line"].toString().toLongLong();
    copy.photos.push_back(photo);
    return copy;
}

// The photo the copy was made of, in its source job if that job is listed again: the same
// job file, at the same line.
PhotoItem *sourcePhoto(JobStore &store, const JobRecord &copy, JobRecord **source)
{
    for (int32_t i = 0; i < store.jobCount && size_t(i) < store.printJobs.size(); ++i) {
        JobRecord &job = store.printJobs[size_t(i)];
        if (job.urgent || job.fileName != copy.fileName || job.systemFolder != copy.systemFolder
            || !(job.fileIdentity == copy.fileIdentity))
            continue;
        for (PhotoItem &photo : job.photos)
            if (photo.lineOffset == copy.photos.front().lineOffset) {
                *source = &job;
                return &photo;
            }
    }
    return nullptr;
}

} // namespace

void saveSentAhead(const JobStore &store)
{
    if (store.programFolder.isEmpty())
        return;
    // In queue order, so that a restart lists the copies in the order they had (a removal
    // moves the last record into the freed slot, so slot order is not queue order).
    std::vector<const JobRecord *> waiting;
    for (int32_t i = 0; i < store.jobCount && size_t(i) < store.printJobs.size(); ++i) {
        const JobRecord &job = store.printJobs[size_t(i)];
        if (job.sentAhead && !job.photos.empty() && job.photos.front().printed == 0)
            waiting.push_back(&job);
    }
    std::stable_sort(waiting.begin(), waiting.end(), [](const JobRecord *a, const JobRecord *b) {
        return a->queueOrder < b->queueOrder;
    });
    QJsonArray copies;
    for (const JobRecord *copy : waiting)
        copies << toJson(*copy);
    for (const JobRecord &copy : store.sentAheadOutOfReach)
        copies << toJson(copy);
    QSaveFile file(sentAheadFile(store));
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(QJsonObject { { "copies", copies } }).toJson()) < 0
        || !file.commit())
        qCWarning(lcJobs).noquote()
            << "Cannot write" << file.fileName() << "-" << file.errorString()
            << "- photos sent ahead now would be lost by a restart";
}

int RestoreSentAhead(JobStore &store)
{
    if (store.programFolder.isEmpty())
        return 0;
    QFile file(sentAheadFile(store));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int listed = 0;
    // Source photos counted as printed by this restore, by job serial and line: a copy made
    // before them, kept after them (its slot moved), still waits.
    QSet<QPair<quint64, qint64>> markedHere;
    const QJsonArray copies = QJsonDocument::fromJson(file.readAll()).object()["copies"].toArray();
    for (const QJsonValue &value : copies) {
        JobRecord copy = fromJson(value.toObject());
        const QString images = JobFs::joinPath(copy.systemFolder, QStringLiteral("images"));
        const QString image = copy.photos.front().imageFileName;
        const QString path = JobFs::joinPath(images, image);
        if (!JobFs::isFolder(images)) {
            qCWarning(lcJobs).noquote()
                << "Print now copy" << path << "cannot be reached - it is listed at a later start";
            store.sentAheadOutOfReach.push_back(std::move(copy));
            continue;
        }
        if (image.isEmpty() || !JobFs::isFile(path))
            continue; // retired or removed with its files before the restart
        JobRecord *source = nullptr;
        PhotoItem *photo = sourcePhoto(store, copy, &source);
        const QPair<quint64, qint64> mark { source ? source->serial : 0,
                                            photo ? photo->lineOffset : 0 };
        if (photo && photo->printed != 0 && !copy.sourceWasPrinted && !markedHere.contains(mark)) {
            qCInfo(lcJobs).noquote()
                << "Print now copy" << path << "was printed before the restart: it goes to backup";
            const QString backup = JobFs::joinPath(
                JobFs::joinPath(copy.systemFolder, QStringLiteral("backup/images")), image);
            if (const int error = JobFs::moveReplacing(path, backup))
                qCWarning(lcJobs).noquote() << "Cannot move" << path << "to" << backup << "-"
                                            << JobFs::describeError(error) << "- the file stays";
            continue;
        }
        if (!hasRoomForJob(store)) {
            qCWarning(lcJobs).noquote()
                << "Print now copy" << path << "is not listed again: the queue is full";
            continue;
        }
        // Counted in its job again, so that the job ends without it, as before the restart.
        if (photo && photo->printed == 0) {
            photo->printed = 1;
            ++source->printedCount;
            markedHere << mark;
        }
        insertUrgentJob(store, std::move(copy), false);
        ++listed;
    }
    if (listed > 0)
        qCInfo(lcJobs, "Listed again %d photos sent ahead with print now", listed);
    saveSentAhead(store);
    return listed;
}
