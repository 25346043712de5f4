#pragma once

#include "platform/frame.h"
#include "preview/draw_list.h"
#include "preview/output_pixel_trace.h"

#include <QThread>
#include <functional>
#include <memory>
#include <mutex>

namespace vistrale {

class Clock;

// Draws scene snapshots into output frames on a thread of its own. Only the newest
// snapshot waiting is drawn; older ones are dropped. Frames go to the frame handler on
// the compositor thread (the output-frame queue); buffers are reused once no consumer
// holds them any more.
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

    // Draws one snapshot into `target` (which has the snapshot's output size). Used by
    // the thread and by benchmarks.
    void draw(const DrawList& list, QImage& target);

private:
    class Worker;
    std::shared_ptr<FrameBuffer> takeBuffer(QSize size);
    void drawPending();

    const Clock& clock;
    QThread thread;
    Worker* worker = nullptr;
    FrameHandler frameHandler;

    mutable std::mutex lock;
    DrawListRef pending;
    bool drawQueued = false;
    quint64 drawn = 0;
    double lastMilliseconds = 0;
    double lastCpuMilliseconds = 0;

    // Compositor thread only.
    const OutputPixelTrace pixelTrace = OutputPixelTrace::fromEnvironment();
    std::vector<std::shared_ptr<FrameBuffer>> pool;
    struct ScaledPicture {
        qint64 key;
        QRect source;
        QSize size;
        QImage image;
        quint64 lastUsed;
    };
    std::vector<ScaledPicture> scaledPictures;
    quint64 generation = 0;
    const QImage& scaled(const QImage& picture, const QRect& source, QSize size);
};

} // namespace vistrale
