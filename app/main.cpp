#include "FIni.h"
#include "ModPrint.h"
#include "StationLog.h"
#include "SystemPrinterPort.h"
#include "Translations.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvo"));
    const QString appPath = QCoreApplication::applicationDirPath();
    installStationLog(appPath);
    installQtTranslations(app);

    SystemPrinterPort printers(appPath + QStringLiteral("/pdf"));
    ModPrint::setPrinterPort(&printers);

    FIni window(printers, appPath);
    window.load();
    window.show();
    const int status = QApplication::exec();
    ModPrint::setPrinterPort(nullptr);
    return status;
}
