#include "ModIni.h"

#include "LocaleNumber.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcIni, "zelvo.settings")

namespace ModIni {
namespace {

// The file as raw lines, so a save can keep every line it does not touch byte for byte.
struct IniFile
{
    QList<QByteArray> lines; // without their line ends
    bool crlf = false; // line end used when lines are added
    bool endsWithNewline = true;
    bool utf8 = true; // false: a single-byte file, read and written as Latin-1
};

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

IniFile parseIni(const QByteArray &raw)
{
    IniFile file;
    QByteArray data = raw;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(data);
    file.utf8 = !decoder.hasError();
    file.crlf = data.contains("\r\n");
    file.endsWithNewline = data.isEmpty() || data.endsWith('\n');
    file.lines = data.split('\n');
    if (data.endsWith('\n') || data.isEmpty())
        file.lines.removeLast();
    for (QByteArray &line : file.lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    // The byte-order mark belongs to the first line; put it back so a save keeps it.
    if (raw.startsWith("\xEF\xBB\xBF") && !file.lines.isEmpty())
        file.lines.first().prepend("\xEF\xBB\xBF");
    return file;
}

QString decodeLine(const IniFile &file, const QByteArray &line)
{
    QByteArray bytes = line;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    // A value ends at a NUL, as it does for the platform's string functions.
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return file.utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

QByteArray encodeLine(const IniFile &file, const QString &text)
{
    return file.utf8 ? text.toUtf8() : text.toLatin1();
}

// "[name]" gives name; a line that is not a section header gives nullopt.
std::optional<QString> sectionName(const QString &line)
{
    const QString trimmed = trimBlanks(line);
    if (!trimmed.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
    return trimBlanks(trimmed.mid(1, close < 0 ? -1 : close - 1));
}

struct KeyLine
{
    QString key;
    QString value;
};

std::optional<KeyLine> keyLine(const QString &line)
{
    const QString trimmed = trimBlanks(line);
    if (trimmed.startsWith(QLatin1Char(';')))
        return std::nullopt;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return std::nullopt;
    KeyLine kv { trimBlanks(line.left(eq)), trimBlanks(line.mid(eq + 1)) };
    if (kv.value.size() >= 2) {
        const QChar first = kv.value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && kv.value.back() == first)
            kv.value = kv.value.mid(1, kv.value.size() - 2);
    }
    return kv;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a section's lines are: the header's index and one past its last line.
struct SectionSpan
{
    qsizetype header = -1;
    qsizetype end = -1;
};

SectionSpan findSection(const IniFile &file, const QString &section)
{
    SectionSpan span;
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        const auto name = sectionName(decodeLine(file, file.lines[i]));
        if (!name)
            continue;
        if (span.header >= 0) {
            span.end = i;
            return span;
        }
        if (sameName(*name, section))
            span.header = i;
    }
    if (span.header >= 0)
        span.end = file.lines.size();
    return span;
}

qsizetype findKey(const IniFile &file, const SectionSpan &span, const QString &key)
{
    for (qsizetype i = span.header + 1; i < span.end; ++i) {
        const auto kv = keyLine(decodeLine(file, file.lines[i]));
        if (kv && sameName(kv->key, key))
            return i;
    }
    return -1;
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

// Writes `data` to a temporary file beside `path`, syncs it and renames it into place, so a
// reader sees either the old file or the new one, never a part.
bool replaceFileAtomically(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = QFile::encodeName(info.absolutePath()) + "/."
        + QFile::encodeName(info.fileName()) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        qCWarning(lcIni, "Cannot create a temporary file beside '%s': %s", target.constData(),
                  std::strerror(errno));
        return false;
    }
    struct stat old;
    const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = writeAll(fd, data) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        qCWarning(lcIni, "Cannot write '%s': %s", target.constData(),
                  std::strerror(savedErrno ? savedErrno : errno));
        ::unlink(temp.constData());
        return false;
    }
    const int dir
        = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// Re-encodes a single-byte file's lines as UTF-8. A byte-order mark stays as it is:
// re-encoded it would no longer be skipped, and the section header behind it would be lost.
void convertToUtf8(IniFile &file)
{
    const QByteArray bom("\xEF\xBB\xBF");
    for (QByteArray &line : file.lines) {
        const bool marked = line.startsWith(bom);
        line = (marked ? bom : QByteArray())
            + QString::fromLatin1(marked ? line.mid(bom.size()) : line).toUtf8();
    }
    file.utf8 = true;
}

QByteArray joinLines(const IniFile &file)
{
    const QByteArray eol = file.crlf ? "\r\n" : "\n";
    QByteArray out;
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        out += file.lines[i];
        if (i + 1 < file.lines.size() || file.endsWithNewline)
            out += eol;
    }
    return out;
}

} // namespace

QString readIniValue(const QByteArray &content, const QString &section, const QString &key)
{
    const IniFile file = parseIni(content);
    const SectionSpan span = findSection(file, section);
    if (span.header < 0)
        return {};
    const qsizetype line = findKey(file, span, key);
    if (line < 0)
        return {};
    return keyLine(decodeLine(file, file.lines[line]))->value.left(MaxValueLength);
}

std::optional<QByteArray> writeIniValue(const QByteArray &content, const QString &section,
                                        const QString &key, const QString &value)
{
    // A line break or NUL would split the entry and corrupt the lines after it; '=' in a key
    // or ']' in a section name would make it read back as another name.
    const auto breaksLine = [](const QString &text) {
        return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))
            || text.contains(QChar(0));
    };
    const QString keyName = trimBlanks(key);
    if (breaksLine(value) || breaksLine(key) || breaksLine(section)
        || key.contains(QLatin1Char('=')) || section.contains(QLatin1Char(']')) || keyName.isEmpty()
        || keyName.startsWith(QLatin1Char(';')) || keyName.startsWith(QLatin1Char('[')))
        return std::nullopt;
    IniFile file = parseIni(content);
    // A value that a single-byte file cannot hold makes the whole file UTF-8 from now on.
    if (!file.utf8 && QString::fromLatin1(value.toLatin1()) != value)
        convertToUtf8(file);
    const QByteArray entry = encodeLine(file, key + QLatin1Char('=') + value);
    const SectionSpan span = findSection(file, section);
    if (span.header < 0) {
        file.lines.append(encodeLine(file, QLatin1Char('[') + section + QLatin1Char(']')));
        file.lines.append(entry);
        file.endsWithNewline = true;
    } else if (const qsizetype line = findKey(file, span, key); line >= 0) {
        file.lines[line] = entry;
    } else {
        // New keys go after the section's last non-blank line, ahead of any blank separator.
        qsizetype at = span.end;
        while (at > span.header + 1 && decodeLine(file, file.lines[at - 1]).trimmed().isEmpty())
            --at;
        file.lines.insert(at, entry);
        if (at == file.lines.size() - 1)
            file.endsWithNewline = true;
    }
    QByteArray saved = joinLines(file);
    // The encoding is told from the content: when the line replaced held a single-byte file's
    // only bytes that are not UTF-8, the rest would read back as UTF-8, with other values.
    if (!file.utf8 && parseIni(saved).utf8
        && std::any_of(saved.cbegin(), saved.cend(), [](char c) { return uchar(c) >= 0x80; })) {
        convertToUtf8(file);
        saved = joinLines(file);
    }
    return saved;
}

QString ReadIni(const QString &section, const QString &key, const QString &iniPath)
{
    QFile f(iniPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return readIniValue(f.readAll(), section, key);
}

bool WriteIni(const QString &section, const QString &key, const QString &value,
              const QString &iniPath)
{
    return WriteIniEntries({ { section, key, value } }, iniPath);
}

bool WriteIniEntries(const QList<IniEntry> &entries, const QString &iniPath)
{
    QByteArray content;
    QFile f(iniPath);
    if (f.exists()) {
        if (!f.open(QIODevice::ReadOnly)) {
            qCWarning(lcIni, "Cannot read '%s' before saving: %s", qPrintable(iniPath),
                      qPrintable(f.errorString()));
            return false;
        }
        content = f.readAll();
        f.close();
    }
    for (const IniEntry &entry : entries) {
        const auto updated = writeIniValue(content, entry.section, entry.key, entry.value);
        if (!updated) {
            qCWarning(lcIni, "Not saving [%s] %s in '%s': the text cannot stand on one line.",
                      qPrintable(entry.section), qPrintable(entry.key), qPrintable(iniPath));
            return false;
        }
        content = *updated;
    }
    return replaceFileAtomically(iniPath, content);
}

QString iniText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

QString iniText(float value)
{
    return formatSingle(value);
}

bool WriteIni(const QString &section, const QString &key, bool value, const QString &iniPath)
{
    return WriteIni(section, key, iniText(value), iniPath);
}

bool WriteIni(const QString &section, const QString &key, float value, const QString &iniPath)
{
    return WriteIni(section, key, iniText(value), iniPath);
}

} // namespace ModIni
