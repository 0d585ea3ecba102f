#pragma once

#include <QListWidget>

class QueueList;

// Shows a QueueList and passes the operator's choice back to it: the model is the one truth,
// the widget mirrors every insert, removal and selection change, and a row the operator picks
// (mouse or keyboard) comes back as QueueList::select(). QListWidget moves its current row by
// itself when the current item goes; the mirror puts the model's selection back each time.
// As in a single-selection list box, the operator can pick another row but not clear the
// highlight (a click beside the rows, Ctrl+click or Ctrl+Space on the selected one), so the
// highlighted entry is always the one the commands act on.
class QueueListWidget : public QListWidget
{
    Q_OBJECT

public:
    QueueListWidget(QueueList &model, QWidget *parent);

    // What each row shows at its right, after the entry: when its job should be printed
    // ("~14:32"); the same words, longer, in its tooltip. Rows beyond the list are ignored.
    void setReadyTimes(const QStringList &shown, const QStringList &toolTips);
    static constexpr int ReadyRole = Qt::UserRole + 1;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;

private:
    void showSelection(int index);

    QueueList &model;
};
