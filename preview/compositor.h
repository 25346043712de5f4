#pragma once

#include "platform/frame.h"
#include "preview/draw_list.h"
#include "preview/output_pixel_trace.h"
#include "preview/shaped_copy.h"

#include <QRegion>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vistrale {

class Clock;

// Draws scene snapshots into output frames on a thread of its own. Only the newest
// snapshot waiting is drawn; older ones are dropped. Frames go to the frame handler on
// the compositor thread (the output-frame queue); buffers are reused once no consumer
// holds them any more.
//
// A reused buffer still holds the snapshot it was last drawn with, so only the parts
// where the new snapshot differs from that one are drawn again: a webcam or a pointer
// moving over a still desktop costs its own area, not the whole picture.
class Compositor {
public:
    using FrameHandler = std::function<void(FrameRef frame)>;

    explicit Compositor(const Clock& clock);
    ~Compositor();

    // Before the first submit. Called on the compositor thread for every frame.
    void setFrameHandler(FrameHandler handler);
    // Any thread.
    void submit(DrawListRef list);
    // Frames drawn so far and the time the last one took, in milliseconds: wall time,
    // and the compositor thread's own CPU time over the same span (the two differ by
    // the time the thread waited for a core). Any thread.
    quint64 framesDrawn() const;
    double lastDrawMilliseconds() const;
    double lastDrawCpuMilliseconds() const;
    // Of those, the frames that were drawn again only where they changed. Any thread.
    quint64 framesDrawnInPart() const;

    // Draws one snapshot into `target` (which has the snapshot's output size). Used by
    // the thread and by benchmarks.
    void draw(const DrawList& list, QImage& target);
    // Draws only inside `damage`, leaving the rest of `target` as it is.
    void draw(const DrawList& list, QImage& target, const QRegion& damage);

    // A layer's look without its pixels: the picture is known by its cache key, which
    // changes whenever the picture's pixels are written.
    struct DrawnOp {
        DrawOp look;
        qint64 picture = 0;
    };
    struct Drawn {
        QSize size;
        QColor clear;
        std::vector<DrawnOp> ops;
    };
    static Drawn drawnOf(const DrawList& list);
    // Where a picture drawn with `before` must be drawn again to show `after`; nullopt
    // when all of it must (another size or layer order).
    static std::optional<QRegion> damageBetween(const Drawn& before, const Drawn& after);

private:
    class Worker;
    void drawPending();

    const Clock& clock;
    QThread thread;
    Worker* worker = nullptr;
    FrameHandler frameHandler;

    mutable std::mutex lock;
    DrawListRef pending;
    bool drawQueued = false;
    quint64 drawn = 0;
    quint64 drawnInPart = 0;
    double lastMilliseconds = 0;
    double lastCpuMilliseconds = 0;

    // Compositor thread only.
    const OutputPixelTrace pixelTrace = OutputPixelTrace::fromEnvironment();
    struct Pooled {
        std::shared_ptr<FrameBuffer> buffer;
        std::optional<Drawn> drawn;
    };
    std::vector<Pooled> pool;
    // The look of the frame handed out last, to tell the next one's changes.
    std::optional<Drawn> handedOut;
    quint64 handedOutCount = 0;
    Pooled& takeBuffer(QSize size);
    struct ScaledPicture {
        qint64 key;
        QRect source;
        QSize size;
        QImage image;
        quint64 lastUsed;
    };
    std::vector<ScaledPicture> scaledPictures;
    ShapedCopy shapedCopy;
    quint64 generation = 0;
    const QImage& scaled(const QImage& picture, const QRect& source, QSize size);
    // Draws the snapshot, clearing first unless a layer covers the whole frame; inside
    // `damage` only when one is given.
    void paint(const DrawList& list, QImage& target, const QRegion* damage);
};

} // namespace vistrale
