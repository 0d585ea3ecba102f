#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

// The texts shown in `root` and its visible children that do not fit the room their widget gives
// them, each as "Class 'text': needs W x H in w x h": labels (one line, or wrapped), buttons
// and check boxes (beside their indicator), and group box titles (within the box).
inline QStringList textsCutShort(QWidget *root)
{
    QStringList cut;
    const auto check = [&](QWidget *w, QString text, QSize needed, QRect room) {
        if (needed.width() > room.width() || needed.height() > room.height())
            cut << QStringLiteral("%1 '%2': needs %3 x %4 in %5 x %6")
                       .arg(QLatin1String(w->metaObject()->className()), text.remove('&'))
                       .arg(needed.width())
                       .arg(needed.height())
                       .arg(room.width())
                       .arg(room.height());
    };
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *w : std::as_const(widgets)) {
        if (!w->isVisibleTo(root))
            continue;
        const QFontMetrics fm = w->fontMetrics();
        if (auto *label = qobject_cast<QLabel *>(w); label && !label->text().isEmpty()) {
            const int m = label->margin();
            const QRect room = label->contentsRect().adjusted(m, m, -m, -m);
            const QSize needed = label->wordWrap()
                ? fm.boundingRect(room, Qt::TextWordWrap | label->alignment(), label->text()).size()
                : fm.size(Qt::TextSingleLine, label->text());
            check(label, label->text(), needed, room);
        } else if (auto *button = qobject_cast<QAbstractButton *>(w);
                   button && !button->text().isEmpty()) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const bool box = qobject_cast<QCheckBox *>(button);
            const QRect room = button->style()->subElementRect(
                box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, button);
            check(button, button->text(), fm.size(Qt::TextShowMnemonic, button->text()), room);
        } else if (auto *group = qobject_cast<QGroupBox *>(w); group && !group->title().isEmpty()) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            option.textAlignment = group->alignment();
            option.lineWidth = 1;
            const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, group);
            // Styles may draw the title bold beyond the place they give it; the box's own edge
            // is what cuts it.
            QFont bold = group->font();
            bold.setBold(true);
            check(group, group->title(),
                  QFontMetrics(bold).size(Qt::TextShowMnemonic, group->title()),
                  QRect(title.topLeft(), QPoint(group->width() - 1, title.bottom())));
        }
    }
    return cut;
}
