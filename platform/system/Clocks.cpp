#include "platform/system/Clocks.h"

#include <ctime>

namespace {

qint64 Read(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace

qint64 Clocks::SystemWallNs()
{
    return Read(CLOCK_REALTIME);
}

qint64 Clocks::SystemSteadyNs()
{
    return Read(CLOCK_MONOTONIC);
}
