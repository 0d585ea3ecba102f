#pragma once

#include <QColor>
#include <QFont>

class QWidget;

// The console's shared look: the labels' font and the colours the windows were drawn with.
namespace ConsoleLook {

inline const QColor Panel(225, 242, 250); // the list and the viewer's frame
inline const QColor Viewport(52, 158, 208); // behind the thumbnails
inline const QColor LabelGrey(64, 64, 64);
inline const QColor LabelLight(203, 215, 227);

// The labels' face, from fonts-liberation2, which the package depends on: the face of Debian's
// that is nearest to "MS Sans Serif", the window's design face (its widths are Arial's), so the
// window looks the same on every machine.
inline const QString LabelFamily = QStringLiteral("Liberation Sans");

// The labels' font: LabelFamily bold at `pointSize`.
QFont labelFont(double pointSize);
void setTextColour(QWidget *widget, const QColor &colour);
void setBackground(QWidget *widget, const QColor &colour);
// A tooltip that shows `text` as written: names from outside (queues, files, CUPS's messages)
// may hold what looks like markup, which a tooltip would otherwise draw.
QString plainToolTip(const QString &text);

} // namespace ConsoleLook
