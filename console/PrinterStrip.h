#pragma once

#include "PrinterStatus.h"

#include <QList>
#include <QWidget>

class PrintTracker;
class QLabel;

// The printer strip along the bottom of the main window: for each paper size its printer, the
// printer's state in Portuguese, the media left where the driver reports it (with its low
// mark) and the copies printed today; a size whose printer cannot print right now stands out in
// red with a "!" beside it. Under the sizes, the latest notice: an automatic reprint, or in red
// a photo that could not be printed, which stays until the operator clicks it.
class PrinterStrip : public QWidget
{
    Q_OBJECT

public:
    struct Row
    {
        QLabel *size;
        QLabel *printer;
        QLabel *state;
        QLabel *today;
        PrinterHealth health = PrinterHealth::Ready;
        int mediaLevel = -1; // percent, -1 when not reported
        int mediaLow = -1;
    };

    PrinterStrip(PrintTracker &tracker, QWidget *parent);

    // Reads the tracker's lines again; the window calls it on every tick as well.
    void refresh();

    QList<Row> rows;
    QLabel *notice;
    // Why the station holds its photos back, shown in red in the notice's place while set.
    QString hold;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    // A click on the notice acknowledges it.
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    PrintTracker &m_tracker;
};
