#pragma once

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <stdio.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

// What the hardening tests share: job files and photos delivered as the order-taking program
// delivers them, and station_harness processes to drive.
namespace Hardening {

inline QByteArray hashOf(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes under a name no station takes, then renames into place: a station never sees a file
// half written.
inline bool dropFile(const QString &path, const QByteArray &bytes)
{
    const QString temporary = path + QStringLiteral(".part");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData())
        == 0;
}

// A job file's text: `photos` lines of one copy each on 10x15, the amount telling the job
// apart from every other, so that no two job files have the same content.
inline QByteArray jobText(int photos, int tag)
{
    QByteArray text;
    for (int i = 1; i <= photos; ++i)
        text += "0" + QByteArray::number(i).rightJustified(4, '0') + "0001"
            + QByteArray::number(tag).rightJustified(8, '0') + "\r\n";
    return text;
}

inline QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// A tmpfs of `options` (such as "size=1m") mounted on `folder` while this lives; needs root.
class TmpfsMount
{
public:
    TmpfsMount(const QString &folder, const char *options)
        : m_folder(QFile::encodeName(folder))
    {
        m_mounted = ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options) == 0;
        if (!m_mounted)
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }

private:
    QByteArray m_folder;
    bool m_mounted = false;
    QString m_error;
};

// A station_harness process; its output lines are collected as they come.
class Station
{
public:
    explicit Station(const QStringList &arguments)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            pending += process.readAllStandardOutput();
            for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
                lines << QString::fromUtf8(pending.left(end));
        });
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { errors += process.readAllStandardError(); });
        process.start(QStringLiteral(STATION_HARNESS), arguments);
    }
    ~Station()
    {
        process.kill();
        process.waitForFinished();
    }

    bool ready() const { return !lines.filter(QStringLiteral("READY ")).isEmpty(); }
    bool running() const { return process.state() != QProcess::NotRunning; }
    void send(const QByteArray &command) { process.write(command + '\n'); }
    // The words after `event` of each line that starts with it.
    QStringList events(const QString &event) const
    {
        QStringList found;
        for (const QString &line : lines)
            if (line.startsWith(event + QLatin1Char(' ')))
                found << line.mid(event.size() + 1);
        return found;
    }

    QProcess process;
    QStringList lines;
    QByteArray errors;

private:
    QByteArray pending;
};

} // namespace Hardening
