#pragma once

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

// The PDFs that printing produced, read with poppler's tools.
namespace PdfInspect {

inline int pageCount(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), { pdf });
    p.waitForFinished(30000);
    const auto match = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                           .match(QString::fromUtf8(p.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
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
