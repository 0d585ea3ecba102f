#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

// The texts of `root` and its visible children that do not fit the room their widget gives
// them, as "Class 'text': needs W x H in w x h": labels (one line, or wrapped), buttons and
// check boxes (beside the indicator), and group box titles (within the box).
inline QStringList textsCutShort(QWidget *root)
{
    QStringList cut;
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    for (QWidget *w : widgets << root) {
        const QFontMetrics fm = w->fontMetrics();
        QString text;
        QSize needed;
        QRect room;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            text = label->text();
            room = label->contentsRect().marginsRemoved(QMargins() + label->margin());
            needed = label->wordWrap()
                ? fm.boundingRect(room, Qt::TextWordWrap | label->alignment(), text).size()
                : fm.size(Qt::TextSingleLine, text);
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = text = button->text();
            room = button->style()->subElementRect(qobject_cast<QCheckBox *>(button)
                                                       ? QStyle::SE_CheckBoxContents
                                                       : QStyle::SE_PushButtonContents,
                                                   &option, button);
            needed = fm.size(Qt::TextShowMnemonic, text);
        } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = text = group->title();
            option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, group);
            // Styles may draw the title bold beyond the place they give it: the box's edge cuts.
            QFont bold = group->font();
            bold.setBold(true);
            room = QRect(title.topLeft(), QPoint(group->width() - 1, title.bottom()));
            needed = QFontMetrics(bold).size(Qt::TextShowMnemonic, text);
        }
        if (!text.isEmpty() && w->isVisibleTo(root)
            && (needed.width() > room.width() || needed.height() > room.height()))
            cut << QStringLiteral("%1 '%2': needs %3 x %4 in %5 x %6")
                       .arg(QLatin1String(w->metaObject()->className()), text.remove('&'))
                       .arg(needed.width())
                       .arg(needed.height())
                       .arg(room.width())
                       .arg(room.height());
    }
    return cut;
}
