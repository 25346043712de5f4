#include "platform/clock.h"

#include <chrono>

namespace vistrale {

double hostClockNow()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace vistrale
