#pragma once

#include <QPoint>

// The thumbnail panel's arithmetic, in twips: where photo i's box, label and print-now button
// go, how tall the moving panel is, how far one scroll tick moves it and where the position
// ball sits. The viewer converts the results to pixels only when it places its controls.
namespace ThumbLayout {

inline constexpr int Columns = 3;
inline constexpr int MaxPhotos = 1500; // shown at most, the first of the job
inline constexpr int ImageSlots = 1501; // thumbImages: slots 0 to 1500

// PctThumb(0), which every other box copies.
inline constexpr int BoxLeft = 105;
inline constexpr int BoxTop = 150;
inline constexpr int BoxWidth = 1515;
inline constexpr int BoxHeight = 975;
inline constexpr int LabelHeight = 210; // twice that for a missing photo

// The inner panel FraIn within the viewport FraOut.
inline constexpr int PanelLeft = 120;
inline constexpr int PanelRestTop = 105; // after every rebuild
inline constexpr int PanelWidth = 4950;
inline constexpr int ViewportHeight = 6120;

// The position indicator: the track LineThumb from TrackTop to TrackBottom and the ball.
inline constexpr int TrackX = 5700;
inline constexpr int TrackTop = 990;
inline constexpr int TrackBottom = 5610;
inline constexpr int BallLeft = 5580;
inline constexpr int BallRestTop = 1005;
inline constexpr int BallSize = 255;
inline constexpr int BallLowestTop = TrackBottom - 130;

// thumbScroll's values.
inline constexpr int ScrollNone = 0;
inline constexpr int ScrollUp = 6;
inline constexpr int ScrollDown = 7;

int rowCount(int photos);
// rows x (H + 600) + 400.
int panelHeight(int photos, int boxHeight = BoxHeight);
// Left and top of photo i's box: three to a row, a row pitch of H + 600.
QPoint boxPlace(int index, int boxWidth = BoxWidth, int boxHeight = BoxHeight);
// The label and print-now button of the boxes from 1 up; element 0 keeps its laid-out place.
QPoint labelPlace(QPoint box, int boxHeight = BoxHeight);
QPoint printNowPlace(QPoint box, int boxHeight = BoxHeight);

// The first photo whose box shows in the viewport while the panel's top is at `top`.
int firstVisiblePhoto(int top, int boxHeight = BoxHeight);

// One scroll tick: the panel's top after it. Up moves a step of H + 5 while the top is above
// the viewport's top edge; down while the top is below (Hout - Hin) + 100.
int panelTopAfterTick(int scroll, int top, int panelHeight, int viewportHeight = ViewportHeight,
                      int boxHeight = BoxHeight);

// The ball's top for the panel at `top`: |top| / (Hin - Hout) along the track, never lower
// than BallLowestTop. A panel that fits the viewport cannot scroll; its ball stays at rest.
int ballTop(int top, int panelHeight, int viewportHeight = ViewportHeight);

} // namespace ThumbLayout
