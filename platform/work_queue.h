#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vistrale {

// A serial queue of work on one thread of its own, for slow calls that must not hold
// up the main thread. Work runs in the order it was queued; destruction waits for the
// running item and drops the rest.
class SerialQueue {
public:
    SerialQueue();
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Any thread.
    void async(std::function<void()> work);
    // Any thread but the queue's own: returns once everything queued so far has run.
    void drain();

private:
    void run();

    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<void()>> pending;
    bool busy = false;
    bool stopping = false;
    std::thread worker;
};

} // namespace vistrale
