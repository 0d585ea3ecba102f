#pragma once

#include "Imaging.h"
#include "ThumbLayout.h"

#include <QFrame>
#include <QList>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>

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

    // Rebuilds the panel for the job whose entry key is `key`: the previous images and
    // elements go, every photo (at most 1500) is decoded for its box, both cores sharing the
    // work, before this returns. Does nothing while no entry is selected.
    void ShowJobThumbnails(const QString &key);
    // What an emptied queue leaves: no images, no boxes but element 0, a panel of height 0.
    void clearThumbnails();
    // Shutdown: every image released, the elements above 0 unloaded.
    void releaseThumbImages();
    void unloadElements();

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

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Loads photo i into its slot, turns a portrait photo and decodes it for its box; false
    // when the photo is missing (no file, not a photo, no size).
    bool loadThumbnail(int index, const QString &path, qreal devicePixelRatio);

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
};
