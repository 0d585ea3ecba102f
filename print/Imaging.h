#pragma once

#include <QSize>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <memory>

class QPainter;

// Zelvo's imaging layer: the one place where photos are decoded, turned, scaled and drawn.
// Images live in a table that the layer owns and are named by 32-bit handles; 0 names none.
// Every operation returns 0 on success and a non-zero error otherwise, except
// IG_image_is_valid, which is non-zero for a live handle.
//
// A load reads only what the photo declares (its size) after checking that the file is a
// whole JPEG; the pixels are decoded when the image is first drawn, at the smallest libjpeg
// DCT scale (in eighths) that still covers the device rectangle, and the image then keeps a
// rendering of about the device rectangle's size for later drawings with the same geometry.
// Dimensions, rectangles and turns always describe the full-size photo.
//
// The table is guarded: loading, drawing into an off-screen painter and deleting may run on
// worker threads, each thread working on its own handles.

using IgHandle = uint32_t;

// Left, top, right, bottom; right and bottom are inclusive (right = left + width - 1).
struct IgRect
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = -1;
    int32_t bottom = -1;

    friend bool operator==(const IgRect &, const IgRect &) = default;
};

enum IgError : int {
    IgSuccess = 0,
    IgNoSuchImage = 1, // the handle names no live image
    IgUnreadable = 2, // missing, empty, not a JPEG, truncated, corrupt or absurdly large
    IgBadArgument = 3,
    IgDecodeFailed = 4, // the photo could not be decoded when it was drawn
    IgNothingToDraw = 5, // the image rectangle lies outside the image, or the target is empty
    IgNoFile = 6, // no regular file at the path: the load's kind of IgUnreadable
    IgTooLarge = 7, // refused for its size: the load's kind of IgUnreadable
};

// A photo declaring more pixels than this is refused at load: 200 megapixels is three times
// the largest camera sensors in use and keeps a worst-case full-size decode under 1 GB.
constexpr qint64 IgMaxDeclaredPixels = 200'000'000;

// Loads the JPEG at `path` and stores its new handle in *handle (0 on failure). A refusal is
// IgNoFile, IgTooLarge or IgUnreadable.
int IG_load_file(const QString &path, IgHandle *handle);
int IG_image_is_valid(IgHandle handle);
int IG_image_delete(IgHandle handle);
// Width and height in pixels as the image now stands (after turns and resizes), and the bits
// per pixel of the decoded photo (8 grey, 24 colour, 32 CMYK). Any pointer may be null.
int IG_image_dimensions_get(IgHandle handle, int32_t *width, int32_t *height,
                            int32_t *bitsPerPixel);
// The pixels the photo stores, whatever turns and resizes made of the image; empty for none.
QSize imageStoredSize(IgHandle handle);
// Quarter turns: code 1 turns the image 90 degrees clockwise, 2 half a turn, 3 90 degrees
// anticlockwise (270 clockwise). Width and height are exchanged for codes 1 and 3.
int IG_IP_rotate_multiple_90(IgHandle handle, int turnCode);
// Makes the image width x height pixels; the interpolation argument is accepted and unused.
int IG_IP_resize(IgHandle handle, int32_t width, int32_t height, int interpolation);
// The part of the image that drawing uses; until set, the whole image. It stays with the
// image until set again; the part outside the image is not drawn.
int IG_image_rect_set(IgHandle handle, const IgRect &rect);
// Where drawing puts the image rectangle, in the painter's pixels; it may extend past the
// device. Until set, the image's own size at the origin.
int IG_device_rect_set(IgHandle handle, const IgRect &rect);
// The background pattern drawn behind an image; only "none" (all zeros) exists here.
int IG_display_desktop_pattern_set(IgHandle handle, int pattern1, int pattern2, int pattern3,
                                   int pattern4);
// Draws the image rectangle scaled into the device rectangle of `painter` (a widget's, or an
// off-screen image's). IG_print_image does the same on a printer's painter; `flags` is -1.
int IG_display_image(IgHandle handle, QPainter *painter);
int IG_print_image(IgHandle handle, QPainter *painter, int flags);

// Decodes now what the next drawing with the current geometry will draw, at
// `devicePixelRatio` physical pixels per painter pixel, so that a worker thread can take the
// decoding off the thread that paints.
int prepareImageDrawing(IgHandle handle, qreal devicePixelRatio = 1.0);

// A copy of a drawn image with its rendering, shared and never changed: a handle loaded from
// it draws the same picture at the same geometry without decoding, so a caller can keep
// images it has prepared beyond their handles' lives. It holds only the rendering, never the
// photo at full size.
struct ImageState;
using ImageSnapshot = std::shared_ptr<const ImageState>;

// The image as it stands, or null when it names no image or has no rendering yet.
ImageSnapshot snapshotImage(IgHandle handle);
// Stores in *handle a new image made from `snapshot`, sharing its rendering.
int loadImageSnapshot(const ImageSnapshot &snapshot, IgHandle *handle);
// Bytes of pixel data that the snapshot keeps.
qint64 snapshotPixelBytes(const ImageSnapshot &snapshot);

// Bytes of pixel data that the image keeps (its rendering); 0 for none or no such image.
qint64 imagePixelBytesHeld(IgHandle handle);
// Images now in the table.
int liveImageCount();
// How many times photo pixels have been decoded since the program started.
quint64 imageDecodeCount();
