#pragma once

#include <QtGlobal>
#include <functional>

// How long a file is left alone before a look at it is trusted: the last write of a copy or an
// editor's save, and the moment such a save leaves the file missing, are over by then.
inline constexpr qint64 kFileSettleNs = 2'000'000'000;

// The two clocks the program reads, in nanoseconds: the wall clock (since 1970, UTC; what file
// times are stamped with, and what NTP or an operator may step) and a steady clock (from an
// arbitrary start; never steps). Objects that measure time take one of these when they are made,
// so that tests can put in clocks they move by hand.
struct Clocks
{
    static qint64 SystemWallNs();
    static qint64 SystemSteadyNs();

    std::function<qint64()> WallNs = &SystemWallNs;
    std::function<qint64()> SteadyNs = &SystemSteadyNs;
};
