#include "IndicatorShape.h"

#include <QPainter>

IndicatorShape::IndicatorShape(bool circle, QColor fill, QColor border, QWidget *parent)
    : QWidget(parent)
    , circle(circle)
    , fill(fill)
    , border(border)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void IndicatorShape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(border, 1));
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (circle) {
        QRadialGradient shine(r.center() - QPointF(r.width() / 5, r.height() / 5), r.width() * 0.7);
        shine.setColorAt(0, fill.lighter(135));
        shine.setColorAt(1, fill);
        p.setBrush(shine);
        p.drawEllipse(r);
    } else {
        p.setBrush(fill);
        p.drawRoundedRect(r, 2, 2);
    }
}
