#include "CmykJpeg.h"

#include "PhotoColour.h"

#include <QFile>
#include <QLoggingCategory>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include <jerror.h>

Q_DECLARE_LOGGING_CATEGORY(lcImaging)

namespace {

struct ErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf fail;
    int damage = 0; // warnings about data cut short or corrupt
};

[[noreturn]] void failDecoding(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->fail, 1);
}

void noteMessage(j_common_ptr info, int level)
{
    // Extraneous bytes before a marker are common in camera files and harm nothing.
    if (level < 0 && info->err->msg_code != JWRN_EXTRANEOUS_DATA)
        ++reinterpret_cast<ErrorManager *>(info->err)->damage;
}

struct OpenFile
{
    ~OpenFile()
    {
        if (file)
            std::fclose(file);
    }
    FILE *file = nullptr;
};

} // namespace

QImage decodeCmykJpeg(const QString &path, int eighths, bool inverted,
                      const SrgbTransform *transform)
{
    OpenFile in;
    in.file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!in.file) {
        qCWarning(lcImaging, "Cannot decode '%s': it cannot be opened", qUtf8Printable(path));
        return {};
    }
    jpeg_decompress_struct info {};
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = failDecoding;
    errors.base.emit_message = noteMessage;
    // Everything the jump passes over is plain data or released below.
    QImage image;
    std::vector<uchar> row;
    if (setjmp(errors.fail)) {
        jpeg_destroy_decompress(&info);
        qCWarning(lcImaging, "Cannot decode '%s': the decoder refused it", qUtf8Printable(path));
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, in.file);
    jpeg_read_header(&info, TRUE);
    if (info.num_components != 4) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    info.out_color_space = JCS_CMYK;
    info.scale_num = unsigned(eighths);
    info.scale_denom = 8;
    jpeg_start_decompress(&info);
    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB32);
    row.resize(std::size_t(info.output_width) * 4);
    if (image.isNull())
        std::longjmp(errors.fail, 1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = { row.data() };
        const int y = int(info.output_scanline);
        if (jpeg_read_scanlines(&info, rows, 1) != 1)
            std::longjmp(errors.fail, 1);
        cmykToSrgb(row.data(), reinterpret_cast<QRgb *>(image.scanLine(y)), int(info.output_width),
                   inverted, transform);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (errors.damage > 0) {
        qCWarning(lcImaging, "Cannot decode '%s': its data is cut short or corrupt",
                  qUtf8Printable(path));
        return {};
    }
    return image;
}
