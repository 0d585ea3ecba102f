#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>
#include <optional>
#include <vector>

// The file-system operations of the job store, on std::filesystem and POSIX. Paths are
// QStrings in the local 8-bit encoding of file names (QFile::encodeName).
namespace JobFs {

// The system calls that change the disk or open a job file. Each returns 0 (or, for
// openForReading, a descriptor) on success and the errno value (negated for openForReading)
// on failure. Tests swap single entries to make the file system refuse; production code never
// changes them.
struct SysCalls
{
    std::function<int(const char *from, const char *to)> renameNoReplace;
    std::function<int(const char *from, const char *to)> rename;
    std::function<int(const char *from, const char *to)> link;
    std::function<int(const char *path)> unlink;
    std::function<int(const char *path)> makeDir;
    // Creates an empty file (a station's marker of a job); EEXIST when one is there.
    std::function<int(const char *path)> createFile;
    std::function<int(const char *path)> openForReading;
    // The writes and the flush of the copy that moves a file to another file system: the
    // bytes written (or -errno), and 0 or errno.
    std::function<ssize_t(int fd, const void *data, size_t size)> write;
    std::function<int(int fd)> syncFile;
    // The in-place write that records a printed photo in its job file, and its flush.
    std::function<ssize_t(int fd, const void *data, size_t size, off_t offset)> writeAt;
    std::function<int(int fd)> syncData;
};

SysCalls &sysCalls();
SysCalls realSysCalls();

struct FolderEntry
{
    QString name;
    QByteArray nativeName; // the bytes on disk; differs from encodeName(name) for names that are
                           // not valid text
};

// The regular files of `folder` (symbolic links followed), sorted by their names' bytes.
// Empty when the folder is missing or cannot be read.
std::vector<FolderEntry> listFolderFiles(const QString &folder);

// `folder` + "/" + `name`, without doubling a separator the folder already ends in.
QString joinPath(const QString &folder, const QString &name);

// The names of the folders in `folder` (links to folders not followed), sorted.
QStringList listSubfolders(const QString &folder);

bool isFolder(const QString &path);
// Something that is not a folder is there (a file, or a link to one).
bool isFile(const QString &path);
// Anything at all is there, a dangling link included.
bool existsAnything(const QString &path);

// Creates one folder; its parent must exist. 0 or errno.
int makeFolder(const QString &path);

// Renames `from` to `to` unless `to` exists; never replaces anything (POSIX rename would).
// 0 or errno (EEXIST when `to` exists).
int claimRename(const QString &from, const QString &to);

// The station never reads, copies or moves what a symbolic link in its folders points at, nor
// the link itself: the job-file reads, the moves and the copies below fail on one with ELOOP.

// Moves `from` to `to`, replacing a file already at `to`. Within one file system this is one
// atomic rename. Across file systems the data is copied to a temporary file beside `to`
// (".zelvo-copy-" and six characters: neither a job file nor a photo), flushed, read back and
// compared with `from`, renamed over `to`, and only then is `from` removed. 0 or errno; on
// failure `from` is still there, and unless only its removal failed, any older file at `to` is
// untouched and no temporary file is left.
int moveReplacing(const QString &from, const QString &to);

// Copies `from` to `to`, replacing a file already at `to`, the way moveReplacing copies across
// file systems; `from` stays. 0 or errno; on failure any older file at `to` is untouched.
int copyReplacing(const QString &from, const QString &to);

// Removes the temporary copies that a move cut short (a crash, a power cut) left in `folder`;
// a copy that another process is still making is left alone. Returns the number removed.
int removeLeftoverCopies(const QString &folder);

struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

std::optional<FileIdentity> identityOf(const QString &path);

struct FileContent
{
    QByteArray data;
    FileIdentity identity;
    QString error; // empty when the whole file was read
};

// Reads a regular file whole, without creating it.
FileContent readWholeFile(const QString &path);

QString describeError(int error);

} // namespace JobFs
