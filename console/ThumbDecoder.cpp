#include "ThumbDecoder.h"

#include <QThread>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <mutex>

namespace {

// A nice value that keeps the shown job's decoders behind the interface thread: with both
// cores decoding, a click, a scroll step or a print tick still gets a core at once.
constexpr int DecoderNice = 10;

void lowerThisThread()
{
#ifdef Q_OS_LINUX
    // On Linux a thread id names one thread here, not the process.
    static thread_local bool lowered = false;
    if (!lowered) {
        const auto thread = id_t(gettid());
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, thread);
        if (errno == 0)
            setpriority(PRIO_PROCESS, thread, nice + DecoderNice);
        lowered = true;
    }
#endif
}

// The drawing rectangle of a photo in its box, in the box's pixels.
constexpr IgRect DrawingRect { 0, 0, 99, 66 };

// Releases the worker's own image on every way out.
struct OwnImage
{
    OwnImage() = default;
    OwnImage(const OwnImage &) = delete;
    OwnImage &operator=(const OwnImage &) = delete;
    ~OwnImage() { IG_image_delete(handle); }
    IgHandle handle = 0;
};

DecodedThumb::Outcome drawThumbnail(IgHandle &handle, const QString &path, qreal ratio)
{
    int32_t w = 0, h = 0;
    if (IG_load_file(path, &handle) != IgSuccess || !IG_image_is_valid(handle)
        || IG_image_dimensions_get(handle, &w, &h, nullptr) != IgSuccess)
        return DecodedThumb::Unreadable;
    if (h > w && IG_IP_rotate_multiple_90(handle, 1) == IgSuccess)
        std::swap(w, h);
    // Resizing to its own size keeps the photo as it is; the decoding below is for the box.
    if (IG_IP_resize(handle, w, h, 0) != IgSuccess)
        return DecodedThumb::NotDrawn;
    IG_device_rect_set(handle, DrawingRect);
    // A load reads only the photo's header: one whose pixels cannot be decoded (cut short,
    // corrupt) is as unreadable as one that does not load, and the printer would print it
    // empty.
    return prepareImageDrawing(handle, ratio) == IgSuccess ? DecodedThumb::Drawn
                                                           : DecodedThumb::Unreadable;
}

} // namespace

DecodedThumb decodeThumbnail(const QString &path, qreal devicePixelRatio)
{
    DecodedThumb thumb;
    const std::optional<PhotoStamp> before = photoStamp(path);
    OwnImage image;
    thumb.outcome = drawThumbnail(image.handle, path, devicePixelRatio);
    if (thumb.outcome == DecodedThumb::Drawn && !(thumb.snapshot = snapshotImage(image.handle)))
        thumb.outcome = DecodedThumb::NotDrawn;
    if (before && photoStamp(path) == before)
        thumb.stamp = before;
    return thumb;
}

struct ThumbDecoder::Batch
{
    int number = 0;
    std::vector<QString> paths;
    qreal ratio = 1;
    std::atomic<bool> cancelled { false };
    std::mutex mutex;
    std::vector<bool> taken;
    int preferred = 0;

    // The next item to decode, or -1 when none is left.
    int take()
    {
        std::lock_guard lock(mutex);
        for (int pass = 0; pass < 2; ++pass) {
            for (int item = pass == 0 ? preferred : 0; item < int(taken.size()); ++item) {
                if (!taken[size_t(item)]) {
                    taken[size_t(item)] = true;
                    return item;
                }
            }
        }
        return -1;
    }
};

ThumbDecoder::ThumbDecoder(QObject *context, Delivery deliver)
    : context(context)
    , deliver(std::move(deliver))
{
    shownPool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    prefetchPool.setMaxThreadCount(1);
    // Scheduled only when a core would otherwise idle (SCHED_IDLE on Linux).
    prefetchPool.setThreadPriority(QThread::IdlePriority);
}

ThumbDecoder::~ThumbDecoder()
{
    cancel(Shown);
    cancel(Prefetch);
    waitForDone();
}

void ThumbDecoder::waitForDone()
{
    shownPool.waitForDone();
    prefetchPool.waitForDone();
}

int ThumbDecoder::start(Kind kind, std::vector<QString> paths, qreal devicePixelRatio)
{
    cancel(kind);
    auto batch = std::make_shared<Batch>();
    batch->number = ++lastBatch;
    batch->paths = std::move(paths);
    batch->ratio = devicePixelRatio;
    batch->taken.assign(batch->paths.size(), false);
    batches[kind] = batch;
    QThreadPool &pool = kind == Shown ? shownPool : prefetchPool;
    const int workers = std::min<int>(pool.maxThreadCount(), int(batch->paths.size()));
    for (int w = 0; w < workers; ++w) {
        pool.start([this, batch, kind] {
            if (kind == Shown)
                lowerThisThread();
            work(batch);
        });
    }
    return batch->number;
}

void ThumbDecoder::cancel(Kind kind)
{
    if (batches[kind])
        batches[kind]->cancelled = true;
    batches[kind].reset();
}

void ThumbDecoder::preferFrom(int item)
{
    if (const auto &batch = batches[Shown]) {
        std::lock_guard lock(batch->mutex);
        batch->preferred = std::max(item, 0);
    }
}

void ThumbDecoder::work(const std::shared_ptr<Batch> &batch)
{
    for (int item = 0; !batch->cancelled && (item = batch->take()) >= 0;) {
        const QString &path = batch->paths[size_t(item)];
        DecodedThumb thumb = decodeThumbnail(path, batch->ratio);
        // The destructor waits for this worker, so `this` and the context outlive the post;
        // the context drops the call if it is destroyed before the call is run.
        QMetaObject::invokeMethod(
            context,
            [this, number = batch->number, item, path, thumb = std::move(thumb)] {
                deliver(number, item, path, thumb);
            },
            Qt::QueuedConnection);
    }
}
