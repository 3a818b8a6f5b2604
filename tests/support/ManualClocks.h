#pragma once

#include "platform/system/Clocks.h"

#include <cmath>
#include <memory>

// Clocks moved by hand: the wall clock runs as the system's plus an offset, the steady clock
// stands still between moves. Later() lets time pass on both; StepWall() steps the wall clock
// alone, as NTP or an operator does. Files are stamped by the system's clock, so a test that
// writes a file "later" first calls Rejoin(): the wall clock goes back to the system's.
class ManualClocks
{
public:
    Clocks Get() const
    {
        const std::shared_ptr<State> state = m_state;
        return {.WallNs = [state] { return Clocks::SystemWallNs() + state->WallOffsetNs; },
                .SteadyNs = [state] { return state->SteadyNs; }};
    }
    void Later(double seconds)
    {
        m_state->WallOffsetNs += Ns(seconds);
        m_state->SteadyNs += Ns(seconds);
    }
    void StepWall(double seconds) { m_state->WallOffsetNs += Ns(seconds); }
    void Rejoin() { m_state->WallOffsetNs = 0; }

private:
    struct State
    {
        qint64 WallOffsetNs = 0;
        qint64 SteadyNs = 1'000'000'000'000;
    };
    static qint64 Ns(double seconds) { return std::llround(seconds * 1e9); }
    std::shared_ptr<State> m_state = std::make_shared<State>();
};
