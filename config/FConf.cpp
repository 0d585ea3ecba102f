#include "FConf.h"

#include "LocaleNumber.h"
#include "ModConf.h"
#include "ModFolderDlg.h"
#include "ModIni.h"
#include "PrinterPort.h"
#include "TextFit.h"
#include "Twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>

namespace {

struct SizeDefaults
{
    float width;
    float height;
};
constexpr SizeDefaults sizeDefaults[3] = { { 613, 413 }, { 700, 500 }, { 900, 600 } };

const char *const sizeMessages[3] = {
    "Digite valores numéricos para Largura e Altura da impressora 10x15.",
    "Digite valores numéricos para Largura e Altura da impressora 13x18.",
    "Digite valores numéricos para Largura e Altura da impressora 15x23.",
};

template<typename W> W *place(W *widget, double left, double top, double width, double height)
{
    widget->setGeometry(twipsRect(left, top, width, height));
    return widget;
}

QGroupBox *frame(QWidget *parent, const char *title, double top, double height)
{
    return place(new QGroupBox(QString::fromUtf8(title), parent), 240, top, 4335, height);
}

// A width or height passes when it is a number whose nearest whole value lies in 1..32767.
bool isUsableSize(const QString &text)
{
    const auto number = parseLocaleNumber(text);
    if (!number)
        return false;
    const auto rounded = roundNearestInt16(*number);
    return rounded && *rounded >= 1;
}

} // namespace

FConf::FConf(PrinterPort &printers, QWidget *owner)
    : QDialog(owner)
    , printers(printers)
{
    setWindowTitle(QStringLiteral("Setup"));
    setModal(true);
    // The described window, widened by a column for the stand-in printers and the pace.
    setFixedSize(twipsToPixels(4815 + 4575), twipsToPixels(8895));

    Frame1 = frame(this, "Impressora 10 x 15cm    ( 4 x 6 pol )  ", 480, 1695);
    Frame2 = frame(this, "Impressora 13 x 18cm    ( 5 x 7 pol )  ", 2280, 1695);
    Frame3 = frame(this, "Impressora 15x23cm    ( 6 x 9 pol )  ", 4080, 1695);
    Frame4 = frame(this, "Pasta do Sistema", 5880, 975);
    Frame5 = frame(this, "Pedidos", 6960, 855);

    QGroupBox *printerFrames[3] = { Frame1, Frame2, Frame3 };
    QComboBox **combos[3] = { &comboPrinter1, &comboPrinter2, &comboPrinter3 };
    for (int i = 0; i < 3; ++i) {
        QGroupBox *f = printerFrames[i];
        *combos[i] = place(new QComboBox(f), 240, 360, 3855, 315);
        (*combos[i])->setObjectName(QStringLiteral("comboPrinter%1").arg(i + 1));
        LblLarg[i] = place(new QLabel(QStringLiteral("Largura:"), f), 225, 915, 675, 255);
        txtWPrinter[i] = place(new QLineEdit(f), 975, 795, 675, 375);
        LblInfoPol[2 * i]
            = place(new QLabel(QStringLiteral("em polegadas x 100"), f), 1710, 960, 1680, 255);
        LblAlt[i] = place(new QLabel(QStringLiteral("Altura:"), f), 225, 1320, 675, 255);
        txtHPrinter[i] = place(new QLineEdit(f), 975, 1230, 675, 375);
        LblInfoPol[2 * i + 1]
            = place(new QLabel(QStringLiteral("em polegadas x 100"), f), 1710, 1380, 1680, 255);
    }
    FrameStandIn = place(new QGroupBox(QStringLiteral("Impressora reserva (opcional)"), this), 4815,
                         480, 4335, 1695);
    const char *const sizeNames[3] = { "10x15:", "13x18:", "15x23:" };
    for (int i = 0; i < 3; ++i) {
        place(new QLabel(QString::fromUtf8(sizeNames[i]), FrameStandIn), 240, 390 + 420 * i, 675,
              255);
        comboStandIn[i] = place(new QComboBox(FrameStandIn), 975, 360 + 420 * i, 3120, 315);
        comboStandIn[i]->setObjectName(QStringLiteral("comboStandIn%1").arg(i + 1));
    }
    FramePace
        = place(new QGroupBox(QStringLiteral("Ritmo de impressão"), this), 4815, 2280, 4335, 1695);
    comboPace = place(new QComboBox(FramePace), 240, 360, 3855, 315);
    comboPace->addItem(QStringLiteral("Uma foto a cada 15 segundos"),
                       int(ModConf::PrintPace::Tick));
    comboPace->addItem(QStringLiteral("Cada impressora assim que estiver livre"),
                       int(ModConf::PrintPace::Printers));
    txtDir = place(new QLineEdit(Frame4), 240, 360, 3375, 375);
    Command2 = place(new QPushButton(QStringLiteral("..."), Frame4), 3660, 360, 435, 390);
    chkTodos = place(new QCheckBox(QStringLiteral("Imprimir pedidos aguardando pagamento"), Frame5),
                     240, 360, 3855, 255);
    CmdSave = place(new QPushButton(QString::fromUtf8("Salvar configurações"), this), 960, 8040,
                    2775, 375);
    CmdSave->setAutoDefault(false);
    Command2->setAutoDefault(false);
    // "em polegadas x 100" cut to "x 10" would have sizes entered ten times too small.
    for (QLabel *label : findChildren<QLabel *>())
        fitTextToPlace(label);
    fitTextToPlace(chkTodos);

    showMessage = [this](const QString &text) {
        QMessageBox *box = makeMessageBox(text, this);
        box->exec();
        delete box;
    };
    connect(CmdSave, &QPushButton::clicked, this, &FConf::onCmdSaveClicked);
    connect(Command2, &QPushButton::clicked, this, &FConf::onCommand2Clicked);
}

QMessageBox *FConf::makeMessageBox(const QString &text, QWidget *parent)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Zelvo"), text, QMessageBox::Ok,
                                parent);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(QMessageBox::Ok);
    return box;
}

void FConf::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The window is made anew for each opening, so this fills it once per opening.
    if (!event->spontaneous())
        fillFromSettings();
}

void FConf::fillFromSettings()
{
    QComboBox *combos[3] = { comboPrinter1, comboPrinter2, comboPrinter3 };
    const QString *configured[3]
        = { &ModConf::Printer10x15, &ModConf::Printer13x18, &ModConf::Printer15x23 };
    const QStringList installed = printers.installedPrinters();
    for (int k = 0; k < 3; ++k) {
        combos[k]->clear();
        combos[k]->addItems(installed);
    }
    txtDir->setText(ModConf::SystemFolder.isEmpty() ? ModConf::AppPath : ModConf::SystemFolder);
    for (int k = 0; k < 3; ++k)
        combos[k]->setCurrentIndex(installed.indexOf(*configured[k])); // exact, case-sensitive
    const QString *standIns[3]
        = { &ModConf::StandIn10x15, &ModConf::StandIn13x18, &ModConf::StandIn15x23 };
    for (int k = 0; k < 3; ++k) {
        comboStandIn[k]->clear();
        comboStandIn[k]->addItem(QString());
        comboStandIn[k]->addItems(installed);
        // A name that is no longer installed shows no choice, as for the printers above.
        comboStandIn[k]->setCurrentIndex(
            standIns[k]->trimmed().isEmpty() ? 0 : comboStandIn[k]->findText(*standIns[k]));
    }
    comboPace->setCurrentIndex(comboPace->findData(int(ModConf::Pace)));

    const float *widths[3] = { &ModConf::Width10x15, &ModConf::Width13x18, &ModConf::Width15x23 };
    const float *heights[3]
        = { &ModConf::Height10x15, &ModConf::Height13x18, &ModConf::Height15x23 };
    for (int i = 0; i < 3; ++i) {
        const bool both = *widths[i] != 0 && *heights[i] != 0;
        txtWPrinter[i]->setText(formatSingle(both ? *widths[i] : sizeDefaults[i].width));
        txtHPrinter[i]->setText(formatSingle(both ? *heights[i] : sizeDefaults[i].height));
    }
    chkTodos->setChecked(ModConf::PrintAll);
}

QString FConf::firstFailedCheck() const
{
    if (comboPrinter1->currentIndex() < 0 || comboPrinter2->currentIndex() < 0
        || comboPrinter3->currentIndex() < 0)
        return QStringLiteral("Selecione a impressora para todos os tipos de impressão!");
    QComboBox *const combos[3] = { comboPrinter1, comboPrinter2, comboPrinter3 };
    for (int i = 0; i < 3; ++i) {
        if (comboStandIn[i]->currentIndex() < 0)
            return QStringLiteral("Selecione a impressora reserva de cada tamanho, ou deixe-a "
                                  "em branco!");
        if (comboStandIn[i]->currentIndex() > 0
            && comboStandIn[i]->currentText() == combos[i]->currentText())
            return QStringLiteral("A impressora reserva deve ser outra que a principal!");
    }
    for (int i = 0; i < 3; ++i) {
        if (!isUsableSize(txtWPrinter[i]->text()) || !isUsableSize(txtHPrinter[i]->text()))
            return QString::fromUtf8(sizeMessages[i]);
    }
    // The folder the station will use is the trimmed text; on Linux a name with blanks around
    // it would be another folder.
    if (!QFileInfo(txtDir->text().trimmed()).isDir())
        return QStringLiteral("Selecione uma pasta de sistema válida!");
    return {};
}

void FConf::onCmdSaveClicked()
{
    if (const QString failed = firstFailedCheck(); !failed.isEmpty()) {
        showMessage(failed);
        return;
    }
    ModConf::SystemFolder = txtDir->text().trimmed();
    ModConf::Printer10x15 = comboPrinter1->currentText();
    ModConf::Printer13x18 = comboPrinter2->currentText();
    ModConf::Printer15x23 = comboPrinter3->currentText();
    float *dims[6] = { &ModConf::Width10x15,  &ModConf::Height10x15, &ModConf::Width13x18,
                       &ModConf::Height13x18, &ModConf::Width15x23,  &ModConf::Height15x23 };
    for (int i = 0; i < 3; ++i) {
        *dims[2 * i] = float(*parseLocaleNumber(txtWPrinter[i]->text()));
        *dims[2 * i + 1] = float(*parseLocaleNumber(txtHPrinter[i]->text()));
    }
    ModConf::PrintAll = chkTodos->isChecked();
    ModConf::StandIn10x15 = comboStandIn[0]->currentText();
    ModConf::StandIn13x18 = comboStandIn[1]->currentText();
    ModConf::StandIn15x23 = comboStandIn[2]->currentText();
    ModConf::Pace = ModConf::PrintPace(comboPace->currentData().toInt());

    using ModIni::iniText;
    const QString general = QStringLiteral("General");
    const QString printersSection = QStringLiteral("Printers");
    // The keys in one replacement of the file: a save that fails part-way (a full disk)
    // leaves the old settings whole rather than half old, half new.
    ModIni::WriteIniEntries(
        {
            { general, QStringLiteral("SYSTEM_FOLDER"), txtDir->text() },
            { general, QStringLiteral("PRINT_ALL"), iniText(ModConf::PrintAll) },
            { general, QStringLiteral("PRINT_PACE"), ModConf::printPaceText(ModConf::Pace) },
            { printersSection, QStringLiteral("10x15"), ModConf::Printer10x15 },
            { printersSection, QStringLiteral("13x18"), ModConf::Printer13x18 },
            { printersSection, QStringLiteral("15x23"), ModConf::Printer15x23 },
            { printersSection, QStringLiteral("10x15W"), iniText(ModConf::Width10x15) },
            { printersSection, QStringLiteral("10x15H"), iniText(ModConf::Height10x15) },
            { printersSection, QStringLiteral("13x18W"), iniText(ModConf::Width13x18) },
            { printersSection, QStringLiteral("13x18H"), iniText(ModConf::Height13x18) },
            { printersSection, QStringLiteral("15x23W"), iniText(ModConf::Width15x23) },
            { printersSection, QStringLiteral("15x23H"), iniText(ModConf::Height15x23) },
            { printersSection, QStringLiteral("10x15_2"), ModConf::StandIn10x15 },
            { printersSection, QStringLiteral("13x18_2"), ModConf::StandIn13x18 },
            { printersSection, QStringLiteral("15x23_2"), ModConf::StandIn15x23 },
        },
        ModConf::settingsFilePath(ModConf::AppPath));
    accept();
}

void FConf::onCommand2Clicked()
{
    const QString typed = txtDir->text();
    const QString start = QFileInfo(typed).isDir() ? typed : ModConf::AppPath;
    const QString path = ModFolderDlg::BrowseForFolder(
        this, start, QStringLiteral("Por favor, selecione uma pasta:"));
    if (!path.isEmpty())
        txtDir->setText(path);
}
