#include "TextFit.h"

#include <QCheckBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>

void shrinkFontToFit(QWidget *widget, const QString &text, int room)
{
    QFont font = widget->font();
    while (font.pointSizeF() > 6 && QFontMetricsF(font).horizontalAdvance(text) > room)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    widget->setFont(font);
}

void fitTextToWidth(QLabel *label)
{
    const int margin = label->margin();
    shrinkFontToFit(label, label->text(), label->contentsRect().width() - 2 * margin);
}

void fitTextToWidth(QCheckBox *checkBox)
{
    QStyleOptionButton option;
    option.initFrom(checkBox);
    option.text = checkBox->text();
    const QRect room
        = checkBox->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, checkBox);
    shrinkFontToFit(checkBox, checkBox->text(), room.width());
}
