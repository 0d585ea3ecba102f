#include "ImageButton.h"

#include <QMouseEvent>
#include <QPainter>

namespace ImgLstBotoes {

QPixmap picture(const QString &key)
{
    // QPixmap keeps loaded resources in QPixmapCache, so fetching on every event is cheap.
    return QPixmap(QStringLiteral(":/buttons/") + key + QStringLiteral(".png"));
}

} // namespace ImgLstBotoes

ImageButton::ImageButton(const QString &pictureKey, bool reportsMoves, QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(reportsMoves);
    setPicture(pictureKey);
}

void ImageButton::setPicture(const QString &key)
{
    m_key = key;
    m_picture = ImgLstBotoes::picture(key);
    update();
}

void ImageButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

void ImageButton::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    emit mouseDown();
}

void ImageButton::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    emit mouseMoved();
}

void ImageButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    emit mouseUp();
}
