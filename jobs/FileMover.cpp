#include "FileMover.h"

FileMover::FileMover()
    : m_thread([this] { run(); })
{ }

FileMover::~FileMover()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void FileMover::post(std::function<void()> moves)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(moves));
    }
    m_changed.notify_all();
}

void FileMover::drain()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_pending.empty() && !m_busy; });
}

void FileMover::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_pending.empty() || m_stopping; });
        if (m_pending.empty())
            return; // stopping, with nothing left to move
        std::function<void()> moves = std::move(m_pending.front());
        m_pending.pop_front();
        m_busy = true;
        lock.unlock();
        moves();
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}
