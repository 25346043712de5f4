#pragma once

#include <atomic>
#include <limits>

namespace vistrale {

// When a capture stream may read its next change. A stream captures at most once per
// `interval` on a clock of its own, unless the output has already taken its last frame:
// then the change is read at once. Otherwise a stream that captured just before the
// output's snapshot would wait out its own interval while the output waits for it, two
// clocks of the same rate in series, and a repaint would often miss a frame it could
// have made. Captures still follow the output's pace: at most one per output frame or
// per interval, so at most two within any interval.
class CapturePacer {
public:
    explicit CapturePacer(double interval)
        : interval(interval)
    {
    }

    // Capture thread. Seconds from `now` until a change may be captured; 0 for at once.
    double wait(double now) const
    {
        if (awaited <= shownUpTo.load(std::memory_order_acquire))
            return 0;
        const double left = lastCapture + interval - now;
        return left > 0 ? left : 0;
    }
    // Capture thread: a capture starts at `now`. Until it delivers a frame, only the
    // interval can release the next one.
    void captureStarted(double now)
    {
        lastCapture = now;
        awaited = std::numeric_limits<double>::infinity();
    }
    // Capture thread: the capture delivered the frame stamped `hostTime`.
    void delivered(double hostTime) { awaited = hostTime; }
    // Any thread: the frame stamped `hostTime` (and any before it) is in the output.
    void shown(double hostTime) { shownUpTo.store(hostTime, std::memory_order_release); }

private:
    const double interval;
    double lastCapture = -std::numeric_limits<double>::infinity();
    // The stamp of the frame whose showing releases the next capture.
    double awaited = std::numeric_limits<double>::infinity();
    std::atomic<double> shownUpTo{-std::numeric_limits<double>::infinity()};
};

} // namespace vistrale
