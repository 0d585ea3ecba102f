#include "FIni.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "StationLock.h"
#include "StationLog.h"
#include "StationStart.h"
#include "StopSignals.h"
#include "SystemPrinterPort.h"
#include "Translations.h"

#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvo"));
    QApplication::setApplicationVersion(QStringLiteral(ZELVO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(ZELVO_APP_ID));
    QIcon icon;
    for (int size : { 16, 24, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/icons/zelvo_%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    ModConf::ProgramPath = QCoreApplication::applicationDirPath();
    const QString appPath = ModConf::stationFolder();

    // Taken before the log opens, so that a refused start never rotates a running station's log.
    const StationLock lock(appPath);
    const bool held = lock.state() == StationLock::State::Held;
    installStationLog(appPath, held);
    installQtTranslations(app);
    if (!held) {
        const QString platform = QGuiApplication::platformName();
        tellStartRefused(
            lock, platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"));
        return 1;
    }
    qCInfo(lcStation, "Zelvo %s started from '%s', station folder '%s'", ZELVO_VERSION,
           qUtf8Printable(QCoreApplication::applicationDirPath()), qUtf8Printable(appPath));
    // A shutdown or a logout closes the station as its close button does.
    StopSignals stopSignals;

    SystemPrinterPort printers(appPath + QStringLiteral("/pdf"));
    ModPrint::setPrinterPort(&printers);
    // Start-up fills empty printer names and may open the configuration window, which list
    // CUPS's queues: the link's first round comes first, or tells within seconds that CUPS is
    // not answering.
    QEventLoop firstRound;
    QTimer::singleShot(CupsLink::StaleAfterMs, &firstRound, &QEventLoop::quit);
    QObject::connect(&printers.events, &PrinterPortEvents::snapshotChanged, &firstRound,
                     &QEventLoop::quit);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &firstRound, &QEventLoop::quit);
    firstRound.exec();

    int status = 0;
    if (!stopSignals.received()) {
        FIni window(printers, appPath);
        closeOnStopSignals(stopSignals, window);
        window.load(); // may wait for the first-start Setup, which a stop signal closes
        if (!stopSignals.received()) {
            window.show();
            status = QApplication::exec();
        }
        window.close();
    }
    ModPrint::setPrinterPort(nullptr);
    qCInfo(lcStation, "Zelvo stopped");
    return status;
}
