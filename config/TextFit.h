#pragma once

class QCheckBox;
class QLabel;
class QString;
class QWidget;

// The windows' texts have fixed places, drawn for narrower fonts than a Linux machine may have:
// these make a font smaller, half a point at a time down to 6 points, until the text fits.

// Until `text` takes no more than `room` pixels across in `widget`'s font.
void shrinkFontToFit(QWidget *widget, const QString &text, int room);
// Until the label's one line of text fits its width.
void fitTextToWidth(QLabel *label);
// Until the check box's text fits beside its indicator.
void fitTextToWidth(QCheckBox *checkBox);
