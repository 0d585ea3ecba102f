#pragma once

#include "Imaging.h"
#include "ThumbCache.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What decoding one photo for its box gave.
struct DecodedThumb
{
    enum Outcome {
        Drawn, // the snapshot holds the thumbnail
        Unreadable, // no file, not a whole JPEG, no size, or pixels that cannot be decoded
        NotDrawn, // read, but its resize failed: the box stays empty
    };
    Outcome outcome = Unreadable;
    ImageSnapshot snapshot;
    // The file's stamp before it was read, when it was the same afterwards: only then does the
    // result describe that version of the file.
    std::optional<PhotoStamp> stamp;
};

// Loads the photo at `path`, turns it a quarter when it is portrait, and decodes it for the
// drawing rectangle 0, 0, 99, 66 of a box at `devicePixelRatio`. Runs on any thread.
DecodedThumb decodeThumbnail(const QString &path, qreal devicePixelRatio);

// Decodes photos for their boxes off the interface thread, in batches. The shown job's batch
// runs on a pool of every core, below the interface thread's priority so that a click or a
// print tick gets a core at once; a prefetch batch runs on one thread at idle priority, so that
// it only takes time nothing else wants. Neither locks anything the interface thread waits
// for beyond a table lookup. Starting a batch of
// either kind, or cancelling it, stops the one before it at once: a photo being decoded then is
// finished, no other is started. Every result is handed to `deliver` on the thread of
// `context`, also those of a batch cancelled meanwhile; none arrives once this is destroyed.
class ThumbDecoder
{
public:
    enum Kind { Shown, Prefetch };
    using Delivery
        = std::function<void(int batch, int item, const QString &path, const DecodedThumb &thumb)>;

    ThumbDecoder(QObject *context, Delivery deliver);
    ~ThumbDecoder();

    // Starts decoding `paths` (items 0 up) and returns the batch's number.
    int start(Kind kind, std::vector<QString> paths, qreal devicePixelRatio);
    void cancel(Kind kind);
    // The shown batch's workers take items from `item` on first (the first visible), then the
    // ones before it.
    void preferFrom(int item);
    // Waits for the photos in hand, those of cancelled batches too.
    void waitForDone();

private:
    struct Batch;
    void work(const std::shared_ptr<Batch> &batch);

    QObject *context;
    Delivery deliver;
    QThreadPool shownPool;
    QThreadPool prefetchPool;
    std::shared_ptr<Batch> batches[2];
    int lastBatch = 0;
};
