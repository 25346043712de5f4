#include "platform/qt/qt_clock.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cmath>

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

} // namespace

double QtClock::now() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void QtClock::after(double seconds, std::function<void()> work)
{
    QTimer::singleShot(milliseconds(seconds), Qt::PreciseTimer, QCoreApplication::instance(), std::move(work));
}

std::unique_ptr<RepeatingTimer> QtClock::every(double seconds, std::function<void()> work)
{
    return std::make_unique<QtRepeatingTimer>(seconds, std::move(work));
}

} // namespace vistrale
