#pragma once

#include <QByteArray>

#include <lcms2.h>

// Colour profiles embedded into test photos.
namespace TestProfiles {

// `jpeg` with `icc` embedded as its APP2 profile segment, right after the start marker.
inline QByteArray withProfile(const QByteArray &jpeg, const QByteArray &icc)
{
    QByteArray segment("\xFF\xE2", 2);
    const int length = 2 + 14 + int(icc.size());
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    segment += QByteArray("ICC_PROFILE\0\x01\x01", 14) + icc;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

// Display P3 as phones write it: the P3 primaries, D65 white and the sRGB curve.
inline QByteArray displayP3Profile()
{
    const cmsCIExyY white { 0.3127, 0.3290, 1.0 };
    const cmsCIExyYTRIPLE primaries { { 0.680, 0.320, 1.0 },
                                      { 0.265, 0.690, 1.0 },
                                      { 0.150, 0.060, 1.0 } };
    const double srgbCurve[5] = { 2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045 };
    cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
    cmsToneCurve *curves[3] = { curve, curve, curve };
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

} // namespace TestProfiles
