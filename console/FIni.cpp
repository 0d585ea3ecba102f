#include "FIni.h"

#include "ConsoleLook.h"
#include "Dispatcher.h"
#include "FConf.h"
#include "HeldFolders.h"
#include "ImageButton.h"
#include "JobIntake.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "PrinterPort.h"
#include "PrinterStrip.h"
#include "QueueCommands.h"
#include "QueueListWidget.h"
#include "ReadyTimes.h"
#include "SentAhead.h"
#include "StationIdentity.h"
#include "TextFit.h"
#include "ThumbViewer.h"
#include "Twips.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>
#include <memory>

using ConsoleLook::labelFont;
using ConsoleLook::setTextColour;

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
    , tracker(store, printers, appPath)
    , printers(printers)
    , appPath(appPath)
    , background(QStringLiteral(":/background.png"))
{
    setWindowTitle(QStringLiteral("Zelvo"));
    // The described client area, and below it the printer strip.
    setFixedSize(twipsToPixels(10500), twipsToPixels(7860 + StripHeightTwips));
    // Moves over the bare background put the queue buttons back to their resting pictures.
    setMouseTracking(true);

    Label1 = new QLabel(QStringLiteral("Zelvo"), this);
    Label1->setGeometry(twipsRect(2790, 45, 4680, 435));
    Label1->setFont(labelFont(18));
    Label1->setAlignment(Qt::AlignCenter);
    setTextColour(Label1, Qt::white);
    fitTextToPlace(Label1);

    Label2 = new QLabel(QStringLiteral("Fila de impressão"), this);
    Label2->setGeometry(twipsRect(420, 795, 2130, 300));
    Label2->setFont(labelFont(12));
    setTextColour(Label2, ConsoleLook::LabelGrey);
    fitTextToPlace(Label2);

    LstJobs = new QueueListWidget(store.LstJobs, this);
    LstJobs->setObjectName(QStringLiteral("LstJobs"));
    LstJobs->setGeometry(twipsRect(405, 1185, 2190, 6075));
    LstJobs->setStyleSheet(QStringLiteral("QListWidget { background: rgb(225, 242, 250); }"));

    LblSetup = new ClickLabel(QStringLiteral("Setup"), this);
    LblSetup->setGeometry(twipsRect(2850, 7485, 825, 360));
    LblSetup->label()->resize(LblSetup->size());
    LblSetup->label()->setFont(labelFont(13.5));
    fitTextToPlace(LblSetup->label());
    LblSetup->setCursor(Qt::PointingHandCursor);
    setTextColour(LblSetup->label(), ConsoleLook::LabelLight);
    connect(LblSetup, &ClickLabel::clicked, this, &FIni::OpenConfiguration);

    ImgBtFirst = makeQueueButton(QStringLiteral("bt_first"),
                                 QStringLiteral("Mover job para o início da lista"), 930,
                                 [this] { MoveSelectedJob(store, QueueMove::ToTop); });
    ImgBtUp = makeQueueButton(QStringLiteral("bt_up"), QStringLiteral("Mover job para cima"), 1810,
                              [this] { MoveSelectedJob(store, QueueMove::Up); });
    ImgBtDown = makeQueueButton(QStringLiteral("bt_down"), QStringLiteral("Mover job para baixo"),
                                2690, [this] { MoveSelectedJob(store, QueueMove::Down); });
    ImgBtLast = makeQueueButton(QStringLiteral("bt_last"),
                                QStringLiteral("Mover job para o final da lista"), 3570,
                                [this] { MoveSelectedJob(store, QueueMove::ToBottom); });
    ImgBtCancel = makeQueueButton(QStringLiteral("bt_cancel"), QStringLiteral("Remover Job"), 4815,
                                  [this] { removeSelectedJob(); });

    FraView = new ThumbViewer(
        store, [this] { PlayClickSound(); }, this);
    FraView->setGeometry(twipsRect(3870, 810, 6150, 6420));
    store.showJobThumbnails = [this](const QString &key) { FraView->ShowJobThumbnails(key); };
    store.clearThumbnails = [this] { FraView->clearThumbnails(); };
    store.runFileMoves = [this](std::function<void()> moves) { fileMover.post(std::move(moves)); };

    StripPrinters = new PrinterStrip(tracker, this);
    StripPrinters->setObjectName(QStringLiteral("StripPrinters"));
    StripPrinters->setGeometry(twipsRect(300, 7980, 9900, 1140));
    connect(StripPrinters, &PrinterStrip::resumeRequested, this, &FIni::resumePrinter);
    connect(&printers.events, &PrinterPortEvents::printerResumed, this, &FIni::tellResumed);

    // Off until start-up has the settings, the folders and the waiting jobs in place.
    Timer1.setInterval(15000);
    Timer1.stop();
    connect(&Timer1, &QTimer::timeout, this, &FIni::onTimer1Tick);
    connect(&leaseTimer, &QTimer::timeout, this, [this] { RenewLeases(store.station, true); });
    // With the printers' pace, what CUPS reports (about once a second) and its answers feed the
    // printers; queued, as the tracker reports changes from inside the dispatcher too.
    connect(&tracker, &PrintTracker::changed, this, &FIni::feedPrinters, Qt::QueuedConnection);
    readyTimer.setSingleShot(true);
    readyTimer.setInterval(0);
    connect(&readyTimer, &QTimer::timeout, this, &FIni::updateReadyTimes);
    connect(&store.LstJobs, &QueueList::entryInserted, &readyTimer, qOverload<>(&QTimer::start));
    connect(&store.LstJobs, &QueueList::entryRemoved, &readyTimer, qOverload<>(&QTimer::start));
    connect(&tracker, &PrintTracker::changed, &readyTimer, qOverload<>(&QTimer::start));
}

FIni::~FIni()
{
    unload();
    // The controls go while the job store they show is still there.
    qDeleteAll(findChildren<QWidget *>(Qt::FindDirectChildrenOnly));
}

ImageButton *FIni::makeQueueButton(const QString &name, const QString &toolTip, int top,
                                   std::function<void()> command)
{
    const QString on = name + QStringLiteral("_on");
    const QString off = name + QStringLiteral("_off");
    auto *button = new ImageButton(off, true, this);
    button->setGeometry(twipsRect(3000, top, 600, 600));
    button->setToolTip(toolTip);
    connect(button, &ImageButton::mouseDown, this, [this, button, on] {
        PlayClickSound();
        button->setPicture(on);
    });
    connect(button, &ImageButton::mouseMoved, this, [button, on] { button->setPicture(on); });
    connect(button, &ImageButton::mouseUp, this, [button, off, command] {
        button->setPicture(off);
        command();
    });
    return button;
}

void FIni::resetQueueButtons()
{
    ImgBtCancel->setPicture(QStringLiteral("bt_cancel_off"));
    ImgBtFirst->setPicture(QStringLiteral("bt_first_off"));
    ImgBtLast->setPicture(QStringLiteral("bt_last_off"));
    ImgBtDown->setPicture(QStringLiteral("bt_down_off"));
    ImgBtUp->setPicture(QStringLiteral("bt_up_off"));
}

QMessageBox *FIni::makeRemoveBox(QWidget *parent, const QString &entry, int photosLeft)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Erro de Impressão"),
                                QStringLiteral("Atenção! O job selecionado será removido da "
                                               "lista de impressão. Você confirma a remoção ?"),
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(QMessageBox::Yes);
    // Entries leave the list as they print, so a click may have landed on another one.
    if (!entry.isEmpty())
        box->setInformativeText(QStringLiteral("Será removido: %1 (%2 %3)")
                                    .arg(entry)
                                    .arg(photosLeft)
                                    .arg(photosLeft == 1 ? QStringLiteral("foto a imprimir")
                                                         : QStringLiteral("fotos a imprimir")));
    return box;
}

QMessageBox *FIni::makeResumeBox(const QString &device, QWidget *parent)
{
    auto *box = new QMessageBox(
        QMessageBox::NoIcon, QStringLiteral("Retomar impressora"),
        QStringLiteral("A impressora %1 voltará a imprimir. Confira antes se o papel e a fita "
                       "estão no lugar. Você confirma?")
            .arg(device),
        QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::No);
    return box;
}

QString FIni::resumeRefusal(const QString &device, const QString &error, bool forbidden)
{
    if (forbidden)
        return QStringLiteral("O CUPS não deixou esta conta retomar a impressora %1. Peça ao "
                              "administrador do computador que inclua o operador no grupo "
                              "lpadmin (adduser NOME lpadmin) e entre de novo na sessão.")
            .arg(device);
    return QStringLiteral("Não foi possível retomar a impressora %1 (%2).").arg(device, error);
}

void FIni::resumePrinter(const QString &device)
{
    if (device.isEmpty())
        return;
    const std::unique_ptr<QMessageBox> box(makeResumeBox(device, this));
    if (execModal(*box) == QMessageBox::Yes)
        printers.resumePrinter(device);
    runHeldBackTick();
}

void FIni::tellResumed(const QString &device, const QString &error, bool forbidden)
{
    if (error.isEmpty() || unloaded)
        return;
    const std::unique_ptr<QMessageBox> box(
        new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Retomar impressora"),
                        resumeRefusal(device, error, forbidden), QMessageBox::Ok, this));
    execModal(*box);
    runHeldBackTick();
}

void FIni::removeSelectedJob()
{
    // Asked whether or not an entry is selected. The answer applies to the job selected when
    // the question came up, and only while that very record is still queued.
    const quint64 asked = SelectedJobSerial(store);
    QString entry;
    int photosLeft = 0;
    for (int32_t i = 0; asked != 0 && i < store.jobCount; ++i) {
        const JobRecord &job = store.printJobs[size_t(i)];
        if (job.serial == asked) {
            entry = job.urgent ? job.listKey : formJobEntryText(job.listKey);
            photosLeft = job.photoCount - job.printedCount;
        }
    }
    const std::unique_ptr<QMessageBox> box(makeRemoveBox(this, entry, photosLeft));
    if (execModal(*box) == QMessageBox::Yes)
        RemoveJob(store, asked);
    runHeldBackTick();
}

int FIni::execModal(QDialog &dialog)
{
    // CUPS's answers wait as well: they may retire a job or queue a reprint.
    if (modalDepth++ == 0)
        tracker.holdQueue(true);
    const int result = dialog.exec();
    --modalDepth;
    return result;
}

void FIni::runHeldBackTick()
{
    if (modalDepth > 0)
        return;
    tracker.holdQueue(false);
    if (!tickHeldBack) {
        feedPrinters();
        return;
    }
    tickHeldBack = false;
    onTimer1Tick();
}

QString FIni::programFolder() const
{
    return ModConf::ProgramPath.isEmpty() ? appPath : ModConf::ProgramPath;
}

void FIni::PlayClickSound()
{
    clickSound.play(programFolder() + QStringLiteral("/sounds/keypress.wav"));
}

void FIni::load()
{
    ModConf::AppPath = appPath;
    store.lastShownIndex = -1;
    FraView->LblQuantidade[0]->setVisible(false);
    FraView->ImgBtAgora[0]->setVisible(false);
    store.forceThumbRefresh = false;
    store.jobCount = 0;
    const QString ini = ModConf::settingsFilePath(appPath);
    if (QFileInfo::exists(ini)) {
        ModConf::ReadSettings(ini);
    } else {
        ModConf::PrintAll = true;
        FConf conf(printers, this);
        conf.exec();
    }
    // Printers left empty take the system's default printer now when CUPS can tell which, or
    // else at the first photo that needs one.
    ModConf::ApplySettingsDefaults(appPath, QString());
    ModPrint::ResolveEmptyPrinterKeys(printers);
    CreateFolderLayout(ModConf::SystemFolder);
    // 1.0 named the station after the program's folder, which an installed station no longer
    // writes in: the jobs it took under that name are still this station's.
    StationIdentity identity = loadStationIdentity(appPath);
    if (programFolder() != appPath)
        identity.previousIds << stationIdFor(programFolder());
    store.station.id = identity.id;
    store.station.previousIds = identity.previousIds;
    store.programFolder = appPath;
    LoadAllWaitingJobs(store, ModConf::SystemFolder);
    RestoreSentAhead(store);
    leaseTimer.start(int(store.station.leaseTimeoutMs / 4));
    tracker.restore();
    StripPrinters->refresh();
    Timer1.start();
}

void FIni::onTimer1Tick()
{
    if (modalDepth > 0) {
        tickHeldBack = true;
        return;
    }
    ScanNewJobs(store, ModConf::SystemFolder, ModConf::PrintAll);
    if (ModConf::Pace == ModConf::PrintPace::Printers)
        FeedPrinters(store, &tracker);
    else
        PrintNextPhoto(store, &tracker);
    forgetIdleSystemFolders(store, ModConf::SystemFolder);
    const QStringList failures = leaseFailures(store.station);
    StripPrinters->hold = failures.isEmpty()
        ? QString()
        : QStringLiteral("Impressão em espera: esta estação não consegue escrever em .zelvo de %1; "
                         "outras estações podem assumir seus trabalhos")
              .arg(failures.join(QLatin1String(", ")));
    StripPrinters->refresh();
    readyTimer.start();
}

void FIni::updateReadyTimes()
{
    if (unloaded)
        return;
    const bool tick = ModConf::Pace == ModConf::PrintPace::Tick;
    const double interval = Timer1.interval() / 1000.0;
    const std::vector<double> ready = estimateReadySeconds(
        store, currentPrinterLanes(tracker), tick ? interval : 0,
        tick && Timer1.isActive() ? Timer1.remainingTime() / 1000.0 : 0,
        [this](quint64 serial, int photo) { return tracker.photoOnItsWay(serial, photo); });
    const QDateTime now = QDateTime::currentDateTime();
    QStringList shown;
    QStringList toolTips;
    // By key, the first slot as FindJobByKey finds it, once for the whole list.
    QHash<QString, int32_t> slotOf;
    for (int32_t i = store.jobCount - 1; i >= 0; --i)
        slotOf.insert(store.printJobs[size_t(i)].listKey, i);
    for (int row = 0; row < store.LstJobs.count(); ++row) {
        const int32_t slot = slotOf.value(formEntryKey(store.LstJobs.text(row)), -1);
        const double seconds = slot >= 0 && size_t(slot) < ready.size() ? ready[size_t(slot)] : 0;
        if (seconds < 0) {
            shown << QStringLiteral("—");
            toolTips << QStringLiteral("Aguarda uma impressora que possa imprimir");
            continue;
        }
        const QString at
            = now.addSecs(qint64(std::ceil(seconds))).toString(QStringLiteral("HH:mm"));
        shown << QStringLiteral("~") + at;
        toolTips << QStringLiteral("Pronto por volta das %1").arg(at);
    }
    LstJobs->setReadyTimes(shown, toolTips);
}

void FIni::feedPrinters()
{
    // As the ticks, held back while a modal window is open; runHeldBackTick feeds afterwards.
    if (unloaded || modalDepth > 0 || ModConf::Pace != ModConf::PrintPace::Printers)
        return;
    FeedPrinters(store, &tracker);
}

void FIni::OpenConfiguration()
{
    Timer1.stop();
    const QString systemFolder = ModConf::SystemFolder;
    FConf conf(printers, this);
    execModal(conf);
    // Queued jobs stay with the folder they came from; new ones come from the new folder,
    // which gets its folders as at start-up.
    if (ModConf::SystemFolder != systemFolder) {
        CreateFolderLayout(ModConf::SystemFolder);
        rememberSystemFolder(store, ModConf::SystemFolder);
    }
    runHeldBackTick();
    Timer1.start();
}

void FIni::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, background);
}

void FIni::mouseMoveEvent(QMouseEvent *event)
{
    // Only the window's own background resets; a move over the list or a label does not.
    if (!childAt(event->position().toPoint()))
        resetQueueButtons();
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
    leaseTimer.stop();
    tracker.awaitAnswer(PrinterPort::AnswerWithinMs);
    // A retirement under way finishes; one cut short by a kill is finished at the next start.
    fileMover.drain();
    FraView->releaseThumbImages();
    FraView->unloadElements();
    // Nothing is written: a job taken into the queue keeps its name and is listed again at the
    // next start.
    store.printJobs.assign(1, JobRecord {});
}
