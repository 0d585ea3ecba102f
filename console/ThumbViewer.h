#pragma once

#include "Imaging.h"
#include "ThumbCache.h"
#include "ThumbDecoder.h"
#include "ThumbLayout.h"

#include <QFrame>
#include <QList>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class ImageButton;
class QLabel;
struct JobStore;

// PctThumb(i): one thumbnail box. It keeps no drawing of its own; each paint draws the image
// kept in its slot of thumbImages, and an empty slot leaves the box empty.
class ThumbBox : public QWidget
{
    Q_OBJECT

public:
    ThumbBox(int index, const std::array<IgHandle, ThumbLayout::ImageSlots> &images,
             QWidget *parent);
    int index() const { return m_index; }

signals:
    void mouseMoved();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    int m_index;
    const std::array<IgHandle, ThumbLayout::ImageSlots> &m_images;
};

// FraIn, the moving panel that holds the thumbnails; reports the mouse moving over it.
class ThumbPanel : public QFrame
{
    Q_OBJECT

public:
    explicit ThumbPanel(QWidget *parent);

signals:
    void mouseMoved();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
};

// The thumbnail viewer FraView: the photos of the selected job three to a row with their copy
// counts and print-now buttons, on a panel that two scroll buttons move a step per tick of
// TimerThumb while they are held, with a ball on a track that shows how far.
class ThumbViewer : public QFrame
{
    Q_OBJECT

public:
    // `playClickSound` runs when a button of the viewer is pressed.
    ThumbViewer(JobStore &store, std::function<void()> playClickSound, QWidget *parent);
    ~ThumbViewer() override;

    // Rebuilds the panel for the job whose entry key is `key` and returns at once: the
    // previous images and elements go and the previous job's decoding stops; boxes, labels,
    // print-now buttons and the scroll range of every photo (at most 1500) are laid out, and
    // a photo without a file says "Foto Não encontrada" at once. Photos kept in thumbCache
    // are shown at once; the others are decoded on both cores, the visible rows first, and
    // each appears in its box when it is ready. One found unreadable only then gets the
    // double-height "Foto Não encontrada" and loses its print-now button; nothing else moves,
    // as every place depends only on the photo's index. Does nothing while no entry is
    // selected.
    void ShowJobThumbnails(const QString &key);
    // What an emptied queue leaves: no images, no boxes but element 0, a panel of height 0,
    // no decoding.
    void clearThumbnails();
    // Shutdown: every image released and all decoding stopped; the elements above 0 unloaded.
    void releaseThumbImages();
    void unloadElements();

    // Whether photos of the shown job are still being decoded.
    bool decoding() const { return pendingThumbs > 0; }
    // Whether thumbnails of the jobs after the shown one are being prepared ahead.
    bool prefetching() const { return pendingPrefetch > 0; }

    // One tick of TimerThumb: a scroll step while a scroll button is held, and the ball.
    void onTimerThumbTick();

    // The panel and the ball in twips, as last set.
    int fraInTop() const { return m_fraInTop; }
    int fraInHeight() const { return m_fraInHeight; }
    int ballThumbTop() const { return m_ballTop; }

    QFrame *FraOut;
    ThumbPanel *FraIn;
    QList<ThumbBox *> PctThumb;
    QList<QLabel *> LblQuantidade;
    QList<ImageButton *> ImgBtAgora;
    ImageButton *ImgBtThumbUp;
    ImageButton *ImgBtThumbDown;
    QWidget *Shape1;
    QWidget *Shape2;
    QWidget *BallThumb;
    QTimer TimerThumb;

    std::array<IgHandle, ThumbLayout::ImageSlots> thumbImages {};
    int16_t thumbScroll = ThumbLayout::ScrollNone;
    ThumbCache thumbCache;

    // At most this many jobs after the shown one, and this many photos, are prepared ahead
    // while nothing else is decoded; a prefetch never pushes anything out of thumbCache.
    static constexpr int PrefetchJobs = 3;
    static constexpr int PrefetchPhotos = 300;

signals:
    // The last photo of the shown job is in its box (or found unreadable).
    void thumbnailsShown();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Photo i's slot from thumbCache, or its decoding queued; false when it is known to be
    // missing (no file, or found unreadable before).
    bool placeThumbnail(int index, const QString &path, std::vector<QString> &toDecode);
    void takeDecoded(int batch, int item, const QString &path, const DecodedThumb &thumb);
    void showMissing(int index);
    // Adds photo i's resolution to its label when it is too low for its print size.
    void showResolution(int index);
    void prefetchNextJobs();
    void stopDecoding();

    ThumbBox *makeBox(int index);
    QLabel *makeLabel();
    ImageButton *makePrintNowButton(int index, const QString &pictureKey);
    void destroyElementsAbove0();
    void resetPrintNowPictures();
    void setFraInTop(int twips);
    void setFraInHeight(int twips);
    void setBallTop(int twips);

    JobStore &store;
    std::function<void()> playClickSound;
    int m_fraInTop = ThumbLayout::PanelRestTop;
    int m_fraInHeight = 5940;
    int m_ballTop = ThumbLayout::BallRestTop;

    ThumbDecoder decoder;
    int shownBatch = 0;
    std::vector<int> shownSlots; // the slot of each photo of the shown batch
    struct ShownPhoto
    {
        QString path;
        int copies = 0;
        int paperSize = 0;
    };
    std::vector<ShownPhoto> shownPhotos; // by slot
    int pendingThumbs = 0;
    int prefetchBatch = 0;
    int pendingPrefetch = 0;
    qreal cacheRatio = 0; // the device pixel ratio of thumbCache's renderings
    bool showing = false; // a job is shown: not after an emptied queue or shutdown
};
