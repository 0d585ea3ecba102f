#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The queue list LstJobs as a model: ordered text entries and at most one selected entry,
// with the behaviour of a single-selection list box. The window shows it in a list widget by
// mirroring the three notifications below, and passes the operator's clicks in as select().
class QueueList : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxEntries = 32767;

    explicit QueueList(QObject *parent = nullptr);

    int count() const { return int(m_entries.size()); }
    // The entry's text; empty for an index outside the list.
    QString text(int index) const { return m_entries.value(index); }
    int selectedIndex() const { return m_selected; }

    // Inserts before entry `index`; index == count() appends. An entry above the selected one
    // shifts the selection with it, without running the selection handler. False, and nothing
    // changes, for an index outside 0..count() or a full list.
    bool insert(int index, const QString &text);
    // Removes entry `index`. Removing an entry above the selected one shifts the selection;
    // removing the selected entry leaves none selected. Neither runs the selection handler.
    bool remove(int index);
    // Selects entry `index` (-1 for none) and, when that changes the selection, runs the
    // selection handler before returning. False for an index outside -1..count()-1.
    bool select(int index);

    // What runs when select() changes the selection.
    void setSelectionHandler(std::function<void()> handler)
    {
        m_selectionHandler = std::move(handler);
    }

signals:
    void entryInserted(int index, const QString &text);
    void entryRemoved(int index);
    // The selected index changed for any reason: select(), or an insert or removal that
    // shifted or cleared it. Sent after entryInserted/entryRemoved, and before the selection
    // handler runs.
    void selectedIndexChanged(int index);

private:
    QStringList m_entries;
    int m_selected = -1;
    std::function<void()> m_selectionHandler;
};
