#include "Imaging.h"

#include "PhotoColour.h"
#include "PhotoFile.h"

#include <QPaintDevice>
#include <QPainter>
#include <QRect>
#include <QTransform>

#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace {

// Rectangle coordinates beyond this are refused so that widths and heights stay in range.
constexpr int32_t MaxCoordinate = 1 << 30;

} // namespace

struct RenderKey
{
    int turns = -1;
    QSize logical;
    QRect source;
    QSize pixels;

    friend bool operator==(const RenderKey &, const RenderKey &) = default;
};

// Everything an image is but its lock; a snapshot is a copy of it.
struct ImageState
{
    QString path;
    FileStamp stamp; // of the file as checked at load
    QSize stored; // the pixel grid as stored in the file
    int bitsPerPixel = 24;
    QByteArray iccProfile; // embedded in the photo; none: sRGB
    bool adobe = false; // CMYK inks stored inverted
    int turns = 0; // quarter turns clockwise
    QSize logical; // the size the caller sees, after turns and resizes
    std::optional<IgRect> imageRect;
    std::optional<IgRect> deviceRect;
    QImage rendering; // the last drawing's pixels, about device size
    RenderKey renderingKey;
};

namespace {

struct Image : ImageState
{
    std::mutex mutex;
};

struct ImageTable
{
    std::mutex mutex;
    std::unordered_map<IgHandle, std::shared_ptr<Image>> images;
    IgHandle lastHandle = 0;
};

ImageTable &imageTable()
{
    static ImageTable table;
    return table;
}

std::shared_ptr<Image> findImage(IgHandle handle)
{
    if (handle == 0)
        return nullptr;
    ImageTable &table = imageTable();
    std::lock_guard lock(table.mutex);
    const auto it = table.images.find(handle);
    return it == table.images.end() ? nullptr : it->second;
}

IgHandle addImage(std::shared_ptr<Image> image)
{
    ImageTable &table = imageTable();
    std::lock_guard lock(table.mutex);
    do {
        ++table.lastHandle;
    } while (table.lastHandle == 0 || table.images.count(table.lastHandle) != 0);
    table.images.emplace(table.lastHandle, std::move(image));
    return table.lastHandle;
}

QRect toQRect(const IgRect &rect)
{
    return QRect(QPoint(rect.left, rect.top), QPoint(rect.right, rect.bottom));
}

bool isSaneRect(const IgRect &rect)
{
    for (int32_t v : { rect.left, rect.top, rect.right, rect.bottom }) {
        if (v < -MaxCoordinate || v > MaxCoordinate)
            return false;
    }
    return true;
}

struct DrawPlan
{
    QRect source; // part of the image to draw, in the image's current pixels
    QRectF target; // where, in painter coordinates
    QSize pixels; // physical pixels the target covers
};

std::optional<DrawPlan> planDrawing(const Image &image, qreal devicePixelRatio)
{
    const QRect bounds(QPoint(0, 0), image.logical);
    const QRect requested = image.imageRect ? toQRect(*image.imageRect) : bounds;
    const QRect device = image.deviceRect ? toQRect(*image.deviceRect) : bounds;
    const QRect source = requested & bounds;
    if (requested.isEmpty() || device.isEmpty() || source.isEmpty())
        return std::nullopt;

    // The part of the image rectangle outside the image takes its share of the device
    // rectangle with it, so what is drawn keeps its place and scale.
    const qreal sx = device.width() / qreal(requested.width());
    const qreal sy = device.height() / qreal(requested.height());
    DrawPlan plan;
    plan.source = source;
    plan.target = QRectF(device.x() + (source.x() - requested.x()) * sx,
                         device.y() + (source.y() - requested.y()) * sy, source.width() * sx,
                         source.height() * sy);
    plan.pixels = QSize(qMax(1, qRound(plan.target.width() * devicePixelRatio)),
                        qMax(1, qRound(plan.target.height() * devicePixelRatio)));
    return plan;
}

// Makes image.rendering hold plan.source at about plan.pixels, decoding only when the
// geometry changed since the last drawing.
int render(Image &image, const DrawPlan &plan)
{
    const RenderKey key { image.turns, image.logical, plan.source, plan.pixels };
    if (!image.rendering.isNull() && image.renderingKey == key)
        return IgSuccess;
    image.rendering = QImage();

    const bool sideways = image.turns % 2 == 1;
    const QSize turnedFull = sideways ? image.stored.transposed() : image.stored;
    const qreal fx = turnedFull.width() / qreal(image.logical.width());
    const qreal fy = turnedFull.height() / qreal(image.logical.height());
    const QRectF sourceTurned(plan.source.x() * fx, plan.source.y() * fy, plan.source.width() * fx,
                              plan.source.height() * fy);
    const QTransform turn = QImage::trueMatrix(QTransform().rotate(90.0 * image.turns),
                                               image.stored.width(), image.stored.height());
    const QRectF sourceStored = turn.inverted().mapRect(sourceTurned);

    // Pixels wanted in the stored orientation: no more than the device needs, and no more
    // than the image has after a resize to a smaller size.
    const QSize logicalRegion = sideways ? plan.source.size().transposed() : plan.source.size();
    const QSize needed
        = (sideways ? plan.pixels.transposed() : plan.pixels).boundedTo(logicalRegion);

    const int components = image.bitsPerPixel / 8;
    const auto colours = transformToSrgb(image.iccProfile, components);
    std::optional<CmykDecoding> cmyk;
    if (components == 4)
        cmyk = CmykDecoding { image.adobe, colours.get() };
    QImage decoded = decodePhoto(image.path, image.stamp, image.stored,
                                 jpegScaleEighths(sourceStored.size(), needed), cmyk);
    if (decoded.isNull())
        return IgDecodeFailed;

    const qreal dx = decoded.width() / qreal(image.stored.width());
    const qreal dy = decoded.height() / qreal(image.stored.height());
    const QRect crop = QRectF(sourceStored.x() * dx, sourceStored.y() * dy,
                              sourceStored.width() * dx, sourceStored.height() * dy)
                           .toAlignedRect()
        & decoded.rect();
    if (crop.isEmpty())
        return IgNothingToDraw;
    if (crop != decoded.rect())
        decoded = decoded.copy(crop);

    const QSize size = needed.boundedTo(decoded.size());
    if (decoded.size() != size)
        decoded = decoded.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Converted once it is no larger than the drawing needs, where it costs least.
    if (colours && !cmyk)
        decoded = convertToSrgb(std::move(decoded), *colours);
    if (image.turns != 0)
        decoded = decoded.transformed(QTransform().rotate(90.0 * image.turns));

    image.rendering = std::move(decoded);
    image.renderingKey = key;
    return IgSuccess;
}

int drawImage(IgHandle handle, QPainter *painter)
{
    if (!painter || !painter->isActive())
        return IgBadArgument;
    const auto image = findImage(handle);
    if (!image)
        return IgNoSuchImage;
    std::lock_guard lock(image->mutex);
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    const auto plan = planDrawing(*image, ratio);
    if (!plan)
        return IgNothingToDraw;
    if (const int result = render(*image, *plan))
        return result;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(plan->target, image->rendering);
    painter->restore();
    return IgSuccess;
}

} // namespace

int IG_load_file(const QString &path, IgHandle *handle)
{
    if (!handle)
        return IgBadArgument;
    *handle = 0;
    prepareDecoder();

    int refusal = IgUnreadable;
    const auto checked = checkPhoto(path, &refusal);
    if (!checked)
        return refusal;
    const auto &[header, stamp] = *checked;

    auto image = std::make_shared<Image>();
    image->path = path;
    image->stamp = stamp;
    image->stored = QSize(header.width, header.height);
    image->logical = image->stored;
    image->bitsPerPixel = 8 * header.components;
    image->iccProfile = header.iccProfile;
    image->adobe = header.adobe;
    *handle = addImage(std::move(image));
    return IgSuccess;
}

int IG_image_is_valid(IgHandle handle)
{
    return findImage(handle) ? 1 : 0;
}

int IG_image_delete(IgHandle handle)
{
    std::shared_ptr<Image> image; // released outside the table's lock
    ImageTable &table = imageTable();
    std::lock_guard lock(table.mutex);
    const auto it = table.images.find(handle);
    if (it == table.images.end())
        return IgNoSuchImage;
    image = std::move(it->second);
    table.images.erase(it);
    return IgSuccess;
}

int IG_image_dimensions_get(IgHandle handle, int32_t *width, int32_t *height, int32_t *bitsPerPixel)
{
    const auto image = findImage(handle);
    if (!image)
        return IgNoSuchImage;
    std::lock_guard lock(image->mutex);
    if (width)
        *width = image->logical.width();
    if (height)
        *height = image->logical.height();
    if (bitsPerPixel)
        *bitsPerPixel = image->bitsPerPixel;
    return IgSuccess;
}

QSize imageStoredSize(IgHandle handle)
{
    const auto image = findImage(handle);
    if (!image)
        return {};
    std::lock_guard lock(image->mutex);
    return image->stored;
}

int IG_IP_rotate_multiple_90(IgHandle handle, int turnCode)
{
    if (turnCode < 1 || turnCode > 3)
        return IgBadArgument;
    const auto image = findImage(handle);
    if (!image)
        return IgNoSuchImage;
    std::lock_guard lock(image->mutex);
    image->turns = (image->turns + turnCode) % 4;
    if (turnCode % 2 == 1)
        image->logical.transpose();
    image->rendering = QImage();
    return IgSuccess;
}

int IG_IP_resize(IgHandle handle, int32_t width, int32_t height, int)
{
    if (width < 1 || height < 1 || width > MaxCoordinate || height > MaxCoordinate)
        return IgBadArgument;
    const auto image = findImage(handle);
    if (!image)
        return IgNoSuchImage;
    std::lock_guard lock(image->mutex);
    if (image->logical != QSize(width, height)) {
        image->logical = QSize(width, height);
        image->rendering = QImage();
    }
    return IgSuccess;
}

namespace {

// Keeps `rect` with the image in `field` (its image or its device rectangle).
int setImageRectangle(IgHandle handle, const IgRect &rect, std::optional<IgRect> Image::*field)
{
    if (!isSaneRect(rect))
        return IgBadArgument;
    const auto image = findImage(handle);
    if (!image)
        return IgNoSuchImage;
    std::lock_guard lock(image->mutex);
    (*image).*field = rect;
    return IgSuccess;
}

} // namespace

int IG_image_rect_set(IgHandle handle, const IgRect &rect)
{
    return setImageRectangle(handle, rect, &Image::imageRect);
}

int IG_device_rect_set(IgHandle handle, const IgRect &rect)
{
    return setImageRectangle(handle, rect, &Image::deviceRect);
}

int IG_display_desktop_pattern_set(IgHandle handle, int pattern1, int pattern2, int pattern3,
                                   int pattern4)
{
    if (!findImage(handle))
        return IgNoSuchImage;
    return pattern1 == 0 && pattern2 == 0 && pattern3 == 0 && pattern4 == 0 ? IgSuccess
                                                                            : IgBadArgument;
}

int IG_display_image(IgHandle handle, QPainter *painter)
{
    return drawImage(handle, painter);
}

int IG_print_image(IgHandle handle, QPainter *painter, int)
{
    return drawImage(handle, painter);
}

int prepareImageDrawing(IgHandle handle, qreal devicePixelRatio)
{
    if (!(devicePixelRatio > 0))
        return IgBadArgument;
    const auto image = findImage(handle);
    if (!image)
        return IgNoSuchImage;
    std::lock_guard lock(image->mutex);
    const auto plan = planDrawing(*image, devicePixelRatio);
    if (!plan)
        return IgNothingToDraw;
    return render(*image, *plan);
}

ImageSnapshot snapshotImage(IgHandle handle)
{
    const auto image = findImage(handle);
    if (!image)
        return nullptr;
    std::lock_guard lock(image->mutex);
    if (image->rendering.isNull())
        return nullptr;
    return std::make_shared<const ImageState>(static_cast<const ImageState &>(*image));
}

int loadImageSnapshot(const ImageSnapshot &snapshot, IgHandle *handle)
{
    if (!handle)
        return IgBadArgument;
    *handle = 0;
    if (!snapshot)
        return IgBadArgument;
    auto image = std::make_shared<Image>();
    static_cast<ImageState &>(*image) = *snapshot;
    *handle = addImage(std::move(image));
    return IgSuccess;
}

qint64 snapshotPixelBytes(const ImageSnapshot &snapshot)
{
    return snapshot ? snapshot->rendering.sizeInBytes() : 0;
}

qint64 imagePixelBytesHeld(IgHandle handle)
{
    const auto image = findImage(handle);
    if (!image)
        return 0;
    std::lock_guard lock(image->mutex);
    return image->rendering.sizeInBytes();
}

int liveImageCount()
{
    ImageTable &table = imageTable();
    std::lock_guard lock(table.mutex);
    return int(table.images.size());
}

quint64 imageDecodeCount()
{
    return photoDecodeCount();
}
