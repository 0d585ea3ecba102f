#include "JobFileSystem.h"

#include <QFile>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace JobFs {

namespace {

int resultOf(int rc)
{
    return rc == 0 ? 0 : errno;
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray parentFolder(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

const char temporaryCopyPrefix[] = ".zelvo-copy-";

int copyData(int source, int target)
{
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = sysCalls().write(target, buffer.data() + done, size_t(got - done));
            if (put < 0) {
                if (put == -EINTR)
                    continue;
                return int(-put);
            }
            if (put == 0)
                return EIO;
            done += put;
        }
    }
}

// Reads up to `size` bytes at `offset`, fewer only at the end of the file; -1 with errno set on
// an error.
ssize_t readAt(int fd, char *data, size_t size, off_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, data + done, size - done, offset + off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
    }
    return ssize_t(done);
}

// Compares the whole copy with its source. The copy's cached pages are dropped first where the
// file system allows, so that what is read back is what was stored.
int verifyCopy(int source, int target)
{
    ::posix_fadvise(target, 0, 0, POSIX_FADV_DONTNEED);
    std::vector<char> expected(64 * 1024), stored(64 * 1024);
    for (off_t offset = 0;;) {
        const ssize_t want = readAt(source, expected.data(), expected.size(), offset);
        if (want < 0)
            return errno;
        // At the source's end, one byte asked of the copy shows whether it is longer.
        const ssize_t got = readAt(target, stored.data(), want > 0 ? size_t(want) : 1, offset);
        if (got < 0)
            return errno;
        if (got != want || std::memcmp(expected.data(), stored.data(), size_t(want)) != 0)
            return EIO;
        if (want == 0)
            return 0;
        offset += want;
    }
}

// Makes a rename inside `folder` survive a power cut; a failure here loses nothing that is
// not already on disk, so it is not reported.
void syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Puts a complete, flushed and verified copy of `from` at `to`, replacing what is there only
// then. The temporary copy stays locked until it has its name, so that removeLeftoverCopies in
// another station leaves it alone.
int copyIntoPlace(const QByteArray &from, const QByteArray &to)
{
    const int source = ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (source < 0)
        return errno;
    struct stat sourceStat;
    if (::fstat(source, &sourceStat) != 0) {
        const int error = errno;
        ::close(source);
        return error;
    }
    const QByteArray folder = parentFolder(to);
    QByteArray temporary = folder + '/' + temporaryCopyPrefix + "XXXXXX";
    const int target = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (target < 0) {
        const int error = errno;
        ::close(source);
        return error;
    }
    int error = resultOf(::flock(target, LOCK_EX));
    if (error == 0)
        error = copyData(source, target);
    if (error == 0) {
        ::fchmod(target, sourceStat.st_mode & 07777);
        const struct timespec times[2] = { sourceStat.st_atim, sourceStat.st_mtim };
        ::futimens(target, times);
        error = sysCalls().syncFile(target);
    }
    if (error == 0)
        error = verifyCopy(source, target);
    if (error == 0)
        error = sysCalls().rename(temporary.constData(), to.constData());
    if (error != 0)
        ::unlink(temporary.constData());
    ::close(target);
    ::close(source);
    if (error == 0)
        syncFolder(folder);
    return error;
}

} // namespace

SysCalls realSysCalls()
{
    SysCalls calls;
    calls.renameNoReplace = [](const char *from, const char *to) {
        return resultOf(::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE));
    };
    calls.rename = [](const char *from, const char *to) { return resultOf(::rename(from, to)); };
    calls.link = [](const char *from, const char *to) { return resultOf(::link(from, to)); };
    calls.unlink = [](const char *path) { return resultOf(::unlink(path)); };
    calls.makeDir = [](const char *path) { return resultOf(::mkdir(path, 0777)); };
    calls.createFile = [](const char *path) {
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd >= 0 ? resultOf(::close(fd)) : errno;
    };
    calls.openForReading = [](const char *path) {
        // Non-blocking, so that a pipe put where a job file was cannot hang the station.
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
        return fd >= 0 ? fd : -errno;
    };
    calls.write = [](int fd, const void *data, size_t size) {
        const ssize_t put = ::write(fd, data, size);
        return put >= 0 ? put : ssize_t(-errno);
    };
    calls.syncFile = [](int fd) { return resultOf(::fsync(fd)); };
    calls.writeAt = [](int fd, const void *data, size_t size, off_t offset) {
        const ssize_t put = ::pwrite(fd, data, size, offset);
        return put >= 0 ? put : ssize_t(-errno);
    };
    calls.syncData = [](int fd) { return resultOf(::fdatasync(fd)); };
    return calls;
}

SysCalls &sysCalls()
{
    static SysCalls calls = realSysCalls();
    return calls;
}

std::vector<FolderEntry> listFolderFiles(const QString &folder)
{
    namespace fs = std::filesystem;
    std::vector<FolderEntry> files;
    std::error_code error;
    fs::directory_iterator it(fs::path(nativePath(folder).toStdString()), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code statusError;
        if (!it->is_regular_file(statusError))
            continue;
        const std::string name = it->path().filename().native();
        const QByteArray nativeName(name.data(), qsizetype(name.size()));
        files.push_back({ QFile::decodeName(nativeName), nativeName });
    }
    std::sort(files.begin(), files.end(), [](const FolderEntry &a, const FolderEntry &b) {
        return a.nativeName < b.nativeName;
    });
    return files;
}

QStringList listSubfolders(const QString &folder)
{
    namespace fs = std::filesystem;
    QStringList names;
    std::error_code error;
    fs::directory_iterator it(fs::path(nativePath(folder).toStdString()), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code statusError;
        if (it->is_directory(statusError) && !it->is_symlink(statusError))
            names << QFile::decodeName(QByteArray::fromStdString(it->path().filename().native()));
    }
    names.sort();
    return names;
}

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool isFolder(const QString &path)
{
    struct stat st;
    return ::stat(nativePath(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const QString &path)
{
    struct stat st;
    return ::stat(nativePath(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool existsAnything(const QString &path)
{
    struct stat st;
    return ::lstat(nativePath(path).constData(), &st) == 0;
}

int makeFolder(const QString &path)
{
    return sysCalls().makeDir(nativePath(path).constData());
}

int claimRename(const QString &from, const QString &to)
{
    const QByteArray source = nativePath(from);
    const QByteArray target = nativePath(to);
    const int error = sysCalls().renameNoReplace(source.constData(), target.constData());
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // The file system cannot rename without replacing: a hard link fails on an existing
    // name, which gives the same guarantee.
    if (const int linkError = sysCalls().link(source.constData(), target.constData()))
        return linkError;
    const int unlinkError = sysCalls().unlink(source.constData());
    // The old name already gone means another process finished this claim (a station that
    // found both names of one file); the file is under its new name, which must stay.
    if (unlinkError != 0 && unlinkError != ENOENT) {
        sysCalls().unlink(target.constData());
        return unlinkError;
    }
    return 0;
}

int moveReplacing(const QString &from, const QString &to)
{
    const QByteArray source = nativePath(from);
    const QByteArray target = nativePath(to);
    struct stat st;
    if (::lstat(source.constData(), &st) == 0 && S_ISLNK(st.st_mode))
        return ELOOP;
    const int error = sysCalls().rename(source.constData(), target.constData());
    if (error != EXDEV)
        return error;
    // The source goes only once its copy is in place.
    if (const int copyError = copyIntoPlace(source, target))
        return copyError;
    return sysCalls().unlink(source.constData());
}

int copyReplacing(const QString &from, const QString &to)
{
    return copyIntoPlace(nativePath(from), nativePath(to));
}

int removeLeftoverCopies(const QString &folder)
{
    int removed = 0;
    for (const FolderEntry &file : listFolderFiles(folder)) {
        if (!file.name.startsWith(QLatin1String(temporaryCopyPrefix)))
            continue;
        const QByteArray path = nativePath(folder) + '/' + file.nativeName;
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        // A copy in progress is locked by the process making it; a lock that can be had
        // belongs to no one.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && sysCalls().unlink(path.constData()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

std::optional<FileIdentity> identityOf(const QString &path)
{
    struct stat st;
    if (::stat(nativePath(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity { st.st_dev, st.st_ino };
}

FileContent readWholeFile(const QString &path)
{
    FileContent content;
    const int fd = sysCalls().openForReading(nativePath(path).constData());
    if (fd < 0) {
        content.error = describeError(-fd);
        return content;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        content.error = describeError(errno);
    } else if (!S_ISREG(st.st_mode)) {
        content.error = QStringLiteral("not a regular file");
    } else {
        content.identity = { st.st_dev, st.st_ino };
        content.data.reserve(qsizetype(st.st_size));
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                content.error = describeError(errno);
                content.data.clear();
                break;
            }
            if (got == 0)
                break;
            content.data.append(buffer, qsizetype(got));
        }
    }
    ::close(fd);
    return content;
}

QString describeError(int error)
{
    // What opening a symbolic link without following it gives.
    if (error == ELOOP)
        return QStringLiteral("it is a symbolic link, which the station never follows");
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace JobFs
