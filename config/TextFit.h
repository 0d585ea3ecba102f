#pragma once

#include <Qt>

class QCheckBox;
class QLabel;
class QSize;
class QString;
class QWidget;

// The windows' texts have fixed places, drawn for another face than a Linux machine has: these
// make a font smaller, half a point at a time down to 6 points, until the text fits its place,
// across and down (a face with a taller line can overflow a place as low as its text).

// Until `text`, laid out with the Qt::TextFlag and alignment `flags`, takes no more than `room`
// in `widget`'s font.
void shrinkFontToFit(QWidget *widget, const QString &text, const QSize &room, int flags);
// Until the label's text (one line, or wrapped) fits within its margins.
void fitTextToPlace(QLabel *label);
// Until the check box's text fits beside its indicator.
void fitTextToPlace(QCheckBox *checkBox);
