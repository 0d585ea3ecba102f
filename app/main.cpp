#include "FIni.h"
#include "ModPrint.h"
#include "StationLog.h"
#include "SystemPrinterPort.h"
#include "Translations.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvo"));
    const QString appPath = QCoreApplication::applicationDirPath();
    installStationLog(appPath);
    installQtTranslations(app);

    SystemPrinterPort printers(appPath + QStringLiteral("/pdf"));
    ModPrint::setPrinterPort(&printers);
    // Start-up fills empty printer names and may open the configuration window, which list
    // CUPS's queues: the link's first round comes first, or tells within seconds that CUPS is
    // not answering.
    QEventLoop firstRound;
    QTimer::singleShot(CupsLink::StaleAfterMs, &firstRound, &QEventLoop::quit);
    QObject::connect(&printers.events, &PrinterPortEvents::snapshotChanged, &firstRound,
                     &QEventLoop::quit);
    firstRound.exec();

    FIni window(printers, appPath);
    window.load();
    window.show();
    const int status = QApplication::exec();
    ModPrint::setPrinterPort(nullptr);
    return status;
}
