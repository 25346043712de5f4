#pragma once

#include <functional>
#include <memory>

namespace vistrale {

// Seconds on the monotonic host clock that Clock::now() and every frame's time stamp
// use. Any thread.
double hostClockNow();

// A repeating timer; stops when destroyed.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
};

// Time and the main queue. Main thread only, except `now`, `postToMain` and the
// timer-thread timers' work, as marked.
class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since a fixed reference; monotonic.
    virtual double now() const = 0;
    // Runs `work` once on the main thread after `seconds` (0: as soon as possible).
    virtual void after(double seconds, std::function<void()> work) = 0;
    // Runs `work` on the main thread every `seconds` until the timer is destroyed.
    virtual std::unique_ptr<RepeatingTimer> every(double seconds, std::function<void()> work) = 0;
    // Any thread: runs `work` on the main thread as soon as possible.
    virtual void postToMain(std::function<void()> work) = 0;
    // Runs `work` every `seconds` on a timer thread of its own (not the main thread),
    // first at once, until the timer is destroyed; no call runs after destruction.
    virtual std::unique_ptr<RepeatingTimer> everyOnTimerThread(double seconds, std::function<void()> work) = 0;
};

} // namespace vistrale
