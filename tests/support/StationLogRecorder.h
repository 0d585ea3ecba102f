#pragma once

#include <QStringList>
#include <QtGlobal>

// What is logged while a recorder lives, by level; every message also goes on to the handler
// that was there before (the test runner's).
class StationLogRecorder
{
public:
    StationLogRecorder()
    {
        clear();
        s_previous = qInstallMessageHandler(&record);
    }
    ~StationLogRecorder() { qInstallMessageHandler(s_previous); }
    StationLogRecorder(const StationLogRecorder &) = delete;
    StationLogRecorder &operator=(const StationLogRecorder &) = delete;

    // Warnings and worse, as "category: message".
    static QStringList &warnings() { return s_warnings; }
    static QStringList &infos() { return s_infos; }
    static void clear() { s_warnings.clear(), s_infos.clear(); }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        const QString line = QString::fromUtf8(context.category ? context.category : "")
            + QStringLiteral(": ") + message;
        if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
            s_warnings << line;
        else if (type == QtInfoMsg)
            s_infos << line;
        s_previous(type, context, message);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_warnings;
    static inline QStringList s_infos;
};
