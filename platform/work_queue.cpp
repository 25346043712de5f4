#include "platform/work_queue.h"

namespace vistrale {

SerialQueue::SerialQueue()
    : worker([this] { run(); })
{
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard guard(lock);
        stopping = true;
        pending.clear();
    }
    changed.notify_all();
    worker.join();
}

void SerialQueue::async(std::function<void()> work)
{
    {
        std::lock_guard guard(lock);
        pending.push_back(std::move(work));
    }
    changed.notify_all();
}

void SerialQueue::drain()
{
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return stopping || (pending.empty() && !busy); });
}

void SerialQueue::run()
{
    std::unique_lock guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return stopping || !pending.empty(); });
        if (stopping)
            return;
        std::function<void()> work = std::move(pending.front());
        pending.pop_front();
        busy = true;
        guard.unlock();
        work();
        guard.lock();
        busy = false;
        changed.notify_all();
    }
}

} // namespace vistrale
