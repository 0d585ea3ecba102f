#pragma once

#include <QListWidget>

class QueueList;

// Shows a QueueList and passes the operator's choice back to it: the model is the one truth,
// the widget mirrors every insert, removal and selection change, and a row the operator picks
// (mouse or keyboard) comes back as QueueList::select(). QListWidget moves its current row by
// itself when the current item goes; the mirror puts the model's selection back each time.
class QueueListWidget : public QListWidget
{
    Q_OBJECT

public:
    QueueListWidget(QueueList &model, QWidget *parent);

private:
    void showSelection(int index);

    QueueList &model;
};
