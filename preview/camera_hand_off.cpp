#include "preview/camera_hand_off.h"

namespace vistrale {

bool CameraHandOff::offer(const FrameRef& frame)
{
    if (!frame || !needToStream.load())
        return false;
    Sink current;
    {
        std::lock_guard guard(lock);
        current = sink;
    }
    if (!current)
        return false;
    // One frame in flight: a new one goes only when none went yet or the last was taken.
    bool wasReady = true;
    if (enqueued.load() && !readyToEnqueue.compare_exchange_strong(wasReady, false))
        return false;
    enqueued = true;
    readyToEnqueue = false;
    current(frame);
    return true;
}

void CameraHandOff::setSink(Sink next)
{
    std::lock_guard guard(lock);
    sink = std::move(next);
}

bool CameraHandOff::hasSink() const
{
    std::lock_guard guard(lock);
    return static_cast<bool>(sink);
}

} // namespace vistrale
