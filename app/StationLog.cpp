#include "StationLog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>

#include <cstdio>

namespace {

QMutex logMutex;
QFile *logFile = nullptr;

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

void writeLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toUtf8()
        + levelName(type) + ' ' + (context.category ? context.category : "") + ": "
        + message.toUtf8() + '\n';
    QMutexLocker lock(&logMutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    if (logFile) {
        logFile->write(line);
        logFile->flush();
    }
}

} // namespace

void installStationLog(const QString &folder, bool mayRotate)
{
    const QString path = folder + QStringLiteral("/zelvo.log");
    if (mayRotate && QFile(path).size() > 10 * 1024 * 1024) {
        QFile::remove(path + QStringLiteral(".1"));
        QFile::rename(path, path + QStringLiteral(".1"));
    }
    {
        QMutexLocker lock(&logMutex);
        // Kept until the process ends: messages can come until the very last moment.
        logFile = new QFile(path);
        if (!logFile->open(QIODevice::Append | QIODevice::Text)) {
            delete logFile;
            logFile = nullptr;
        }
    }
    qInstallMessageHandler(writeLogLine);
}
