#pragma once

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSizeF>
#include <QString>
#include <QTemporaryDir>

// Reading the PDFs that printing produced with poppler's tools.
namespace PdfInspect {

struct Info
{
    int pages = 0;
    QSizeF pageSizePt;
};

inline Info info(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), { pdf });
    p.waitForFinished(30000);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    Info result;
    const auto pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(out);
    if (pages.hasMatch())
        result.pages = pages.captured(1).toInt();
    const auto size
        = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(out);
    if (size.hasMatch())
        result.pageSizePt = QSizeF(size.captured(1).toDouble(), size.captured(2).toDouble());
    return result;
}

// Page `page` (from 1) rendered at `dpi`.
inline QImage render(const QString &pdf, int page, int dpi)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("page"));
    QProcess p;
    p.start(QStringLiteral("pdftoppm"),
            { QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"),
              QString::number(page), QStringLiteral("-l"), QString::number(page),
              QStringLiteral("-singlefile"), QStringLiteral("-png"), pdf, base });
    p.waitForFinished(60000);
    return QImage(base + QStringLiteral(".png"));
}

} // namespace PdfInspect
