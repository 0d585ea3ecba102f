#include "PhotoFault.h"

#include "Imaging.h"
#include "PhotoFile.h"

#include <QFileInfo>
#include <QImageReader>

PhotoFault photoFaultOf(int igError)
{
    switch (igError) {
    case IgSuccess:
        return PhotoFault::None;
    case IgNoFile:
        return PhotoFault::Missing;
    case IgTooLarge:
        return PhotoFault::TooLarge;
    default:
        return PhotoFault::Unreadable;
    }
}

QString photoFaultText(PhotoFault fault)
{
    switch (fault) {
    case PhotoFault::None:
        return {};
    case PhotoFault::Missing:
        return QStringLiteral("não encontrada");
    case PhotoFault::TooLarge:
        return QStringLiteral("grande demais");
    case PhotoFault::Unreadable:
        break;
    }
    return QStringLiteral("ilegível");
}

const char *photoFaultLogText(PhotoFault fault)
{
    switch (fault) {
    case PhotoFault::None:
        return "readable";
    case PhotoFault::Missing:
        return "missing";
    case PhotoFault::TooLarge:
        return "too large";
    case PhotoFault::Unreadable:
        break;
    }
    return "unreadable";
}

PhotoFault diagnosePhoto(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.fileName().startsWith(QLatin1Char('.')))
        return PhotoFault::Missing;
    if (info.size() > MaxPhotoFileBytes)
        return PhotoFault::TooLarge;
    const QSize declared = QImageReader(path, "jpeg").size();
    return qint64(declared.width()) * declared.height() > IgMaxDeclaredPixels
        ? PhotoFault::TooLarge
        : PhotoFault::Unreadable;
}
