#include "QueueListWidget.h"

#include "QueueList.h"

#include <QPainter>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

namespace {

// Draws the row as usual, and its ready time at the right in a lighter colour.
class ReadyTimeDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const QString ready = index.data(QueueListWidget::ReadyRole).toString();
        if (ready.isEmpty())
            return;
        painter->save();
        painter->setPen(option.state & QStyle::State_Selected
                            ? option.palette.color(QPalette::HighlightedText)
                            : QColor(90, 100, 110));
        painter->drawText(option.rect.adjusted(0, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter,
                          ready);
        painter->restore();
    }
};

} // namespace

QueueListWidget::QueueListWidget(QueueList &model, QWidget *parent)
    : QListWidget(parent)
    , model(model)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new ReadyTimeDelegate(this));
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

void QueueListWidget::setReadyTimes(const QStringList &shown, const QStringList &toolTips)
{
    for (int row = 0; row < count() && row < shown.size(); ++row) {
        // Only what changed, as a long queue is brought up to date about once a second.
        QListWidgetItem *entry = item(row);
        if (entry->data(ReadyRole).toString() == shown[row])
            continue;
        entry->setData(ReadyRole, shown[row]);
        entry->setToolTip(toolTips.value(row));
    }
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
