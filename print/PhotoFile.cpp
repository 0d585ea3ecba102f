#include "PhotoFile.h"

#include "CmykJpeg.h"
#include "Imaging.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QLoggingCategory>

#include <atomic>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcImaging, "zelvo.imaging")

namespace {

// Room for a full-size decode of the largest accepted photo at four bytes per pixel.
constexpr int DecodeAllocationLimitMB = 1024;

std::atomic<quint64> decodeCounter { 0 };

// libjpeg reports data cut short or scrambled only as a warning, which Qt's JPEG reader logs
// from the decoding thread while it returns a grey or garbled picture. While a photo is being
// decoded, such warnings are counted here so that the decode counts as failed.
thread_local int *damageWarnings = nullptr;
QtMessageHandler forwardMessage = nullptr;

bool reportsDamagedData(const QString &message)
{
    // Extraneous bytes before a marker are common in camera files and harm nothing.
    return message.contains(QLatin1String("Premature end of JPEG file"))
        || message.contains(QLatin1String("premature end of data segment"))
        || message.contains(QLatin1String("bad Huffman code"))
        || message.contains(QLatin1String("instead of RST"));
}

void noteDecoderMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (damageWarnings && type == QtWarningMsg && reportsDamagedData(message))
        ++*damageWarnings;
    if (forwardMessage)
        forwardMessage(type, context, message);
}

// Opens a photo for reading, never through a symbolic link: a link in the images folder could
// point at any file the operator may read. 0 or errno.
int openPhotoFile(const QString &path, QFile &file)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return EIO;
    }
    return 0;
}

} // namespace

FileStamp stampOf(const QFileInfo &info)
{
    return { info.size(), info.lastModified() };
}

void prepareDecoder()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Qt refuses images above 128 MB by default, which a 45 MP photo exceeds; the declared
        // pixel count is capped before anything is decoded instead.
        QImageReader::setAllocationLimit(DecodeAllocationLimitMB);
        forwardMessage = qInstallMessageHandler(noteDecoderMessage);
    });
}

std::optional<std::pair<JpegHeader, FileStamp>> checkPhoto(const QString &path, int *refusal)
{
    *refusal = IgUnreadable;
    const QFileInfo info(path);
    if (info.isSymLink()) {
        qCWarning(lcImaging,
                  "Refusing '%s': it is a symbolic link, which the station never follows",
                  qUtf8Printable(path));
        return std::nullopt;
    }
    if (!info.isFile()) {
        *refusal = IgNoFile;
        qCWarning(lcImaging, "Cannot load '%s': no such file", qUtf8Printable(path));
        return std::nullopt;
    }
    const FileStamp stamp = stampOf(info);
    if (stamp.size > MaxPhotoFileBytes) {
        *refusal = IgTooLarge;
        qCWarning(lcImaging, "Refusing '%s': %lld bytes is too large for a photo",
                  qUtf8Printable(path), stamp.size);
        return std::nullopt;
    }
    QFile file;
    if (const int error = openPhotoFile(path, file)) {
        qCWarning(lcImaging, "Cannot read '%s': %s", qUtf8Printable(path), std::strerror(error));
        return std::nullopt;
    }
    QByteArray bytes(stamp.size, Qt::Uninitialized);
    if (file.read(bytes.data(), stamp.size) != stamp.size || !file.atEnd()) {
        qCWarning(lcImaging, "Cannot read '%s' whole: it is changing", qUtf8Printable(path));
        return std::nullopt;
    }
    const auto header = checkJpegStructure(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                           std::size_t(bytes.size()));
    if (!header) {
        // Far too few bytes for what it declares is refused for its size, as the header says.
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const QSize declared = QImageReader(&buffer, "jpeg").size();
        if (qint64(declared.width()) * declared.height() > IgMaxDeclaredPixels)
            *refusal = IgTooLarge;
        qCWarning(lcImaging, "Refusing '%s': not a whole JPEG, or too short for its size",
                  qUtf8Printable(path));
        return std::nullopt;
    }
    if (qint64(header->width) * header->height > IgMaxDeclaredPixels) {
        *refusal = IgTooLarge;
        qCWarning(lcImaging, "Refusing '%s': it declares %d x %d pixels", qUtf8Printable(path),
                  header->width, header->height);
        return std::nullopt;
    }
    // A progressive photo is decoded through a buffer of all its coefficients, 128 bytes a
    // block, whatever the scale it is drawn at.
    if (header->progressive && header->blocks * 128 > qint64(DecodeAllocationLimitMB) << 20) {
        *refusal = IgTooLarge;
        qCWarning(lcImaging, "Refusing '%s': decoding it would take %lld MB", qUtf8Printable(path),
                  (header->blocks * 128) >> 20);
        return std::nullopt;
    }
    // The decoder must agree with what the structure check saw.
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(false);
    if (!reader.canRead() || reader.size() != QSize(header->width, header->height)) {
        qCWarning(lcImaging, "Refusing '%s': the decoder cannot read it", qUtf8Printable(path));
        return std::nullopt;
    }
    return std::pair { *header, stamp };
}

QImage decodePhoto(const QString &path, const FileStamp &stamp, QSize stored, int eighths,
                   const std::optional<CmykDecoding> &cmyk)
{
    prepareDecoder();
    QFile file;
    const int openError = openPhotoFile(path, file);
    QImageReader reader(&file, "jpeg");
    reader.setAutoTransform(false);
    if (openError || stampOf(QFileInfo(path)) != stamp || reader.size() != stored) {
        qCWarning(lcImaging, "Cannot decode '%s': the file changed since it was loaded",
                  qUtf8Printable(path));
        return {};
    }
    if (cmyk) {
        ++decodeCounter;
        return decodeCmykJpeg(path, eighths, cmyk->inverted, cmyk->transform);
    }
    if (eighths < 8) {
        // Exactly the size libjpeg's DCT scaling produces, so that no second scaling happens.
        reader.setScaledSize(
            QSize((stored.width() * eighths + 7) / 8, (stored.height() * eighths + 7) / 8));
    }
    int warnings = 0;
    damageWarnings = &warnings;
    QImage decoded = reader.read();
    damageWarnings = nullptr;
    ++decodeCounter;
    if (decoded.isNull()) {
        qCWarning(lcImaging, "Cannot decode '%s': %s", qUtf8Printable(path),
                  qUtf8Printable(reader.errorString()));
    } else if (warnings > 0) {
        qCWarning(lcImaging, "Cannot decode '%s': its data is cut short or corrupt",
                  qUtf8Printable(path));
        return {};
    }
    return decoded;
}

quint64 photoDecodeCount()
{
    return decodeCounter.load();
}
