#include "JobFile.h"

#include "JobsLog.h"

#include <QLocale>

#include <QFile>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// A whole number with optional blanks around it and an optional sign; fields are at most eight
// characters wide, so the value always fits.
std::optional<int> parseColumnNumber(QStringView field)
{
    qsizetype begin = 0;
    qsizetype end = field.size();
    while (begin < end && isBlank(field[begin]))
        ++begin;
    while (end > begin && isBlank(field[end - 1]))
        --end;
    bool negative = false;
    if (begin < end && (field[begin] == QLatin1Char('+') || field[begin] == QLatin1Char('-'))) {
        negative = field[begin] == QLatin1Char('-');
        ++begin;
    }
    if (begin == end)
        return std::nullopt;
    int value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = field[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return negative ? -value : value;
}

// A decimal number with '.' or ',' before its fraction, blanks around it and a sign allowed.
std::optional<double> parseDecimal(QStringView field)
{
    QString text = field.trimmed().toString();
    qsizetype digits = 0, separators = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            ++digits;
        else if (c == QLatin1Char('.') || c == QLatin1Char(','))
            ++separators;
        else if (i != 0 || (c != QLatin1Char('+') && c != QLatin1Char('-')))
            return std::nullopt;
    }
    if (digits == 0 || separators > 1)
        return std::nullopt;
    bool ok = false;
    const double value
        = QLocale::c().toDouble(text.replace(QLatin1Char(','), QLatin1Char('.')), &ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

QString notANumber(const char *what, QStringView field)
{
    return QStringLiteral("%1 is not a number: \"%2\"").arg(QLatin1String(what), field);
}

} // namespace

bool isJobFileName(const QString &name)
{
    return name.right(3).toLower() == QLatin1String("job");
}

JobFileName splitJobFileName(const QString &name)
{
    JobFileName parts;
    if (name.size() < 7) {
        parts.error = QStringLiteral("the name is shorter than 7 characters");
        return parts;
    }
    parts.status = name.at(0);
    parts.orderPrefix = name.mid(1, 2);
    parts.listKey = name.mid(3, name.size() - 7);
    // The queue takes an entry holding "rgent" for an urgent copy and would then act on
    // another job than this one.
    if (parts.listKey.contains(QLatin1String("rgent")))
        parts.error
            = QStringLiteral("the job number contains \"rgent\", which marks urgent entries");
    return parts;
}

PhotoLine parseJobLine(QStringView line, const QString &orderId)
{
    PhotoLine result;
    if (line.trimmed().isEmpty()) {
        result.error = QStringLiteral("the line is blank");
        return result;
    }
    const QStringView printed = line.mid(0, 1);
    const QStringView photoNumber = line.mid(1, 4);
    const QStringView paperSize = line.mid(5, 1);
    const QStringView copies = line.mid(6, 3);
    const QStringView amount = line.mid(9, 8);

    const auto printedValue = parseColumnNumber(printed);
    const auto paperSizeValue = parseColumnNumber(paperSize);
    const auto copiesValue = parseColumnNumber(copies);
    const auto amountValue = parseDecimal(amount);
    if (!printedValue)
        result.error = notANumber("printed (column 1)", printed);
    else if (!paperSizeValue)
        result.error = notANumber("paper size (column 6)", paperSize);
    else if (!copiesValue)
        result.error = notANumber("copies (columns 7-9)", copies);
    else if (photoNumber.contains(QLatin1Char('/')) || photoNumber.contains(QLatin1Char('\\'))
             || photoNumber.contains(QChar(0)))
        result.error = QStringLiteral("photo number (columns 2-5) cannot be part of a file name: "
                                      "\"%1\"")
                           .arg(photoNumber);
    if (!result.error.isEmpty())
        return result;

    PhotoItem &photo = result.photo;
    photo.photoNumber = photoNumber.toString();
    photo.imageFileName = orderId + QLatin1Char('_') + photo.photoNumber + QLatin1String(".jpg");
    photo.printed = int16_t(*printedValue);
    photo.paperSize = int16_t(*paperSizeValue);
    photo.copies = int16_t(*copiesValue);
    photo.amount = amountValue.value_or(0) / 100.0;
    if (!amountValue)
        result.warning
            = notANumber("amount (columns 10-17)", amount) + QStringLiteral(", taken as 0");
    return result;
}

JobPhotos parseJobFileText(const QByteArray &text, const QString &orderId)
{
    JobPhotos result;
    const QString lines = QString::fromLatin1(text);
    qsizetype start = 0;
    int lineNumber = 0;
    while (start < lines.size()) {
        qsizetype end = lines.indexOf(QLatin1Char('\n'), start);
        const qsizetype next = end < 0 ? lines.size() : end + 1;
        if (end < 0)
            end = lines.size();
        QStringView line = QStringView(lines).mid(start, end - start);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (++lineNumber > MaxJobLines) {
            result.error = QStringLiteral("more than %1 lines").arg(MaxJobLines);
            result.photos.clear();
            return result;
        }
        PhotoLine parsed = parseJobLine(line, orderId);
        if (!parsed.error.isEmpty()) {
            result.error = QStringLiteral("line %1: %2").arg(lineNumber).arg(parsed.error);
            result.photos.clear();
            return result;
        }
        if (result.warning.isEmpty() && !parsed.warning.isEmpty())
            result.warning = QStringLiteral("line %1: %2").arg(lineNumber).arg(parsed.warning);
        parsed.photo.lineOffset = start;
        result.photos.push_back(std::move(parsed.photo));
        start = next;
    }
    return result;
}

JobFileRead ReadJobFile(const QString &filePath)
{
    JobFileRead result;
    JobRecord &record = result.record;
    record.fileName = filePath.mid(filePath.lastIndexOf(QLatin1Char('/')) + 1);
    const JobFileName name = splitJobFileName(record.fileName);
    if (!name.error.isEmpty()) {
        result.error = name.error;
        return result;
    }
    record.orderPrefix = name.orderPrefix;
    record.listKey = name.listKey;

    const JobFs::FileContent content = JobFs::readWholeFile(filePath);
    if (!content.error.isEmpty()) {
        result.error = QStringLiteral("cannot be read: %1").arg(content.error);
        return result;
    }
    result.identity = content.identity;
    JobPhotos photos = parseJobFileText(content.data, record.orderPrefix + record.listKey);
    if (!photos.error.isEmpty()) {
        result.error = photos.error;
        return result;
    }
    if (!photos.warning.isEmpty())
        qCWarning(lcJobs).noquote() << "Job file" << filePath << "-" << photos.warning;
    record.photos = std::move(photos.photos);
    record.photoCount = int16_t(record.photos.size());
    record.fileIdentity = content.identity;
    return result;
}

bool recordPhotoPrinted(const QString &jobFilePath, const JobFs::FileIdentity &identity,
                        const PhotoItem &photo)
{
    const auto refuse = [&](const QString &why) {
        qCWarning(lcJobs).noquote() << "Cannot record" << photo.imageFileName << "as printed in"
                                    << jobFilePath << "-" << why;
        return false;
    };
    if (photo.lineOffset < 0)
        return refuse(QStringLiteral("the photo was not read from it"));
    const int fd = ::open(QFile::encodeName(jobFilePath).constData(),
                          O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0)
        return refuse(JobFs::describeError(errno));
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return refuse(JobFs::describeError(errno));
    if (!S_ISREG(st.st_mode) || JobFs::FileIdentity { st.st_dev, st.st_ino } != identity)
        return refuse(QStringLiteral("it is another file than the one read"));

    const QByteArray expected = photo.photoNumber.toLatin1();
    QByteArray head(1 + expected.size(), '\0');
    if (::pread(fd, head.data(), size_t(head.size()), photo.lineOffset) != head.size()
        || head[0] < '0' || head[0] > '9' || head.mid(1) != expected)
        return refuse(
            QStringLiteral("its line at byte %1 is not the photo's").arg(photo.lineOffset));
    if (head[0] != '0')
        return true;
    const ssize_t put = JobFs::sysCalls().writeAt(fd, "1", 1, photo.lineOffset);
    if (put != 1)
        return refuse(JobFs::describeError(put < 0 ? int(-put) : EIO));
    if (const int error = JobFs::sysCalls().syncData(fd))
        return refuse(JobFs::describeError(error));
    return true;
}

bool makeJobFileWritable(const QString &jobFilePath, JobFileRead &read)
{
    const QByteArray path = QFile::encodeName(jobFilePath);
    if (::access(path.constData(), W_OK) == 0 || (errno != EACCES && errno != EPERM))
        return true;
    // The folder lets this account replace what it may not write: the copy takes the name in one
    // rename, so the file read is there whole until then, and the copy is whole after.
    if (const int error = JobFs::copyReplacing(jobFilePath, jobFilePath)) {
        qCWarning(lcJobs).noquote()
            << "Cannot make a copy of" << jobFilePath << "that this station can write -"
            << JobFs::describeError(error) << "- its printed photos cannot be recorded";
        return false;
    }
    const QString fileName = read.record.fileName;
    JobFileRead again = ReadJobFile(jobFilePath);
    if (!again.ok())
        return false;
    again.record.fileName = fileName;
    read = std::move(again);
    qCInfo(lcJobs).noquote() << "Replaced" << jobFilePath
                             << "by a copy this station can write, as it may not write the file "
                                "delivered";
    return true;
}
