#include "ConsoleLook.h"

#include <QPalette>
#include <QWidget>

namespace ConsoleLook {

QFont labelFont(double pointSize)
{
    QFont font;
    // Sans-serif faces as narrow as the one the window was drawn with come first.
    font.setFamilies({ QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                       QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                       QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif") });
    font.setPointSizeF(pointSize);
    font.setBold(true);
    return font;
}

QString plainToolTip(const QString &text)
{
    if (text.isEmpty())
        return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped()
        + QStringLiteral("</p>");
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

void setBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace ConsoleLook
