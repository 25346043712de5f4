#pragma once

#include "platform/clock.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vistrale {

// A clock that moves only when the test says so. Work queued with `after` and timers
// run, in time order, inside `advance`.
class FakeClock : public Clock {
public:
    // Any thread (the compositor stamps its frames with it).
    double now() const override { return current.load(); }
    void after(double seconds, std::function<void()> work) override;
    std::unique_ptr<RepeatingTimer> every(double seconds, std::function<void()> work) override;
    // Posted work joins the queue like `after(0)`; any thread.
    void postToMain(std::function<void()> work) override;
    // The timer thread is simulated: its ticks run inside `advance`, like `every`'s.
    std::unique_ptr<RepeatingTimer> everyOnTimerThread(double seconds, std::function<void()> work) override;

    // Moves time forward, running everything that falls due on the way.
    void advance(double seconds);
    // Runs what is due now (work queued with a delay of 0).
    void runPending() { advance(0); }
    // Work and timer ticks waiting.
    std::size_t pendingCount() const { return queue.size(); }

private:
    struct Entry {
        std::function<void()> work;
        double interval = 0; // > 0 for a timer tick
        std::shared_ptr<bool> alive;
    };
    class Timer;

    void takePosted();

    std::atomic<double> current{1000.0};
    std::mutex postedLock;
    std::vector<std::function<void()>> posted;
    std::uint64_t sequence = 0;
    // Ordered by due time, then by the order of queuing.
    std::multimap<std::pair<double, std::uint64_t>, Entry> queue;
};

} // namespace vistrale
