#include "ThumbViewer.h"

#include "ConsoleLook.h"
#include "ImageButton.h"
#include "JobFileSystem.h"
#include "JobStore.h"
#include "JobTable.h"
#include "QueueCommands.h"
#include "Twips.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <numeric>
#include <vector>

using namespace ThumbLayout;

namespace {

const QColor FrameBorder(150, 190, 215);
const QColor ViewportBorder(28, 104, 150);
const QColor Track(140, 180, 210);
const QColor Cap(30, 90, 150);
const QColor Ball(245, 150, 40);
const QColor BallBorder(170, 80, 0);

// The laid-out places of element 0's label and print-now button, a little apart from where
// the boxes from 1 up put theirs.
constexpr int Label0Left = 120, Label0Top = 1155, LabelWidth = 1125;
constexpr int PrintNow0Left = 1110, PrintNow0Top = 1125, PrintNowWidth = 360, PrintNowHeight = 270;

// The drawing rectangle of a photo in its box, in the box's pixels.
constexpr IgRect DrawingRect { 0, 0, 99, 66 };

// Shape1, Shape2 and BallThumb: a filled rounded rectangle or circle on the viewer's frame.
class IndicatorShape : public QWidget
{
public:
    IndicatorShape(bool circle, QColor fill, QColor border, QWidget *parent)
        : QWidget(parent)
        , circle(circle)
        , fill(fill)
        , border(border)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(border, 1));
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        if (circle) {
            QRadialGradient shine(r.center() - QPointF(r.width() / 5, r.height() / 5),
                                  r.width() * 0.7);
            shine.setColorAt(0, fill.lighter(135));
            shine.setColorAt(1, fill);
            p.setBrush(shine);
            p.drawEllipse(r);
        } else {
            p.setBrush(fill);
            p.drawRoundedRect(r, 2, 2);
        }
    }

private:
    bool circle;
    QColor fill, border;
};

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
    while (LblQuantidade.size() > 1)
        delete LblQuantidade.takeLast();
    while (PctThumb.size() > 1)
        delete PctThumb.takeLast();
    while (ImgBtAgora.size() > 1)
        delete ImgBtAgora.takeLast();
}

void ThumbViewer::clearThumbnails()
{
    releaseThumbImages();
    while (PctThumb.size() > 1)
        delete PctThumb.takeLast();
    // Height 0 hides whatever is left on the panel.
    setFraInHeight(0);
}

bool ThumbViewer::loadThumbnail(int index, const QString &path, qreal devicePixelRatio)
{
    IgHandle &slot = thumbImages[size_t(index)];
    int32_t w = 0, h = 0;
    if (IG_load_file(path, &slot) != IgSuccess || !IG_image_is_valid(slot)
        || IG_image_dimensions_get(slot, &w, &h, nullptr) != IgSuccess) {
        deleteImage(slot); // a missing photo's box stays empty
        return false;
    }
    if (h > w && IG_IP_rotate_multiple_90(slot, 1) == IgSuccess)
        std::swap(w, h);
    // Resizing to its own size keeps the photo as it is; the decoding below is for the box.
    if (IG_IP_resize(slot, w, h, 0) != IgSuccess) {
        deleteImage(slot); // the box stays empty, the label and button stay
        return true;
    }
    IG_device_rect_set(slot, DrawingRect);
    // Decodes at the smallest scale that covers the drawing rectangle and keeps only that,
    // so the box's paints draw without decoding and no photo is held at full size. A load
    // reads only the photo's header: one whose pixels cannot be decoded (cut short, corrupt)
    // is as unreadable as one that does not load, and the printer would print it empty.
    if (prepareImageDrawing(slot, devicePixelRatio) != IgSuccess) {
        deleteImage(slot);
        return false;
    }
    return true;
}

void ThumbViewer::ShowJobThumbnails(const QString &key)
{
    if (store.LstJobs.selectedIndex() == -1)
        return;
    setFraInTop(PanelRestTop);
    setFraInHeight(0);
    setBallTop(BallRestTop);
    releaseThumbImages();

    // FindJobByKey gives slot 0 for a key no record holds; that job is not this entry's.
    const int32_t slot = FindJobByKey(store.printJobs, key);
    const JobRecord *job = slot >= 0 && size_t(slot) < store.printJobs.size()
            && store.printJobs[size_t(slot)].listKey == key
        ? &store.printJobs[size_t(slot)]
        : nullptr;
    const int n = job ? int(std::min<size_t>(job->photos.size(), MaxPhotos)) : 0;

    destroyElementsAbove0();
    setFraInHeight(panelHeight(n));

    std::vector<int> indices(static_cast<size_t>(n));
    std::iota(indices.begin(), indices.end(), 0);
    // An empty file name leaves the images folder itself, which is no photo.
    const QString images
        = job ? JobFs::joinPath(job->systemFolder, QStringLiteral("images/")) : QString();
    std::vector<QString> paths(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        paths[size_t(i)] = images + job->photos[size_t(i)].imageFileName;
    std::vector<char> found(static_cast<size_t>(n));
    const qreal ratio = devicePixelRatioF();
    // Each photo's slot is its own, so the photos decode side by side on the pool's threads.
    QtConcurrent::blockingMap(
        indices, [&](int i) { found[size_t(i)] = loadThumbnail(i, paths[size_t(i)], ratio); });

    if (n == 0) {
        // A job without photos shows an empty panel, not the previous job's label and button.
        PctThumb[0]->hide();
        LblQuantidade[0]->hide();
        ImgBtAgora[0]->hide();
        return;
    }

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

        label->setText(copiesText(job->photos[size_t(i)].copies));
        if (!found[size_t(i)]) {
            label->resize(label->width(), twipsToPixels(2 * LabelHeight));
            label->setText(QStringLiteral("Foto Não encontrada"));
            if (button)
                button->hide();
        }
        box->update();
    }
}

void ThumbViewer::onTimerThumbTick()
{
    if (thumbScroll == ScrollNone)
        return;
    setFraInTop(panelTopAfterTick(thumbScroll, m_fraInTop, m_fraInHeight));
    setBallTop(ballTop(m_fraInTop, m_fraInHeight));
}
