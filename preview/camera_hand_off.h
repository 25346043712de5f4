#pragma once

#include "platform/frame.h"

#include <atomic>
#include <functional>
#include <mutex>

namespace vistrale {

// Output frames on their way to the camera: offered only while a client watches
// (`needToStream`) and the camera's queue exists, with at most one frame in flight
// until the camera side says it took it. Frames are passed by reference.
class CameraHandOff {
public:
    // The camera's enqueue; called on the output-frame thread.
    using Sink = std::function<void(const FrameRef& frame)>;

    // Output-frame thread. True when the frame went to the camera.
    bool offer(const FrameRef& frame);
    // Any thread: the camera's queue appears (or goes, with an empty sink).
    void setSink(Sink sink);
    bool hasSink() const;
    // Camera thread: the frame in flight was taken; the next one may go.
    void taken() { readyToEnqueue = true; }

    std::atomic<bool> needToStream{false};
    std::atomic<bool> enqueued{false};
    std::atomic<bool> readyToEnqueue{false};

private:
    mutable std::mutex lock;
    Sink sink;
};

} // namespace vistrale
