#pragma once

#include <QtGlobal>
#include <functional>

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
