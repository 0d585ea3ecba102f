#include "ThumbViewer.h"

#include "ConsoleLook.h"
#include "ImageButton.h"
#include "IndicatorShape.h"
#include "JobFileSystem.h"
#include "JobStore.h"
#include "JobTable.h"
#include "PhotoFault.h"
#include "PrintResolution.h"
#include "QueueCommands.h"
#include "TextFit.h"
#include "Twips.h"

#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

using namespace ThumbLayout;

namespace {

const QColor FrameBorder(150, 190, 215);
const QColor ViewportBorder(28, 104, 150);
const QColor Track(140, 180, 210);
const QColor Cap(30, 90, 150);
const QColor Ball(245, 150, 40);
const QColor BallBorder(170, 80, 0);
// A photo's resolution on its label: too low for a sharp print, or for a fine one at all.
const QColor SoftPrint(255, 170, 40);
const QColor CoarsePrint(255, 80, 80);

// The laid-out places of element 0's label and print-now button, a little apart from where
// the boxes from 1 up put theirs.
constexpr int Label0Left = 120, Label0Top = 1155, LabelWidth = 1125;
constexpr int PrintNow0Left = 1110, PrintNow0Top = 1125, PrintNowWidth = 360, PrintNowHeight = 270;

QString copiesText(int copies)
{
    if (copies == 1)
        return QStringLiteral("1 cópia");
    // Nothing prints for a count of 0 or below, so that is what the label says.
    return QString::number(std::max(copies, 0)) + QStringLiteral(" cópias");
}

void deleteImage(IgHandle &slot)
{
    if (IG_image_is_valid(slot)) {
        IG_image_delete(slot);
        slot = 0;
    }
}

// The record of the entry key `key`. FindJobByKey gives slot 0 for a key no record holds;
// that job is not this entry's.
const JobRecord *findJobRecord(const JobStore &store, const QString &key)
{
    const int32_t slot = FindJobByKey(store.printJobs, key);
    return slot >= 0 && size_t(slot) < store.printJobs.size()
            && store.printJobs[size_t(slot)].listKey == key
        ? &store.printJobs[size_t(slot)]
        : nullptr;
}

int shownPhotoCount(const JobRecord *job)
{
    return job ? int(std::min<size_t>(job->photos.size(), MaxPhotos)) : 0;
}

// An empty file name leaves the images folder itself, which is no photo. A job keeps the
// system folder it was taken from.
QString photoPath(const JobRecord &job, int index)
{
    return JobFs::joinPath(job.systemFolder, QStringLiteral("images/"))
        + job.photos[size_t(index)].imageFileName;
}

} // namespace

ThumbBox::ThumbBox(int index, const std::array<IgHandle, ThumbLayout::ImageSlots> &images,
                   QWidget *parent)
    : QWidget(parent)
    , m_index(index)
    , m_images(images)
{
    ConsoleLook::setBackground(this, ConsoleLook::Viewport);
    setMouseTracking(true);
}

void ThumbBox::paintEvent(QPaintEvent *)
{
    if (m_index < 0 || m_index >= int(m_images.size()))
        return;
    QPainter painter(this);
    // Draws into the rectangle set when the panel was built, from the image kept then.
    IG_display_image(m_images[size_t(m_index)], &painter);
}

void ThumbBox::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    emit mouseMoved();
}

ThumbPanel::ThumbPanel(QWidget *parent)
    : QFrame(parent)
{
    ConsoleLook::setBackground(this, ConsoleLook::Viewport);
    setMouseTracking(true);
}

void ThumbPanel::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    emit mouseMoved();
}

ThumbViewer::ThumbViewer(JobStore &store, std::function<void()> playClickSound, QWidget *parent)
    : QFrame(parent)
    , store(store)
    , playClickSound(std::move(playClickSound))
    , decoder(this, [this](int batch, int item, const QString &path, const DecodedThumb &thumb) {
        takeDecoded(batch, item, path, thumb);
    })
{
    setObjectName(QStringLiteral("FraView"));
    ConsoleLook::setBackground(this, ConsoleLook::Panel);

    FraOut = new QFrame(this);
    FraOut->setObjectName(QStringLiteral("FraOut"));
    FraOut->setGeometry(twipsRect(105, 180, 5250, ViewportHeight));
    ConsoleLook::setBackground(FraOut, ConsoleLook::Viewport);

    FraIn = new ThumbPanel(FraOut);
    FraIn->setObjectName(QStringLiteral("FraIn"));
    setFraInTop(PanelRestTop);
    setFraInHeight(m_fraInHeight);
    connect(FraIn, &ThumbPanel::mouseMoved, this, &ThumbViewer::resetPrintNowPictures);

    PctThumb << makeBox(0);
    PctThumb[0]->setGeometry(twipsRect(BoxLeft, BoxTop, BoxWidth, BoxHeight));
    LblQuantidade << makeLabel();
    LblQuantidade[0]->setText(QStringLiteral("1 cópia"));
    LblQuantidade[0]->setGeometry(twipsRect(Label0Left, Label0Top, LabelWidth, LabelHeight));
    ImgBtAgora << makePrintNowButton(0, QStringLiteral("bt_agora_off"));
    ImgBtAgora[0]->setGeometry(
        twipsRect(PrintNow0Left, PrintNow0Top, PrintNowWidth, PrintNowHeight));

    ImgBtThumbUp = new ImageButton(QStringLiteral("bt_up_off"), false, this);
    ImgBtThumbUp->setGeometry(twipsRect(5385, 195, 600, 600));
    ImgBtThumbDown = new ImageButton(QStringLiteral("bt_down_off"), false, this);
    ImgBtThumbDown->setGeometry(twipsRect(5430, 5700, 600, 600));
    const auto scrollButton = [this](ImageButton *button, const QString &name, int16_t scroll) {
        connect(button, &ImageButton::mouseDown, this, [this, button, name, scroll] {
            this->playClickSound();
            button->setPicture(name + QStringLiteral("_on"));
            thumbScroll = scroll;
        });
        connect(button, &ImageButton::mouseUp, this, [this, button, name] {
            button->setPicture(name + QStringLiteral("_off"));
            thumbScroll = ScrollNone;
        });
    };
    scrollButton(ImgBtThumbUp, QStringLiteral("bt_up"), ScrollUp);
    scrollButton(ImgBtThumbDown, QStringLiteral("bt_down"), ScrollDown);

    Shape1 = new IndicatorShape(false, Cap, Cap.darker(130), this);
    Shape1->setGeometry(twipsRect(5595, 900, 225, 105));
    Shape2 = new IndicatorShape(false, Cap, Cap.darker(130), this);
    Shape2->setGeometry(twipsRect(5595, 5565, 225, 105));
    BallThumb = new IndicatorShape(true, Ball, BallBorder, this);
    setBallTop(BallRestTop);

    // Runs for the life of the window; a tick without a held scroll button does nothing.
    TimerThumb.setInterval(150);
    connect(&TimerThumb, &QTimer::timeout, this, &ThumbViewer::onTimerThumbTick);
    TimerThumb.start();
}

ThumbViewer::~ThumbViewer()
{
    // Releasing stops the decoding; the decoder then waits for the photos in hand.
    releaseThumbImages();
}

void ThumbViewer::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(FrameBorder, 1));
    p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    p.setPen(QPen(ViewportBorder, 1));
    p.drawRect(QRectF(FraOut->geometry()).adjusted(-0.5, -0.5, 0.5, 0.5));
    // LineThumb, the ball's track.
    p.setPen(QPen(Track, 3, Qt::SolidLine, Qt::RoundCap));
    const qreal x = twipsToPixels(TrackX) + 0.5;
    p.drawLine(QPointF(x, twipsToPixels(TrackTop)), QPointF(x, twipsToPixels(TrackBottom)));
}

ThumbBox *ThumbViewer::makeBox(int index)
{
    auto *box = new ThumbBox(index, thumbImages, FraIn);
    connect(box, &ThumbBox::mouseMoved, this, &ThumbViewer::resetPrintNowPictures);
    return box;
}

QLabel *ThumbViewer::makeLabel()
{
    auto *label = new QLabel(FraIn);
    label->setTextFormat(Qt::PlainText);
    label->setFont(ConsoleLook::labelFont(8.25));
    ConsoleLook::setTextColour(label, ConsoleLook::LabelLight);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true); // "Foto Não encontrada" takes the double height
    return label;
}

ImageButton *ThumbViewer::makePrintNowButton(int index, const QString &pictureKey)
{
    auto *button = new ImageButton(pictureKey, true, FraIn);
    button->setToolTip(QStringLiteral("Imprimir agora"));
    connect(button, &ImageButton::mouseDown, this, [this, button] {
        playClickSound();
        button->setPicture(QStringLiteral("bt_agora_on"));
    });
    connect(button, &ImageButton::mouseMoved, this,
            [button] { button->setPicture(QStringLiteral("bt_agora_on")); });
    connect(button, &ImageButton::mouseUp, this, [this, button, index] {
        button->setPicture(QStringLiteral("bt_agora_off"));
        PrintNow(store, index);
    });
    return button;
}

void ThumbViewer::resetPrintNowPictures()
{
    for (ImageButton *button : std::as_const(ImgBtAgora))
        button->setPicture(QStringLiteral("bt_agora_off"));
}

void ThumbViewer::setFraInTop(int twips)
{
    m_fraInTop = twips;
    FraIn->move(twipsToPixels(PanelLeft), twipsToPixels(twips));
    // The photos scrolled into view are decoded next.
    const int first = firstVisiblePhoto(twips);
    decoder.preferFrom(
        int(std::lower_bound(shownSlots.begin(), shownSlots.end(), first) - shownSlots.begin()));
}

void ThumbViewer::setFraInHeight(int twips)
{
    m_fraInHeight = twips;
    FraIn->resize(twipsToPixels(PanelWidth), twipsToPixels(twips));
}

void ThumbViewer::setBallTop(int twips)
{
    m_ballTop = twips;
    BallThumb->setGeometry(twipsRect(BallLeft, twips, BallSize, BallSize));
}

void ThumbViewer::releaseThumbImages()
{
    stopDecoding();
    for (IgHandle &slot : thumbImages)
        deleteImage(slot);
    for (ThumbBox *box : std::as_const(PctThumb))
        box->update();
}

void ThumbViewer::destroyElementsAbove0()
{
    while (PctThumb.size() > 1)
        delete PctThumb.takeLast();
    while (LblQuantidade.size() > 1)
        delete LblQuantidade.takeLast();
    while (ImgBtAgora.size() > 1)
        delete ImgBtAgora.takeLast();
}

void ThumbViewer::unloadElements()
{
    // Nothing of the viewer's is left running or kept: the photos in hand are finished and
    // dropped.
    decoder.waitForDone();
    thumbCache.clear();
    destroyElementsAbove0();
}

void ThumbViewer::clearThumbnails()
{
    releaseThumbImages();
    // Every job has gone to the backup folders, and its photos' paths with it.
    thumbCache.clear();
    while (PctThumb.size() > 1)
        delete PctThumb.takeLast();
    // Height 0 hides whatever is left on the panel.
    setFraInHeight(0);
}

void ThumbViewer::stopDecoding()
{
    decoder.cancel(ThumbDecoder::Shown);
    decoder.cancel(ThumbDecoder::Prefetch);
    pendingThumbs = pendingPrefetch = 0;
    shownSlots.clear();
    showing = false;
}

bool ThumbViewer::placeThumbnail(int index, const QString &path, std::vector<QString> &toDecode)
{
    // An empty file is no photo either.
    const std::optional<PhotoStamp> stamp = photoStamp(path);
    if (!stamp || stamp->size == 0)
        return false;
    if (const std::optional<ImageSnapshot> kept = thumbCache.find(path, *stamp)) {
        if (!*kept)
            return false;
        loadImageSnapshot(*kept, &thumbImages[size_t(index)]);
        return true;
    }
    shownSlots.push_back(index);
    toDecode.push_back(path);
    return true;
}

void ThumbViewer::showMissing(int index)
{
    QLabel *label = LblQuantidade[index];
    label->resize(label->width(), twipsToPixels(2 * LabelHeight));
    label->setFont(ConsoleLook::labelFont(8.25));
    ConsoleLook::setTextColour(label, ConsoleLook::LabelLight);
    label->setText(QStringLiteral("Foto Não encontrada"));
    // Which file to look for, and why it does not print.
    if (size_t(index) < shownPhotos.size()) {
        const QString &path = shownPhotos[size_t(index)].path;
        const QString why = QFileInfo(path).fileName() + QStringLiteral(": ")
            + photoFaultText(diagnosePhoto(path));
        label->setToolTip(why);
        PctThumb[index]->setToolTip(why);
    }
    // An urgent job's photos from 1 up have no button, and element 0's is hidden.
    if (index < ImgBtAgora.size())
        ImgBtAgora[index]->hide();
}

void ThumbViewer::showResolution(int index)
{
    if (size_t(index) >= shownPhotos.size())
        return;
    const ShownPhoto &photo = shownPhotos[size_t(index)];
    const int ppi = PrintResolution::effectivePpi(imageStoredSize(thumbImages[size_t(index)]),
                                                  PrintResolution::paperInches(photo.paperSize));
    const PrintResolution::Grade grade = PrintResolution::gradeOf(ppi);
    if (ppi <= 0 || grade == PrintResolution::Grade::Fine)
        return;
    PrintResolution::logIfLow(photo.path, photo.paperSize, ppi);
    QLabel *label = LblQuantidade[index];
    label->setText(copiesText(photo.copies) + QStringLiteral(" · %1 ppi").arg(ppi));
    ConsoleLook::setTextColour(label,
                               grade == PrintResolution::Grade::Coarse ? CoarsePrint : SoftPrint);
    fitTextToPlace(label);
}

void ThumbViewer::ShowJobThumbnails(const QString &key)
{
    if (store.LstJobs.selectedIndex() == -1)
        return;
    setFraInTop(PanelRestTop);
    setFraInHeight(0);
    setBallTop(BallRestTop);
    releaseThumbImages();

    const JobRecord *job = findJobRecord(store, key);
    const int n = shownPhotoCount(job);
    destroyElementsAbove0();
    setFraInHeight(panelHeight(n));
    showing = true;

    if (n == 0) {
        // A job without photos shows an empty panel, not the previous job's label and button.
        PctThumb[0]->hide();
        LblQuantidade[0]->hide();
        ImgBtAgora[0]->hide();
    }

    const qreal ratio = devicePixelRatioF();
    if (ratio != cacheRatio) {
        thumbCache.clear();
        cacheRatio = ratio;
    }
    std::vector<QString> toDecode;
    shownPhotos.assign(size_t(n), {});
    for (int i = 0; i < n; ++i) {
        const QPoint place = boxPlace(i);
        ThumbBox *box;
        QLabel *label;
        ImageButton *button = nullptr;
        if (i > 0) {
            box = makeBox(i);
            box->setGeometry(twipsRect(place.x(), place.y(), BoxWidth, BoxHeight));
            label = makeLabel();
            label->setText(LblQuantidade[0]->text());
            const QPoint labelAt = labelPlace(place);
            label->setGeometry(twipsRect(labelAt.x(), labelAt.y(), LabelWidth, LabelHeight));
            PctThumb << box;
            LblQuantidade << label;
            if (!job->urgent) {
                button = makePrintNowButton(i, ImgBtAgora[0]->pictureKey());
                const QPoint buttonAt = printNowPlace(place);
                button->setGeometry(
                    twipsRect(buttonAt.x(), buttonAt.y(), PrintNowWidth, PrintNowHeight));
                ImgBtAgora << button;
            }
        } else {
            box = PctThumb[0];
            label = LblQuantidade[0];
            label->setGeometry(twipsRect(Label0Left, Label0Top, LabelWidth, LabelHeight));
            ImgBtAgora[0]->setVisible(!job->urgent);
            if (!job->urgent)
                button = ImgBtAgora[0];
        }
        box->show();
        label->show();
        if (button)
            button->show();

        const PhotoItem &photo = job->photos[size_t(i)];
        shownPhotos[size_t(i)] = { photoPath(*job, i), photo.copies, photo.paperSize };
        label->setText(copiesText(photo.copies));
        label->setFont(ConsoleLook::labelFont(8.25));
        ConsoleLook::setTextColour(label, ConsoleLook::LabelLight);
        label->setToolTip(QString());
        box->setToolTip(QString());
        if (!placeThumbnail(i, shownPhotos[size_t(i)].path, toDecode))
            showMissing(i);
        else if (IG_image_is_valid(thumbImages[size_t(i)]))
            showResolution(i);
        box->update();
    }

    if (toDecode.empty()) {
        emit thumbnailsShown();
        QTimer::singleShot(0, this, &ThumbViewer::prefetchNextJobs);
        return;
    }
    pendingThumbs = int(toDecode.size());
    shownBatch = decoder.start(ThumbDecoder::Shown, std::move(toDecode), ratio);
}

void ThumbViewer::takeDecoded(int batch, int item, const QString &path, const DecodedThumb &thumb)
{
    const bool shown = pendingThumbs > 0 && batch == shownBatch;
    const bool prefetched = pendingPrefetch > 0 && batch == prefetchBatch;
    // Nothing is kept once the queue has emptied or the station has shut down.
    if (showing && thumb.stamp && thumb.outcome != DecodedThumb::NotDrawn) {
        // The shown job's thumbnails are kept whatever they push out; anything else only
        // while there is room, and a full cache ends the prefetch.
        if (shown || thumbCache.hasRoomFor(snapshotPixelBytes(thumb.snapshot))) {
            thumbCache.insert(path, *thumb.stamp, thumb.snapshot);
        } else if (prefetched) {
            decoder.cancel(ThumbDecoder::Prefetch);
            pendingPrefetch = 0;
        }
    }
    if (prefetched && pendingPrefetch > 0)
        --pendingPrefetch;
    if (!shown)
        return;

    const int slot = shownSlots[size_t(item)];
    if (thumb.outcome == DecodedThumb::Drawn) {
        loadImageSnapshot(thumb.snapshot, &thumbImages[size_t(slot)]);
        showResolution(slot);
        PctThumb[slot]->update();
    } else if (thumb.outcome == DecodedThumb::Unreadable) {
        showMissing(slot);
    }
    if (--pendingThumbs == 0) {
        emit thumbnailsShown();
        prefetchNextJobs();
    }
}

void ThumbViewer::prefetchNextJobs()
{
    if (!showing || pendingThumbs > 0 || pendingPrefetch > 0)
        return;
    const int entries = store.LstJobs.count();
    const int selected = store.LstJobs.selectedIndex();
    std::vector<QString> paths;
    for (int k = 1; k <= PrefetchJobs && k < entries; ++k) {
        const JobRecord *job
            = findJobRecord(store, formEntryKey(store.LstJobs.text((selected + k) % entries)));
        for (int i = 0; i < shownPhotoCount(job) && paths.size() < size_t(PrefetchPhotos); ++i) {
            // Read on the worker: a stat per photo here would cost the interface thread more
            // on a network share.
            QString path = photoPath(*job, i);
            if (!thumbCache.contains(path))
                paths.push_back(std::move(path));
        }
    }
    if (paths.empty())
        return;
    pendingPrefetch = int(paths.size());
    prefetchBatch = decoder.start(ThumbDecoder::Prefetch, std::move(paths), cacheRatio);
}

void ThumbViewer::onTimerThumbTick()
{
    if (thumbScroll == ScrollNone)
        return;
    setFraInTop(panelTopAfterTick(thumbScroll, m_fraInTop, m_fraInHeight));
    setBallTop(ballTop(m_fraInTop, m_fraInHeight));
}
