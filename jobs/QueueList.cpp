#include "QueueList.h"

QueueList::QueueList(QObject *parent)
    : QObject(parent)
{ }

bool QueueList::insert(int index, const QString &text)
{
    if (index < 0 || index > count() || count() >= MaxEntries)
        return false;
    m_entries.insert(index, text);
    const bool shifted = m_selected >= index;
    if (shifted)
        ++m_selected;
    emit entryInserted(index, text);
    if (shifted)
        emit selectedIndexChanged(m_selected);
    return true;
}

bool QueueList::remove(int index)
{
    if (index < 0 || index >= count())
        return false;
    m_entries.removeAt(index);
    const int before = m_selected;
    if (m_selected == index)
        m_selected = -1;
    else if (m_selected > index)
        --m_selected;
    emit entryRemoved(index);
    if (m_selected != before)
        emit selectedIndexChanged(m_selected);
    return true;
}

bool QueueList::select(int index)
{
    if (index < -1 || index >= count())
        return false;
    if (index == m_selected)
        return true;
    m_selected = index;
    emit selectedIndexChanged(m_selected);
    if (m_selectionHandler)
        m_selectionHandler();
    return true;
}
