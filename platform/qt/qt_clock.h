#pragma once

#include "platform/clock.h"

namespace vistrale {

// The main queue as Qt's event loop: single-shot and repeating QTimers on the main
// thread, time from the monotonic clock.
class QtClock : public Clock {
public:
    double now() const override;
    void after(double seconds, std::function<void()> work) override;
    std::unique_ptr<RepeatingTimer> every(double seconds, std::function<void()> work) override;
    void postToMain(std::function<void()> work) override;
    std::unique_ptr<RepeatingTimer> everyOnTimerThread(double seconds, std::function<void()> work) override;
};

} // namespace vistrale
