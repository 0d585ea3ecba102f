// Photo bytes from the fuzzer through the imaging layer's load path: the structure check on the
// bytes, then, as a file, IG_load_file and a small drawing through IG_display_image. A load
// succeeds only for what the structure check accepts, reports the size the frame header
// declares, and leaves no image behind once deleted.
#include "FuzzSupport.h"
#include "Imaging.h"
#include "JpegStructure.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace FuzzSupport;

namespace {

// Photos above this are loaded and measured but not drawn: a fuzzed header can declare up to
// the layer's 200 MP cap, and decoding that on every input would only measure the decoder.
constexpr qint64 MaxDrawnPixels = 4'000'000;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "zelvo.imaging=false;qt.gui.imageio.jpeg=false");
    static QGuiApplication app(*argc, *argv);
    tempFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto header = checkJpegStructure(data, size);
    if (header) {
        check(header->width > 0 && header->height > 0);
        check(header->components == 1 || header->components == 3 || header->components == 4);
    }

    const QString path = tempFolder() + QStringLiteral("/photo.jpg");
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    }

    IgHandle handle = 0;
    const int loaded = IG_load_file(path, &handle);
    check((loaded == IgSuccess) == (handle != 0));
    if (loaded != IgSuccess) {
        check(liveImageCount() == 0);
        return 0;
    }
    // Nothing the structure check refuses may load.
    check(header.has_value());
    int32_t width = 0, height = 0, bits = 0;
    check(IG_image_dimensions_get(handle, &width, &height, &bits) == IgSuccess);
    check(width == header->width && height == header->height && bits == 8 * header->components);
    check(qint64(width) * height <= IgMaxDeclaredPixels);

    if (qint64(width) * height <= MaxDrawnPixels) {
        // A turn chosen by the data, the whole photo into a thumbnail-sized rectangle.
        const int turn = size > 0 ? data[size - 1] % 4 : 0;
        if (turn != 0)
            check(IG_IP_rotate_multiple_90(handle, turn) == IgSuccess);
        check(IG_device_rect_set(handle, IgRect { 2, 3, 65, 50 }) == IgSuccess);
        QImage canvas(70, 56, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        const int drawn = IG_display_image(handle, &painter);
        painter.end();
        check(drawn == IgSuccess || drawn == IgDecodeFailed);
        // The kept rendering is about the device rectangle's size, not the photo's.
        check(imagePixelBytesHeld(handle) <= 4 * 64 * 64);
    }

    check(IG_image_delete(handle) == IgSuccess);
    check(IG_image_is_valid(handle) == 0);
    check(liveImageCount() == 0);
    return 0;
}
