#include "PhotoColour.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QHash>
#include <QLoggingCategory>

#include <lcms2.h>

#include <cstdlib>
#include <mutex>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcImaging)

class SrgbTransform
{
public:
    SrgbTransform(cmsHTRANSFORM transform, int components)
        : handle(transform)
        , components(components)
    { }
    explicit SrgbTransform(const QColorTransform &transform)
        : qt(transform)
        , components(3)
    { }
    SrgbTransform(const SrgbTransform &) = delete;
    SrgbTransform &operator=(const SrgbTransform &) = delete;
    ~SrgbTransform()
    {
        if (handle)
            cmsDeleteTransform(handle);
    }

    // An RGB matrix profile goes through Qt's transform, over twice as fast as LittleCMS's on
    // 8-bit pixels; what Qt cannot read (grey, CMYK, table-based profiles) through LittleCMS.
    QColorTransform qt;
    cmsHTRANSFORM handle = nullptr;
    int components;

    QRgb map(QRgb rgb) const
    {
        if (!handle)
            return qt.map(rgb);
        const uchar in[4] = { uchar(qBlue(rgb)), uchar(qGreen(rgb)), uchar(qRed(rgb)), 255 };
        uchar out[4] = { 0, 0, 0, 255 };
        cmsDoTransform(handle, in, out, 1);
        return qRgb(out[2], out[1], out[0]);
    }
};

namespace {

struct Profile
{
    explicit Profile(cmsHPROFILE p)
        : handle(p)
    { }
    Profile(const Profile &) = delete;
    Profile &operator=(const Profile &) = delete;
    ~Profile()
    {
        if (handle)
            cmsCloseProfile(handle);
    }
    cmsHPROFILE handle;
};

// Whether `transform` leaves 8-bit RGB as it is, give or take one step: an sRGB profile under
// another name, which then costs nothing.
bool leavesRgbAlone(const SrgbTransform &transform)
{
    for (int r = 0; r < 256; r += 51) {
        for (int g = 0; g < 256; g += 51) {
            for (int b = 0; b < 256; b += 51) {
                const QRgb out = transform.map(qRgb(r, g, b));
                if (std::abs(qRed(out) - r) > 1 || std::abs(qGreen(out) - g) > 1
                    || std::abs(qBlue(out) - b) > 1)
                    return false;
            }
        }
    }
    return true;
}

std::shared_ptr<const SrgbTransform> makeTransform(const QByteArray &icc, int components)
{
    if (components == 3) {
        const QColorSpace space = QColorSpace::fromIccProfile(icc);
        if (space.isValid()) {
            auto made = std::make_shared<const SrgbTransform>(
                space.transformationToColorSpace(QColorSpace::SRgb));
            return leavesRgbAlone(*made) ? nullptr : made;
        }
    }
    const Profile source(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
    if (!source.handle)
        return nullptr;
    const cmsColorSpaceSignature space = cmsGetColorSpace(source.handle);
    cmsUInt32Number input = 0;
    if (components == 3 && space == cmsSigRgbData)
        input = TYPE_BGRA_8;
    else if (components == 1 && space == cmsSigGrayData)
        input = TYPE_GRAY_8;
    else if (components == 4 && space == cmsSigCmykData)
        input = TYPE_CMYK_8;
    else
        return nullptr;
    const Profile srgb(cmsCreate_sRGBProfile());
    // Perceptual where the profile has tables for it (most CMYK ones), the colorimetric
    // conversion of a matrix profile otherwise; black point compensation keeps shadows open.
    const cmsHTRANSFORM transform
        = cmsCreateTransform(source.handle, input, srgb.handle, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                             cmsFLAGS_BLACKPOINTCOMPENSATION);
    if (!transform)
        return nullptr;
    auto made = std::make_shared<const SrgbTransform>(transform, components);
    return components == 3 && leavesRgbAlone(*made) ? nullptr : made;
}

} // namespace

std::shared_ptr<const SrgbTransform> transformToSrgb(const QByteArray &icc, int components)
{
    if (icc.isEmpty())
        return nullptr;
    static std::mutex mutex;
    static QHash<QByteArray, std::shared_ptr<const SrgbTransform>> made;
    const QByteArray key = QByteArray::number(components) + ':' + icc;
    std::lock_guard lock(mutex);
    if (const auto it = made.constFind(key); it != made.cend())
        return *it;
    // Photos of one shop come with a handful of profiles; a run that meets many keeps few.
    if (made.size() >= 16)
        made.clear();
    auto transform = makeTransform(icc, components);
    if (!transform)
        qCInfo(lcImaging, "An embedded colour profile is sRGB, or unusable: taken as sRGB");
    made.insert(key, transform);
    return transform;
}

QImage convertToSrgb(QImage image, const SrgbTransform &transform)
{
    if (image.isNull())
        return image;
    if (transform.components == 1) {
        if (image.format() != QImage::Format_Grayscale8)
            image = image.convertToFormat(QImage::Format_Grayscale8);
        QImage out(image.size(), QImage::Format_RGB32);
        out.fill(Qt::black); // the transform leaves the alpha byte, which must be opaque
        for (int y = 0; y < image.height(); ++y)
            cmsDoTransform(transform.handle, image.constScanLine(y), out.scanLine(y),
                           cmsUInt32Number(image.width()));
        return out;
    }
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    if (!transform.handle) {
        image.applyColorTransform(transform.qt);
        image.setColorSpace(QColorSpace::SRgb);
        return image;
    }
    // Rows may be padded, so each is transformed on its own; the alpha byte stays.
    for (int y = 0; y < image.height(); ++y)
        cmsDoTransform(transform.handle, image.constScanLine(y), image.scanLine(y),
                       cmsUInt32Number(image.width()));
    return image;
}

void cmykToSrgb(const uchar *cmyk, QRgb *out, int pixels, bool inverted,
                const SrgbTransform *transform)
{
    if (transform && transform->components == 4) {
        if (!inverted) {
            cmsDoTransform(transform->handle, cmyk, out, cmsUInt32Number(pixels));
        } else {
            // The profile reads inks; Adobe's bytes are their complements.
            thread_local std::vector<uchar> inks;
            inks.resize(std::size_t(pixels) * 4);
            for (std::size_t i = 0; i < inks.size(); ++i)
                inks[i] = uchar(255 - cmyk[i]);
            cmsDoTransform(transform->handle, inks.data(), out, cmsUInt32Number(pixels));
        }
        for (int i = 0; i < pixels; ++i)
            out[i] |= 0xFF000000u;
        return;
    }
    for (int i = 0; i < pixels; ++i, cmyk += 4) {
        // White paper less each ink: with inverted bytes, each byte is what is left already.
        const auto left = [inverted](uchar v) { return inverted ? int(v) : 255 - int(v); };
        const int k = left(cmyk[3]);
        out[i] = qRgb(left(cmyk[0]) * k / 255, left(cmyk[1]) * k / 255, left(cmyk[2]) * k / 255);
    }
}
