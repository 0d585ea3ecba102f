#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// zelvo.ini access with the semantics of Windows profile strings, so a file written on either
// side reads on the other: section and key names match without regard to letter case, the
// first match wins, blanks (and one pair of quotes) around a value are dropped, lines may end
// in CRLF or LF, and lines starting with ';' are comments.
namespace ModIni {

// Longest value ReadIni returns; longer values are cut.
constexpr int MaxValueLength = 254;

// The value of `key` in `section`, or "" when the file, the section or the key is missing.
QString ReadIni(const QString &section, const QString &key, const QString &iniPath);

// Sets `key` in `section` to `value`, creating the file, the section and the key as needed.
// Every other line of the file is kept byte for byte. The file is replaced atomically: a
// failed write (full disk, missing folder) leaves the old file as it was and returns false.
bool WriteIni(const QString &section, const QString &key, const QString &value,
              const QString &iniPath);
// A boolean is written as the word True or False.
bool WriteIni(const QString &section, const QString &key, bool value, const QString &iniPath);
// A single-precision number is written as its shortest text in the locale (613, 6,13).
bool WriteIni(const QString &section, const QString &key, float value, const QString &iniPath);

// Values already turned into text, for saving several at once.
struct IniEntry
{
    QString section;
    QString key;
    QString value;
};
// Sets every entry, in order, as WriteIni would, in one replacement of the file: a save that
// fails part-way (a full disk) leaves the old file with none of them.
bool WriteIniEntries(const QList<IniEntry> &entries, const QString &iniPath);

// Turns a value into the text WriteIni writes for it.
inline QString iniText(const QString &value)
{
    return value;
}
QString iniText(bool value);
QString iniText(float value);
QString iniText(const char *) = delete;

// The two operations on a file's content, without the file.
QString readIniValue(const QByteArray &content, const QString &section, const QString &key);
// The new content, or nullopt when the value holds a line break or NUL, or the names cannot
// stand as a section or key name.
std::optional<QByteArray> writeIniValue(const QByteArray &content, const QString &section,
                                        const QString &key, const QString &value);

// Overloads that would silently pick the bool one.
bool WriteIni(const QString &, const QString &, const char *, const QString &) = delete;

} // namespace ModIni
