#pragma once

#include "TestFiles.h"
#include "TestPhotos.h"

#include <QDateTime>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

#include <functional>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

// What the hardening tests share: job files and photos delivered as the order-taking program
// delivers them, and station_harness processes to drive.
namespace Hardening {

// Writes to a temporary file no station takes, then renames it into place: a station never sees
// a file half written.
inline bool dropFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// Job 1AB<key>.job of `photos` JPEG photos, as the order-taking program delivers it: the photos
// first. `tag` sets the photos' sizes and the amounts, so that no two jobs have the same bytes.
// Returns the photos' bytes by name; `text` gets the job file's.
inline QMap<QString, QByteArray> deliverJob(const QString &root, const QString &key, int photos,
                                            int tag, QByteArray *text = nullptr)
{
    QMap<QString, QByteArray> delivered;
    for (int p = 1; p <= photos; ++p) {
        const QString name = QStringLiteral("AB%1_%2.jpg").arg(key).arg(p, 4, 10, QChar('0'));
        delivered[name] = TestPhotos::jpegBytes(16 + tag % 64, 12 + p + 4 * (tag / 64));
        if (!dropFile(root + "/images/" + name, delivered[name]))
            return {};
    }
    const QByteArray job = jobText(photos, tag);
    if (text)
        *text = job;
    return dropFile(root + "/jobs/1AB" + key + ".job", job) ? delivered
                                                            : QMap<QString, QByteArray>();
}

// The documents the built-in printer wrote into `pdfFolder`, counted by photo; `blank` gets
// those without the photo in them.
inline QMap<QString, int> documentsByPhoto(const QString &pdfFolder, QStringList *blank = nullptr)
{
    static const QRegularExpression pdfName(QStringLiteral("_Zelvo_(.+\\.jpg)(-\\d+)?\\.pdf$"));
    QMap<QString, int> prints;
    for (const QString &name : QDir(pdfFolder).entryList(QDir::Files)) {
        ++prints[pdfName.match(name).captured(1)];
        if (blank && !readFile(pdfFolder + '/' + name).contains("/Image"))
            *blank << name;
    }
    return prints;
}

// "" when each of `photos` is in exactly one document of `pdfFolder` (or at most `reprints` of
// it more) and none is blank; otherwise what is wrong.
inline QString notPrintedOnce(const QString &pdfFolder, const QStringList &photos,
                              const QMap<QString, int> &reprints = {})
{
    QStringList blank;
    const QMap<QString, int> documents = documentsByPhoto(pdfFolder, &blank);
    if (!blank.isEmpty())
        return blank.join(' ') + ": without their photos";
    for (const QString &photo : photos)
        if (documents.value(photo) < 1 || documents.value(photo) > 1 + reprints.value(photo))
            return QStringLiteral("%1 printed %2 times").arg(photo).arg(documents.value(photo));
    return {};
}

// The accounts of a shop's set-up, made for a test that runs as root: an operator in the group
// `zelvo` who runs the station, and the account the order-taking program writes as, in the
// group too, with the usual umask (0644 files). Accounts made here are removed at the end.
struct ShopAccounts
{
    ShopAccounts()
    {
        if (::geteuid() != 0) {
            error = QStringLiteral("accounts can only be made as root");
            return;
        }
        if (!::getgrnam("zelvo") && !run({ "groupadd", "--system", "zelvo" }, "group")
            && !::getgrnam("zelvo"))
            return;
        for (const char *name : { "zelvoop1", "zelvoorder" })
            if (!::getpwnam(name)
                && !run({ "useradd", "--no-create-home", "--gid", "zelvo", "--shell",
                          "/usr/sbin/nologin", name },
                        name)
                && !::getpwnam(name)) // unless another test made it meanwhile
                return;
        error.clear();
        group = ::getgrnam("zelvo")->gr_gid;
        operatorUid = ::getpwnam("zelvoop1")->pw_uid;
        orderUid = ::getpwnam("zelvoorder")->pw_uid;
    }
    ~ShopAccounts()
    {
        for (const QString &name : made)
            QProcess::execute(name == "group" ? "groupdel" : "userdel",
                              { name == "group" ? "zelvo" : name });
    }
    bool ready() const { return error.isEmpty(); }

    // A group-writable folder of the group, as a shop's system folder is.
    bool shareFolder(const QString &path) const
    {
        return ::chown(QFile::encodeName(path).constData(), 0, group) == 0
            && ::chmod(QFile::encodeName(path).constData(), 02775) == 0;
    }
    // For QProcess::setChildProcessModifier: the child runs as the operator.
    std::function<void()> asOperator() const
    {
        return [uid = operatorUid, gid = group] {
            if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
        };
    }

    // While one lives, this process writes files as the order-taking program (umask 022); with
    // no accounts, as itself.
    struct AsOrderProgram
    {
        explicit AsOrderProgram(const ShopAccounts *accounts)
            : active(accounts && accounts->ready())
        {
            if (active)
                active = ::setegid(accounts->group) == 0 && ::seteuid(accounts->orderUid) == 0;
            oldMask = ::umask(022);
        }
        ~AsOrderProgram()
        {
            ::umask(oldMask);
            if (active && (::seteuid(0) != 0 || ::setegid(0) != 0))
                qFatal("cannot become root again");
        }
        bool active = false;
        mode_t oldMask = 0;
    };

    gid_t group = 0;
    uid_t operatorUid = 0, orderUid = 0;
    QString error;
    QStringList made;

private:
    bool run(const QStringList &command, const QString &what)
    {
        if (QProcess::execute(command[0], command.mid(1)) != 0) {
            error = command.join(' ') + " failed";
            return false;
        }
        made.prepend(what); // removed in reverse: the accounts before their group
        return true;
    }
};

#ifdef STATION_HARNESS
// A station_harness process; its output lines are collected as they come. `modifier` runs in
// the child before the harness (ShopAccounts::asOperator).
class StationProcess
{
public:
    explicit StationProcess(const QStringList &arguments,
                            const std::function<void()> &modifier = {})
    {
        if (modifier)
            process.setChildProcessModifier(modifier);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            pending += process.readAllStandardOutput();
            for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
                lines << QString::fromUtf8(pending.left(end));
                times << QDateTime::currentMSecsSinceEpoch();
            }
        });
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { errors += process.readAllStandardError(); });
        process.start(QStringLiteral(STATION_HARNESS), arguments);
    }
    ~StationProcess()
    {
        process.kill();
        process.waitForFinished();
    }

    bool ready() const { return !lines.filter(QRegularExpression("^READY ")).isEmpty(); }
    bool running() const { return process.state() != QProcess::NotRunning; }
    // Stopped by SIGSTOP (the harness's --stop-at); resume() continues it.
    bool stopped() const
    {
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(process.processId()));
        return stat.mid(stat.lastIndexOf(')') + 2, 1) == "T";
    }
    void resume()
    {
        if (process.processId() > 0)
            ::kill(pid_t(process.processId()), SIGCONT);
    }
    void send(const QByteArray &command) { process.write(command + '\n'); }
    // The job files claimed, each with its photo count.
    QStringList claims() const { return lines.filter(QRegularExpression("^CLAIM ")); }

    QProcess process;
    QStringList lines;
    QList<qint64> times; // when each line came, in ms since the epoch
    QByteArray errors;

private:
    QByteArray pending;
};
#endif

} // namespace Hardening
