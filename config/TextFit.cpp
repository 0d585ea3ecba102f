#include "TextFit.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>

void shrinkFontToFit(QWidget *widget, const QString &text, const QSize &room, int flags)
{
    QFont font = widget->font();
    const auto fits = [&] {
        const QSize needed = (flags & Qt::TextWordWrap)
            ? QFontMetrics(font).boundingRect(QRect(QPoint(), room), flags, text).size()
            : QFontMetrics(font).size(flags, text);
        return needed.width() <= room.width() && needed.height() <= room.height();
    };
    while (font.pointSizeF() > 6 && !fits())
        font.setPointSizeF(font.pointSizeF() - 0.5);
    widget->setFont(font);
}

void fitTextToPlace(QLabel *label)
{
    const QRect room = label->contentsRect().marginsRemoved(QMargins() + label->margin());
    shrinkFontToFit(label, label->text(), room.size(),
                    label->wordWrap() ? int(Qt::TextWordWrap | label->alignment())
                                      : Qt::TextSingleLine);
}

void fitTextToPlace(QCheckBox *checkBox)
{
    QStyleOptionButton option;
    option.initFrom(checkBox);
    option.text = checkBox->text();
    const QRect room
        = checkBox->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, checkBox);
    shrinkFontToFit(checkBox, checkBox->text(), room.size(), Qt::TextShowMnemonic);
}
