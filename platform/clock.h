#pragma once

#include <functional>
#include <memory>

namespace vistrale {

// A repeating timer; stops when destroyed.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
};

// Time and the main queue. Main thread only, except `now`, which any thread may call.
class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since a fixed reference; monotonic.
    virtual double now() const = 0;
    // Runs `work` once on the main thread after `seconds` (0: as soon as possible).
    virtual void after(double seconds, std::function<void()> work) = 0;
    // Runs `work` on the main thread every `seconds` until the timer is destroyed.
    virtual std::unique_ptr<RepeatingTimer> every(double seconds, std::function<void()> work) = 0;
};

} // namespace vistrale
