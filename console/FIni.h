#pragma once

#include "ClickSound.h"
#include "FileMover.h"
#include "JobStore.h"
#include "PrintTracker.h"

#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <functional>

class ImageButton;
class QDialog;
class PrinterPort;
class PrinterStrip;
class QLabel;
class QueueListWidget;
class ThumbViewer;

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

// The station's main window: the print queue with its five command buttons, the thumbnails of
// the selected job, the way into the configuration window, and along the bottom the printer
// strip. Its load() is the station's start-up, its closing the shutdown.
class FIni : public QWidget
{
    Q_OBJECT

public:
    // How much taller than its described 7860 twips the window is, for the printer strip.
    static constexpr int StripHeightTwips = 1410;

    // `appPath` is the station folder: zelvo.ini, the print ledger and the followed CUPS jobs
    // live there, beside the log; the sounds lie beside the program.
    FIni(PrinterPort &printers, const QString &appPath, QWidget *parent = nullptr);
    ~FIni() override;

    // Start-up: settings (or the configuration window on a first start), defaults, folders,
    // the jobs an earlier run had taken, and finally the polling timer.
    void load();
    // Opens the configuration window with the polling timer paused.
    void OpenConfiguration();
    // A polling tick: takes new job files in, then prints the next photo (or, with the
    // printers' pace, feeds the printers); the printer strip is
    // brought up to date. While a modal window of this window is open the tick is held back and
    // runs once when the window has closed and its answer has been acted on, so that the queue
    // never changes under an open question (CUPS's answers wait too).
    void onTimer1Tick();
    // With the printers' pace, hands each printer that has room the next photo for it.
    void feedPrinters();
    // Shows beside each waiting entry when its job should be printed, from each printer's pace
    // and what lies ahead of it.
    void updateReadyTimes();
    // Starts the key click from sounds/keypress.wav beside the program and returns at once.
    void PlayClickSound();

    // The question Remove asks: Yes, No and Cancel, Yes the default, no icon; below it, the
    // entry it will remove, `entry` ("job 12345"), with the photos it has left to print.
    static QMessageBox *makeRemoveBox(QWidget *parent, const QString &entry = {},
                                      int photosLeft = 0);
    // The question "Retomar" asks before CUPS starts `device` again: Yes and No, No the default.
    static QMessageBox *makeResumeBox(const QString &device, QWidget *parent);
    // What the operator is told when CUPS did not start `device` again.
    static QString resumeRefusal(const QString &device, const QString &error, bool forbidden);

    // The job table, the queue list's model and the list's fields.
    JobStore store;
    // Follows every document to its end; the strip shows what it knows.
    PrintTracker tracker;

    QLabel *Label1;
    QLabel *Label2;
    QueueListWidget *LstJobs;
    ClickLabel *LblSetup;
    ImageButton *ImgBtFirst;
    ImageButton *ImgBtUp;
    ImageButton *ImgBtDown;
    ImageButton *ImgBtLast;
    ImageButton *ImgBtCancel;
    ThumbViewer *FraView;
    PrinterStrip *StripPrinters;
    QTimer Timer1;
    // Renews this station's lease on its system folder. Apart from Timer1, so that the lease
    // holds while the configuration window has the polling stopped.
    QTimer leaseTimer;
    // Brings the ready times up to date once the changes of the moment are done.
    QTimer readyTimer;
    ClickSound clickSound;
    // Moves the files of retired jobs off the interface thread (drain() waits for them).
    FileMover fileMover;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    ImageButton *makeQueueButton(const QString &name, const QString &toolTip, int top,
                                 std::function<void()> command);
    void resetQueueButtons();
    void removeSelectedJob();
    void resumePrinter(const QString &device);
    void tellResumed(const QString &device, const QString &error, bool forbidden);
    // Shows `dialog` modally; ticks that fall due meanwhile wait for runHeldBackTick().
    int execModal(QDialog &dialog);
    void runHeldBackTick();
    void unload();

    PrinterPort &printers;
    QString appPath;
    // The folder of the program and its sounds: the station folder unless told otherwise.
    QString programFolder() const;
    QPixmap background;
    bool unloaded = false;
    int modalDepth = 0; // modal windows of this window open now
    bool tickHeldBack = false;
};
