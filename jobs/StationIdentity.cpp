#include "StationIdentity.h"

#include "JobOwnership.h"
#include "JobsLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>
#include <QSysInfo>

namespace {

const char *const IdFileName = "zelvo-station";

QSet<QByteArray> addressSet(const QByteArray &list)
{
    const QList<QByteArray> items = list.split(',');
    QSet<QByteArray> set(items.cbegin(), items.cend());
    set.remove(QByteArray());
    return set;
}

// "key=value" lines.
QByteArray valueOf(const QByteArray &text, const QByteArray &key)
{
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1).trimmed();
    return QByteArray();
}

} // namespace

QByteArray networkHardware()
{
    QStringList hashes;
    const QDir net(QStringLiteral("/sys/class/net"));
    for (const QString &adapter : net.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        // Only adapters on a bus have a "device": loopback, bridges and tunnels have none.
        if (!QFileInfo::exists(net.filePath(adapter + QStringLiteral("/device"))))
            continue;
        QFile address(net.filePath(adapter + QStringLiteral("/address")));
        if (!address.open(QIODevice::ReadOnly))
            continue;
        const QByteArray value = address.readAll().trimmed();
        if (!value.isEmpty() && value != "00:00:00:00:00:00")
            hashes << QString::fromLatin1(
                QCryptographicHash::hash(value, QCryptographicHash::Sha1).toHex().left(8));
    }
    hashes.sort();
    return hashes.join(QLatin1Char(',')).toLatin1();
}

StationIdentity loadStationIdentity(const QString &programFolder, const QByteArray &hardware)
{
    const QString path = QDir(programFolder).filePath(QLatin1String(IdFileName));
    QFile kept(path);
    QByteArray text;
    if (kept.open(QIODevice::ReadOnly))
        text = kept.read(4096);
    const QString keptId = QString::fromUtf8(valueOf(text, "id"));
    const QSet<QByteArray> keptHardware = addressSet(valueOf(text, "hardware"));
    // Another PC shares none of the adapters; one adapter more or less is the same PC.
    const bool copied = !keptHardware.isEmpty() && !addressSet(hardware).isEmpty()
        && !keptHardware.intersects(addressSet(hardware));
    const bool usable = !keptId.isEmpty() && !keptId.startsWith(QLatin1Char('.'))
        && !keptId.contains(QLatin1Char('/'));
    if (usable && !copied) {
        StationIdentity identity { keptId, {} };
        const QString earlier = QString::fromUtf8(valueOf(text, "earlier"));
        if (!earlier.isEmpty())
            identity.previousIds << earlier;
        return identity;
    }

    StationIdentity identity;
    identity.id = stationHostPart() + QLatin1Char('-')
        + QString::number(QRandomGenerator::system()->generate() | 0x10000000u, 16);
    QByteArray made = "id=" + identity.id.toUtf8() + "\nhardware=" + hardware + '\n';
    if (!copied && !QFile::exists(path)) {
        // A station of an earlier version held its jobs under the id derived from this folder.
        identity.previousIds << stationIdFor(programFolder);
        made += "earlier=" + identity.previousIds.first().toUtf8() + '\n';
    }
    if (copied)
        qCWarning(lcJobs).noquote()
            << "The station id" << keptId << "in" << path
            << "was made on another PC (a copied disk); this one is now" << identity.id;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(made) != made.size() || !file.commit())
        qCWarning(lcJobs).noquote() << "Cannot keep the station id in" << path << "-"
                                    << file.errorString() << "- the next start makes another";
    return identity;
}
