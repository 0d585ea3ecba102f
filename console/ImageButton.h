#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

// The image list ImgLstBotoes: the twelve button pictures, compiled in from assets/buttons and
// fetched by key ("bt_up_off", "bt_agora_on"...) each time one is shown. The list never changes.
namespace ImgLstBotoes {
// A null pixmap for a key the list does not hold.
QPixmap picture(const QString &key);
} // namespace ImgLstBotoes

// An image that behaves as a button: it shows one picture of ImgLstBotoes and reports the
// mouse's presses, moves and releases, whichever mouse button. A release goes to the button
// that took the press, wherever the pointer then is. What the button looks like and does on
// each is up to its window.
class ImageButton : public QWidget
{
    Q_OBJECT

public:
    // `reportsMoves`: whether a hover reaches mouseMoved(); the scroll buttons do not react
    // to hovering, and their moves end there.
    ImageButton(const QString &pictureKey, bool reportsMoves, QWidget *parent);

    // Shows the picture of ImgLstBotoes under `key`.
    void setPicture(const QString &key);
    QString pictureKey() const { return m_key; }
    QPixmap picture() const { return m_picture; }

signals:
    void mouseDown();
    void mouseMoved();
    void mouseUp();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString m_key;
    QPixmap m_picture;
};
