#include "StopSignals.h"

#include "StationStart.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

const int StopSignalNumbers[] = { SIGTERM, SIGHUP, SIGINT };
int signalPipe[2] = { -1, -1 };

void writeSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &number, 1);
    errno = saved;
}

// Modal windows may take a few turns of the event loop to go (one opened from another).
constexpr int ModalClosings = 10;

void closeStation(QPointer<QWidget> window, int modalClosings)
{
    if (!window)
        return;
    if (QWidget *modal = QApplication::activeModalWidget(); modal && modalClosings > 0) {
        modal->close();
        QTimer::singleShot(0, window,
                           [window, modalClosings] { closeStation(window, modalClosings - 1); });
        return;
    }
    window->close();
    QCoreApplication::quit();
}

} // namespace

QByteArray signalName(int signal)
{
    const char *abbreviation = sigabbrev_np(signal);
    return abbreviation ? QByteArray("SIG") + abbreviation : QByteArray::number(signal);
}

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcStation, "Cannot make the pipe for stop signals: %s", std::strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        while (::read(signalPipe[0], &number, 1) == 1) {
            if (m_received == 0)
                m_received = number;
            emit stopRequested(number);
        }
    });
    struct sigaction action
    {
    };
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : StopSignalNumbers)
        ::sigaction(signal, &action, nullptr);
}

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    for (const int signal : StopSignalNumbers)
        ::signal(signal, SIG_DFL);
    delete m_notifier;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void closeOnStopSignals(StopSignals &stop, QWidget &window)
{
    QObject::connect(&stop, &StopSignals::stopRequested, &window,
                     [closing = false, window = QPointer<QWidget>(&window)](int signal) mutable {
                         if (std::exchange(closing, true))
                             return;
                         qCInfo(lcStation, "%s received: the station closes",
                                signalName(signal).constData());
                         closeStation(window, ModalClosings);
                     });
}
