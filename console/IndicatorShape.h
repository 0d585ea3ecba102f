#pragma once

#include <QColor>
#include <QWidget>

// Shape1, Shape2 and BallThumb of the thumbnail viewer: a filled rounded rectangle or circle
// on the viewer's frame that lets the mouse through.
class IndicatorShape : public QWidget
{
public:
    IndicatorShape(bool circle, QColor fill, QColor border, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool circle;
    QColor fill, border;
};
