#include "QueueListWidget.h"

#include "QueueList.h"

#include <QSignalBlocker>

QueueListWidget::QueueListWidget(QueueList &model, QWidget *parent)
    : QListWidget(parent)
    , model(model)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    for (int i = 0; i < model.count(); ++i)
        addItem(model.text(i));
    showSelection(model.selectedIndex());

    connect(&model, &QueueList::entryInserted, this, [this](int index, const QString &text) {
        {
            const QSignalBlocker quiet(this);
            insertItem(index, text);
        }
        showSelection(this->model.selectedIndex());
    });
    connect(&model, &QueueList::entryRemoved, this, [this](int index) {
        {
            const QSignalBlocker quiet(this);
            delete takeItem(index);
        }
        showSelection(this->model.selectedIndex());
    });
    connect(&model, &QueueList::selectedIndexChanged, this, &QueueListWidget::showSelection);
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            this->model.select(row);
    });
}

QItemSelectionModel::SelectionFlags QueueListWidget::selectionCommand(const QModelIndex &index,
                                                                      const QEvent *event) const
{
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (!index.isValid()
        || command.testAnyFlags(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::NoUpdate;
    return command;
}

void QueueListWidget::showSelection(int index)
{
    const QSignalBlocker quiet(this);
    if (index < 0) {
        setCurrentItem(nullptr);
        clearSelection();
    } else {
        setCurrentRow(index);
    }
}
