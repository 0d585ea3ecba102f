#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
class QWidget;

// SIGTERM (a shutdown, a logout), SIGHUP (the session gone) and SIGINT (Ctrl+C) as a Qt signal
// on the interface thread. The handler only writes the signal's number into a pipe, which a
// QSocketNotifier reads, so nothing that is unsafe in a signal handler runs there. The default
// actions come back when this object goes.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // The first signal received; 0 while none has been.
    int received() const { return m_received; }

signals:
    void stopRequested(int signal);

private:
    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};

// "SIGTERM" for SIGTERM.
QByteArray signalName(int signal);

// Once `stop` is asked, the station closes as its window's close button closes it: what is open
// over the window first (the Remove question as "Cancelar", Setup without saving), then the window
// (which waits for the answer to the photo on its way), and the event loop ends.
void closeOnStopSignals(StopSignals &stop, QWidget &window);
