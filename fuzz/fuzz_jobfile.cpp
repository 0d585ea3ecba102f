// A job file's name and content from the fuzzer, parsed in memory and read from a real file.
// An accepted name splits into status, prefix and key that make the name again; an accepted
// file has one photo per line, whatever its line ends, and every image name is prefix + key +
// "_" + photo number + ".jpg" naming a file inside the images folder.
#include "FuzzSupport.h"
#include "JobFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace FuzzSupport;

namespace {

// Lines as the order-taking program means them: ended by LF (with or without CR), the last
// one possibly without an end.
qsizetype countLines(const QByteArray &text)
{
    if (text.isEmpty())
        return 0;
    return text.count('\n') + (text.endsWith('\n') ? 0 : 1);
}

// True when images/<name> is a file directly inside the images folder.
bool staysInImagesFolder(const QString &name)
{
    const QString images = QStringLiteral("/srv/zelvo/images");
    const QString cleaned = QDir::cleanPath(images + QLatin1Char('/') + name);
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0))
        && cleaned == images + QLatin1Char('/') + name && name != QLatin1String(".")
        && name != QLatin1String("..");
}

void checkPhotos(const JobPhotos &parsed, const QByteArray &text, const QString &orderId)
{
    if (!parsed.error.isEmpty()) {
        check(parsed.photos.empty());
        return;
    }
    check(qsizetype(parsed.photos.size()) == countLines(text));
    const QList<QByteArray> lines = text.split('\n');
    for (std::size_t i = 0; i < parsed.photos.size(); ++i) {
        const PhotoItem &photo = parsed.photos[i];
        QByteArray line = lines[qsizetype(i)];
        if (line.endsWith('\r'))
            line.chop(1);
        check(photo.photoNumber == QString::fromLatin1(line.mid(1, 4)));
        check(photo.imageFileName
              == orderId + QLatin1Char('_') + photo.photoNumber + QLatin1String(".jpg"));
        check(staysInImagesFolder(photo.imageFileName));
        check(photo.printed >= 0 && photo.printed <= 9);
        check(photo.paperSize >= 0 && photo.paperSize <= 9);
        check(photo.copies >= -99 && photo.copies <= 999);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first line (up to 64 bytes) is the file name, the rest its content.
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = input.left(64).indexOf('\n');
    const QString name = QString::fromLatin1(cut < 0 ? input.left(12) : input.left(cut));
    const QByteArray text = cut < 0 ? input.mid(12) : input.mid(cut + 1);

    const JobFileName parts = splitJobFileName(name);
    if (parts.error.isEmpty()) {
        check(name.size() >= 7);
        check(parts.status + parts.orderPrefix + parts.listKey + name.right(4) == name);
        check(parts.orderPrefix.size() == 2);
    }

    const QString orderId = parts.orderPrefix + parts.listKey;
    const JobPhotos parsed = parseJobFileText(text, orderId);
    // Names that a folder listing can give (no '/' or NUL) keep every image in the folder.
    const bool listable = !name.contains(QLatin1Char('/')) && !name.contains(QChar(0))
        && name != QLatin1String(".") && name != QLatin1String("..") && !name.isEmpty();
    if (listable)
        checkPhotos(parsed, text, orderId);

    // The same lines ended by CRLF instead of LF read the same.
    if (!text.contains('\r')) {
        QByteArray crlf = text;
        crlf.replace("\n", "\r\n");
        const JobPhotos again = parseJobFileText(crlf, orderId);
        check(again.error.isEmpty() == parsed.error.isEmpty());
        check(again.photos.size() == parsed.photos.size());
        for (std::size_t i = 0; i < again.photos.size(); ++i) {
            check(again.photos[i].imageFileName == parsed.photos[i].imageFileName);
            check(again.photos[i].copies == parsed.photos[i].copies);
            check(again.photos[i].amount == parsed.photos[i].amount);
        }
    }

    // The file on disk reads as the text did.
    if (!listable || name.toUtf8().size() > 255)
        return 0;
    const QString path = tempFolder() + QLatin1Char('/') + name;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0; // names the file system refuses
        check(file.write(text) == text.size());
    }
    const JobFileRead read = ReadJobFile(path);
    QFile::remove(path);
    check(read.ok() == (parts.error.isEmpty() && parsed.error.isEmpty()));
    if (read.ok()) {
        check(read.record.fileName == name);
        check(read.record.photoCount == qsizetype(read.record.photos.size()));
        check(read.record.photos.size() == parsed.photos.size());
        for (std::size_t i = 0; i < parsed.photos.size(); ++i)
            check(read.record.photos[i].imageFileName == parsed.photos[i].imageFileName);
    }
    return 0;
}
