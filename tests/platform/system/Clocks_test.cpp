#include "platform/system/Clocks.h"

#include <ctime>
#include <gtest/gtest.h>

namespace {

qint64 Kernel(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Each clock is read from the kernel's own, within a second: the steady one is the monotonic
// clock, which NTP and an operator stepping the wall clock leave alone. Stepping the machine's
// wall clock here would disturb everything else running on it.
TEST(ClocksTest, EachClockIsTheKernelsOwn)
{
    struct Row
    {
        const char* name;
        qint64 (*read)();
        clockid_t kernel;
    };
    const Row rows[] = {
        {"steady", &Clocks::SystemSteadyNs, CLOCK_MONOTONIC},
        {"wall", &Clocks::SystemWallNs, CLOCK_REALTIME},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const qint64 before = Kernel(row.kernel);
        const qint64 read = row.read();
        const qint64 after = Kernel(row.kernel);
        EXPECT_GE(read, before - 1'000'000'000);
        EXPECT_LE(read, after + 1'000'000'000);
    }
}

} // namespace
