#include "ConsoleLook.h"

#include <QPalette>
#include <QWidget>

namespace ConsoleLook {

QFont labelFont(double pointSize)
{
    QFont font;
    // Named alone, so that no face a machine happens to have (Arial, Ghostscript's Nimbus Sans)
    // comes before it; DejaVu Sans, a dependency too, only keeps a broken install legible.
    font.setFamilies({ LabelFamily, QStringLiteral("DejaVu Sans") });
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
