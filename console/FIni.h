#pragma once

#include "JobStore.h"

#include <QTimer>
#include <QWidget>

class PrinterPort;
class QLabel;
class QueueListWidget;

// A label that runs an action when it is clicked (pressed and released over it).
class ClickLabel : public QWidget
{
    Q_OBJECT

public:
    ClickLabel(const QString &text, QWidget *parent);
    QLabel *label() const { return text; }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QLabel *text;
    bool pressed = false;
};

// The station's main window: the print queue, the thumbnails of the selected job and the way
// into the configuration window. Its load() is the station's start-up, its closing the
// shutdown.
class FIni : public QWidget
{
    Q_OBJECT

public:
    // `appPath` is the program's folder: zelvo.ini and the sounds live there.
    FIni(PrinterPort &printers, const QString &appPath, QWidget *parent = nullptr);
    ~FIni() override;

    // Start-up: settings (or the configuration window on a first start), defaults, folders,
    // the jobs an earlier run had taken, and finally the polling timer.
    void load();
    // Opens the configuration window with the polling timer paused.
    void OpenConfiguration();
    // A polling tick: takes new job files in, then prints the next photo.
    void onTimer1Tick();

    // The job table, the queue list's model and the list's fields.
    JobStore store;

    QLabel *Label1;
    QLabel *Label2;
    QueueListWidget *LstJobs;
    ClickLabel *LblSetup;
    QTimer Timer1;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void unload();

    PrinterPort &printers;
    QString appPath;
    bool unloaded = false;
};
