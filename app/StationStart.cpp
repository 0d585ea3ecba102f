#include "StationStart.h"

#include "StationLock.h"

#include <QMessageBox>

#include <cstdio>

Q_LOGGING_CATEGORY(lcStation, "zelvo.station")

void tellStartRefused(const StationLock &lock, bool withMessageBox)
{
    qCCritical(lcStation).noquote() << lock.refusalLogLine();
    std::fprintf(stderr, "%s\n", lock.refusalText().toLocal8Bit().constData());
    if (withMessageBox) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Zelvo"), lock.refusalText(),
                        QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
}
