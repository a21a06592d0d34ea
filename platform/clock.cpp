// The system's monotonic clock.
#include "clock.h"

#include <time.h>

namespace exel {

int64_t SystemClock::nowMs() const
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

SystemClock &SystemClock::instance()
{
    static SystemClock c;
    return c;
}

} // namespace exel
