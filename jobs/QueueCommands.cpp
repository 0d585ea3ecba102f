#include "QueueCommands.h"

#include "JobFileSystem.h"
#include "JobRetirement.h"
#include "JobTable.h"
#include "JobsLog.h"
#include "SentAhead.h"

#include <QFile>

#include <limits>

namespace {

const QLatin1String UrgentPrefix("Urgente ");

// The number written after "Urgente ": leading blanks skipped, then the digits up to the first
// other character; 0 when there are none.
qint64 readUrgentNumber(const QString &entryText)
{
    const QString rest = entryText.mid(UrgentPrefix.size()).trimmed();
    qint64 number = 0;
    for (const QChar c : rest) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        number = number * 10 + (c.unicode() - '0');
        if (number > std::numeric_limits<int>::max() - 1)
            return std::numeric_limits<int>::max() - 1;
    }
    return number;
}

// The slot of the record whose listKey is `key`, or -1. FindJobByKey answers 0 for a key no
// record holds, which must not be taken for the job in slot 0.
int32_t findLiveRecord(const JobStore &store, const QString &key)
{
    const int32_t slot = FindJobByKey(store.printJobs, key);
    if (slot < 0 || slot >= store.jobCount || size_t(slot) >= store.printJobs.size()
        || store.printJobs[size_t(slot)].listKey != key)
        return -1;
    return slot;
}

} // namespace

int queueMoveTarget(QueueMove move, int selected, int count)
{
    switch (move) {
    case QueueMove::ToTop:
        return selected > 0 ? 0 : -1;
    case QueueMove::Up:
        return selected > 0 ? selected - 1 : -1;
    case QueueMove::Down:
        return selected >= 0 && selected < count - 1 ? selected + 1 : -1;
    case QueueMove::ToBottom:
        return selected >= 0 && selected < count - 1 ? count - 1 : -1;
    }
    return -1;
}

bool MoveSelectedJob(JobStore &store, QueueMove move)
{
    QueueList &list = store.LstJobs;
    const int selected = list.selectedIndex();
    const int target = queueMoveTarget(move, selected, list.count());
    if (target < 0)
        return false;
    const QString text = list.text(selected);
    list.remove(selected);
    list.insert(target, text);
    store.lastShownIndex = target;
    list.select(target);
    RenumberQueue(store);
    return true;
}

QString formRemoveKey(const QString &entryText)
{
    if (entryText.contains(QLatin1String("rgent")))
        return entryText;
    return entryText.mid(4);
}

quint64 SelectedJobSerial(const JobStore &store)
{
    const int selected = store.LstJobs.selectedIndex();
    if (selected < 0)
        return 0;
    const int32_t slot = findLiveRecord(store, formRemoveKey(store.LstJobs.text(selected)));
    return slot < 0 ? 0 : store.printJobs[size_t(slot)].serial;
}

bool RemoveJob(JobStore &store, quint64 serial)
{
    if (serial == 0)
        return false;
    for (int32_t slot = 0; slot < store.jobCount && size_t(slot) < store.printJobs.size(); ++slot) {
        if (store.printJobs[size_t(slot)].serial == serial) {
            RetireJob(store, slot);
            return true;
        }
    }
    qCInfo(lcJobs) << "Remove: the job asked about has left the queue meanwhile - nothing removed";
    return false;
}

UrgentPlace findUrgentPlace(const QueueList &list)
{
    qint64 highest = 0;
    int place = 0;
    for (int i = 0; i < list.count(); ++i) {
        const QString text = list.text(i);
        if (!text.contains(QLatin1String("rgente")))
            continue;
        const qint64 number = readUrgentNumber(text);
        // ">=": of two entries with the same number the lower one wins.
        if (number >= highest) {
            place = i;
            highest = number;
        }
    }
    if (highest < 1)
        return { 1, 0 };
    return { int(highest + 1), place + 1 };
}

QString freeUrgentCopyName(const QString &imagesFolder, const QString &imageFileName)
{
    const QString extension = imageFileName.right(4);
    const QString stem = imageFileName.left(imageFileName.size() - extension.size());
    // A folder of a million copies of one photo is not a real case; stop rather than spin.
    for (int c = 0; c < 1'000'000; ++c) {
        const QString name = stem + QLatin1Char('u') + QString::number(c) + extension;
        if (!JobFs::existsAnything(JobFs::joinPath(imagesFolder, name)))
            return name;
    }
    return {};
}

bool copyImageFile(const QString &from, const QString &to)
{
    // Never through a link: its target could be any file the operator may read.
    if (const int error = JobFs::copyReplacing(from, to)) {
        qCWarning(lcJobs).noquote()
            << "Cannot copy" << from << "to" << to << "-" << JobFs::describeError(error);
        return false;
    }
    return true;
}

PrintNowResult PrintNow(JobStore &store, int k, const CopyImageFunction &copy)
{
    const int selected = store.LstJobs.selectedIndex();
    if (selected < 0)
        return PrintNowResult::NoSource;
    const int32_t source = findLiveRecord(store, store.LstJobs.text(selected).mid(4));
    if (source < 0 || k < 0 || size_t(k) >= store.printJobs[size_t(source)].photos.size())
        return PrintNowResult::NoSource;
    if (store.photoOnItsWay && store.photoOnItsWay(store.printJobs[size_t(source)].serial, k)) {
        qCInfo(lcJobs).noquote() << "Print now of"
                                 << store.printJobs[size_t(source)].photos[size_t(k)].imageFileName
                                 << "not done: its document is on its way to the printer already";
        return PrintNowResult::OnItsWay;
    }
    if (!hasRoomForJob(store)) {
        qCWarning(lcJobs, "Print now refused: the queue is full (%d jobs)", int(MaxJobs));
        return PrintNowResult::QueueFull;
    }

    JobRecord urgent;
    {
        const JobRecord &job = store.printJobs[size_t(source)];
        urgent.fileName = job.fileName;
        urgent.fileIdentity = job.fileIdentity;
        urgent.orderPrefix = job.orderPrefix;
        urgent.systemFolder = job.systemFolder;
        urgent.photos.push_back(job.photos[size_t(k)]);
    }
    PhotoItem &photo = urgent.photos.front();
    photo.printed = 0;

    // The copy comes first, so that a copy that fails leaves no urgent job behind.
    const QString images = JobFs::joinPath(urgent.systemFolder, QStringLiteral("images"));
    const QString sourceImage = JobFs::joinPath(images, photo.imageFileName);
    if (!photo.imageFileName.isEmpty() && JobFs::isFile(sourceImage)) {
        const QString copyName = freeUrgentCopyName(images, photo.imageFileName);
        if (copyName.isEmpty() || !copy(sourceImage, JobFs::joinPath(images, copyName))) {
            qCWarning(lcJobs).noquote()
                << "Print now of" << sourceImage << "not done: its copy could not be made";
            return PrintNowResult::CopyFailed;
        }
        photo.imageFileName = copyName;
    } else {
        photo.imageFileName.clear();
    }

    urgent.sentAhead = true;
    urgent.sourceWasPrinted = store.printJobs[size_t(source)].photos[size_t(k)].printed != 0;
    insertUrgentJob(store, std::move(urgent), false);

    // Counted once: the dispatcher ends the job when printedCount reaches photoCount.
    PhotoItem &sent = store.printJobs[size_t(source)].photos[size_t(k)];
    if (sent.printed == 0) {
        sent.printed = 1;
        ++store.printJobs[size_t(source)].printedCount;
    }
    saveSentAhead(store);
    return PrintNowResult::Made;
}

QString insertUrgentJob(JobStore &store, JobRecord urgent, bool atHead)
{
    const UrgentPlace place = findUrgentPlace(store.LstJobs);
    urgent.listKey = UrgentPrefix + QString::number(place.number);
    urgent.photoCount = 1;
    urgent.printedCount = 0;
    urgent.queueOrder = 1;
    urgent.urgent = true;
    urgent.serial = ++store.lastSerial;
    urgent.photos.front().printed = 0;
    store.LstJobs.insert(atHead ? 0 : place.index, urgent.listKey);
    // The entry may take the index of the job the viewer shows, which must not keep showing.
    store.forceThumbRefresh = true;
    const size_t slot = size_t(store.jobCount);
    store.printJobs.resize(slot + 1);
    store.printJobs[slot] = std::move(urgent);
    ++store.jobCount;
    RenumberQueue(store);
    return store.printJobs[slot].listKey;
}

std::optional<UrgentReprint> QueueReprint(JobStore &store, const JobRecord &source,
                                          const PhotoItem &photo)
{
    const QString &systemFolder = source.systemFolder;
    if (!hasRoomForJob(store)) {
        qCWarning(lcJobs, "Reprint of '%s' refused: the queue is full",
                  qUtf8Printable(photo.imageFileName));
        return std::nullopt;
    }
    // From wherever the photo is now: still waiting with its job, or retired with it.
    const QString images = JobFs::joinPath(systemFolder, QStringLiteral("images"));
    QString from = JobFs::joinPath(images, photo.imageFileName);
    if (!JobFs::isFile(from))
        from = JobFs::joinPath(JobFs::joinPath(systemFolder, QStringLiteral("backup/images")),
                               photo.imageFileName);
    const QString copyName = photo.imageFileName.isEmpty() || !JobFs::isFile(from)
        ? QString()
        : freeUrgentCopyName(images, photo.imageFileName);
    if (copyName.isEmpty() || !copyImageFile(from, JobFs::joinPath(images, copyName))) {
        qCWarning(lcJobs).noquote()
            << "Reprint of" << photo.imageFileName << "not done: the photo is in neither" << images
            << "nor its backup, or its copy could not be made";
        return std::nullopt;
    }
    JobRecord urgent;
    urgent.fileName = source.fileName;
    urgent.orderPrefix = source.orderPrefix;
    urgent.systemFolder = systemFolder;
    urgent.photos.push_back(photo);
    urgent.photos.front().imageFileName = copyName;
    // Recorded as printed in its job file when CUPS first took it.
    urgent.photos.front().lineOffset = -1;
    return UrgentReprint { insertUrgentJob(store, std::move(urgent), true), copyName };
}
