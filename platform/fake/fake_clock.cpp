#include "platform/fake/fake_clock.h"

#include <algorithm>

namespace vistrale {

class FakeClock::Timer : public RepeatingTimer {
public:
    explicit Timer(std::shared_ptr<bool> alive)
        : alive(std::move(alive))
    {
    }
    ~Timer() override { *alive = false; }

private:
    std::shared_ptr<bool> alive;
};

void FakeClock::after(double seconds, std::function<void()> work)
{
    queue.emplace(
        std::make_pair(current.load() + std::max(0.0, seconds), sequence++), Entry{std::move(work), 0, nullptr});
}

std::unique_ptr<RepeatingTimer> FakeClock::every(double seconds, std::function<void()> work)
{
    auto alive = std::make_shared<bool>(true);
    const double interval = std::max(seconds, 1e-6);
    queue.emplace(std::make_pair(current.load() + interval, sequence++), Entry{std::move(work), interval, alive});
    return std::make_unique<Timer>(alive);
}

void FakeClock::postToMain(std::function<void()> work)
{
    std::lock_guard guard(postedLock);
    posted.push_back(std::move(work));
}

std::unique_ptr<RepeatingTimer> FakeClock::everyOnTimerThread(double seconds, std::function<void()> work)
{
    auto alive = std::make_shared<bool>(true);
    const double interval = std::max(seconds, 1e-6);
    queue.emplace(std::make_pair(current.load(), sequence++), Entry{std::move(work), interval, alive});
    return std::make_unique<Timer>(alive);
}

void FakeClock::takePosted()
{
    std::vector<std::function<void()>> taken;
    {
        std::lock_guard guard(postedLock);
        taken.swap(posted);
    }
    for (auto& work : taken)
        after(0, std::move(work));
}

void FakeClock::advance(double seconds)
{
    const double end = current.load() + std::max(0.0, seconds);
    takePosted();
    while (!queue.empty() && queue.begin()->first.first <= end + 1e-12) {
        auto node = queue.extract(queue.begin());
        Entry entry = std::move(node.mapped());
        current = std::max(current.load(), node.key().first);
        if (entry.alive && !*entry.alive)
            continue;
        if (entry.interval > 0)
            queue.emplace(std::make_pair(current.load() + entry.interval, sequence++), entry);
        entry.work();
        takePosted();
    }
    current = end;
}

} // namespace vistrale
