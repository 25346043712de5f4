#include "platform/qt/qt_clock.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vistrale {
namespace {

int milliseconds(double seconds)
{
    return static_cast<int>(std::clamp(std::lround(seconds * 1000.0), 0L, 24L * 3600 * 1000));
}

class QtRepeatingTimer : public RepeatingTimer {
public:
    QtRepeatingTimer(double seconds, std::function<void()> work)
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(std::max(1, milliseconds(seconds)));
        QObject::connect(&timer, &QTimer::timeout, std::move(work));
        timer.start();
    }

private:
    QTimer timer;
};

// A strict repeating timer on a thread of its own: each deadline follows the previous
// one by the interval, without drifting with the work's duration.
class ThreadTimer : public RepeatingTimer {
public:
    ThreadTimer(double seconds, std::function<void()> work)
        : thread([this, seconds, work = std::move(work)] { run(seconds, work); })
    {
    }
    ~ThreadTimer() override
    {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }

private:
    void run(double seconds, const std::function<void()>& work)
    {
        using namespace std::chrono;
        const auto interval = duration_cast<steady_clock::duration>(duration<double>(std::max(seconds, 0.001)));
        auto deadline = steady_clock::now();
        std::unique_lock guard(lock);
        while (!stopping) {
            guard.unlock();
            work();
            guard.lock();
            deadline += interval;
            // After a long stall start again from now rather than firing a burst.
            if (deadline < steady_clock::now())
                deadline = steady_clock::now() + interval;
            wake.wait_until(guard, deadline, [this] { return stopping; });
        }
    }

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

} // namespace

double QtClock::now() const
{
    return hostClockNow();
}

void QtClock::after(double seconds, std::function<void()> work)
{
    QTimer::singleShot(milliseconds(seconds), Qt::PreciseTimer, QCoreApplication::instance(), std::move(work));
}

void QtClock::postToMain(std::function<void()> work)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

std::unique_ptr<RepeatingTimer> QtClock::everyOnTimerThread(double seconds, std::function<void()> work)
{
    return std::make_unique<ThreadTimer>(seconds, std::move(work));
}

std::unique_ptr<RepeatingTimer> QtClock::every(double seconds, std::function<void()> work)
{
    return std::make_unique<QtRepeatingTimer>(seconds, std::move(work));
}

} // namespace vistrale
