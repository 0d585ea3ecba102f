#pragma once

#include <QDialog>

#include <array>
#include <functional>

class PrinterPort;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

// The configuration window "Setup": the printer and printable size for each paper size, the
// system folder and whether orders awaiting payment are printed; in a column beside them a
// stand-in printer for each paper size and the pace of printing. Save validates, sets the
// settings globals and writes zelvo.ini; any other way of closing keeps nothing.
class FConf : public QDialog
{
    Q_OBJECT

public:
    FConf(PrinterPort &printers, QWidget *owner);

    // The box a failed check shows: OK only, no icon, the program's name as title.
    static QMessageBox *makeMessageBox(const QString &text, QWidget *parent);
    // Shows a failed check's message; tests replace it to read the messages.
    std::function<void(const QString &text)> showMessage;

    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4, *Frame5;
    QComboBox *comboPrinter1, *comboPrinter2, *comboPrinter3;
    std::array<QLabel *, 3> LblLarg;
    std::array<QLabel *, 3> LblAlt;
    std::array<QLabel *, 6> LblInfoPol;
    std::array<QLineEdit *, 3> txtWPrinter;
    std::array<QLineEdit *, 3> txtHPrinter;
    QLineEdit *txtDir;
    QPushButton *Command2;
    QCheckBox *chkTodos;
    QPushButton *CmdSave;
    // Beside the described controls: a stand-in printer per paper size (the first entry, "",
    // is none) and the pace of printing.
    QGroupBox *FrameStandIn, *FramePace;
    std::array<QComboBox *, 3> comboStandIn;
    QComboBox *comboPace;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fillFromSettings();
    // The message of the first check that fails, or "" when all pass.
    QString firstFailedCheck() const;
    void onCmdSaveClicked();
    void onCommand2Clicked();

    PrinterPort &printers;
};
