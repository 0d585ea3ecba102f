#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Runs file moves one after another on a thread of its own, in the order they were posted, so
// that a retirement onto a slow or distant backup (a copy, flushed, read back and compared)
// holds neither the window nor the renewal of the station's lease. What a move leaves undone
// when the station dies is finished at the next start, as for any retirement cut short.
class FileMover
{
public:
    FileMover();
    // Waits for every move posted.
    ~FileMover();
    FileMover(const FileMover &) = delete;
    FileMover &operator=(const FileMover &) = delete;

    void post(std::function<void()> moves);
    // Returns once every move posted so far is done.
    void drain();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_pending;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;
};
