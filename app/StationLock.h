#pragma once

#include <QString>

// One station at a time per program folder: the station holds an advisory lock (flock) on
// zelvo.lock in its program folder for as long as it runs. The kernel drops the lock when the
// process ends, however it ends, so a killed station never blocks the next start.
class StationLock
{
public:
    enum class State {
        Held, // this process holds the lock
        HeldElsewhere, // another station runs from the same folder
        Unavailable, // the lock file cannot be opened or locked (folder missing or read-only)
    };

    // Tries once to take the lock on `folder`/zelvo.lock, creating the file when needed.
    explicit StationLock(const QString &folder);
    ~StationLock();
    StationLock(const StationLock &) = delete;
    StationLock &operator=(const StationLock &) = delete;

    State state() const { return lockState; }
    // Why a start is refused: for the operator in Portuguese, for the log in English. Empty
    // while the lock is held.
    QString refusalText() const;
    QString refusalLogLine() const;

private:
    QString folder;
    QString reason;
    State lockState = State::Unavailable;
    int fd = -1;
};
