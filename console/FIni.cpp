#include "FIni.h"

#include "Dispatcher.h"
#include "FConf.h"
#include "JobIntake.h"
#include "ModConf.h"
#include "PrinterPort.h"
#include "QueueListWidget.h"
#include "Twips.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>

namespace {

QFont labelFont(double pointSize)
{
    QFont font;
    font.setFamilies({ QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                       QStringLiteral("Sans Serif") });
    font.setPointSizeF(pointSize);
    font.setBold(true);
    return font;
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

} // namespace

ClickLabel::ClickLabel(const QString &caption, QWidget *parent)
    : QWidget(parent)
    , text(new QLabel(caption, this))
{
    text->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ClickLabel::mousePressEvent(QMouseEvent *event)
{
    pressed = event->button() == Qt::LeftButton;
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = pressed && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint());
    pressed = false;
    if (click)
        emit clicked();
}

FIni::FIni(PrinterPort &printers, const QString &appPath, QWidget *parent)
    : QWidget(parent)
    , printers(printers)
    , appPath(appPath)
{
    setWindowTitle(QStringLiteral("Zelvo"));
    setFixedSize(twipsToPixels(10500), twipsToPixels(7860));

    Label1 = new QLabel(QStringLiteral("Zelvo"), this);
    Label1->setGeometry(twipsRect(2790, 45, 4680, 435));
    Label1->setFont(labelFont(18));
    Label1->setAlignment(Qt::AlignCenter);
    setTextColour(Label1, Qt::white);

    Label2 = new QLabel(QStringLiteral("Fila de impressão"), this);
    Label2->setGeometry(twipsRect(420, 795, 2130, 300));
    Label2->setFont(labelFont(12));
    setTextColour(Label2, QColor(64, 64, 64));

    LstJobs = new QueueListWidget(store.LstJobs, this);
    LstJobs->setObjectName(QStringLiteral("LstJobs"));
    LstJobs->setGeometry(twipsRect(405, 1185, 2190, 6075));
    LstJobs->setStyleSheet(QStringLiteral("QListWidget { background: rgb(225, 242, 250); }"));

    LblSetup = new ClickLabel(QStringLiteral("Setup"), this);
    LblSetup->setGeometry(twipsRect(2850, 7485, 825, 360));
    LblSetup->label()->resize(LblSetup->size());
    LblSetup->label()->setFont(labelFont(13.5));
    LblSetup->setCursor(Qt::PointingHandCursor);
    setTextColour(LblSetup->label(), QColor(203, 215, 227));
    connect(LblSetup, &ClickLabel::clicked, this, &FIni::OpenConfiguration);

    // Off until start-up has the settings, the folders and the waiting jobs in place.
    Timer1.setInterval(15000);
    Timer1.stop();
    connect(&Timer1, &QTimer::timeout, this, &FIni::onTimer1Tick);
}

FIni::~FIni()
{
    unload();
}

void FIni::load()
{
    ModConf::AppPath = appPath;
    const QString ini = ModConf::settingsFilePath(appPath);
    if (QFileInfo::exists(ini)) {
        ModConf::ReadSettings(ini);
    } else {
        ModConf::PrintAll = true;
        FConf conf(printers, this);
        conf.exec();
    }
    ModConf::ApplySettingsDefaults(appPath, printers.currentPrinter());
    CreateFolderLayout(ModConf::SystemFolder);
    LoadWaitingJobs(store, ModConf::SystemFolder);
    Timer1.start();
}

void FIni::onTimer1Tick()
{
    ScanNewJobs(store, ModConf::SystemFolder, ModConf::PrintAll);
    PrintNextPhoto(store, ModConf::SystemFolder);
}

void FIni::OpenConfiguration()
{
    Timer1.stop();
    FConf conf(printers, this);
    conf.exec();
    Timer1.start();
}

void FIni::closeEvent(QCloseEvent *event)
{
    unload();
    event->accept();
}

void FIni::unload()
{
    if (unloaded)
        return;
    unloaded = true;
    Timer1.stop();
    // Nothing is written: a job taken into the queue keeps its name and is listed again at the
    // next start.
    store.printJobs.assign(1, JobRecord {});
}
