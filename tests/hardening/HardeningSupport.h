#pragma once

#include "TestFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <functional>

#include <stdio.h>

// What the hardening tests share: job files and photos delivered as the order-taking program
// delivers them, and station_harness processes to drive.
namespace Hardening {

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

#ifdef STATION_HARNESS
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

    bool ready() const { return !lines.filter(QRegularExpression("^READY ")).isEmpty(); }
    bool running() const { return process.state() != QProcess::NotRunning; }
    void send(const QByteArray &command) { process.write(command + '\n'); }
    // The job files claimed, each with its photo count.
    QStringList claims() const { return lines.filter(QRegularExpression("^CLAIM ")); }

    QProcess process;
    QStringList lines;
    QByteArray errors;

private:
    QByteArray pending;
};

// Waits until `done()` holds while the stations work, and says why not as soon as one of them
// has ended or none has said anything for `stallMs`, instead of at a timeout minutes later.
inline QString waitWhileStationsWork(const QList<const Station *> &stations,
                                     const std::function<bool()> &done, int stallMs = 15000)
{
    QElapsedTimer quiet;
    for (qsizetype said = -1, lines = 0; !done(); QTest::qWait(10), lines = 0) {
        for (const Station *station : stations) {
            if (!station->running())
                return QStringLiteral("a station ended (exit code %1), saying: %2")
                    .arg(station->process.exitCode())
                    .arg(QString::fromLocal8Bit(station->errors.right(2000)));
            lines += station->lines.size();
        }
        if (lines != said) {
            said = lines;
            quiet.start();
        } else if (quiet.hasExpired(stallMs)) {
            return QStringLiteral("the stations stalled: nothing said for %1 ms").arg(stallMs);
        }
    }
    return {};
}
#endif

} // namespace Hardening
