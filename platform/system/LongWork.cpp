#include "platform/system/LongWork.h"

#include <QElapsedTimer>
#include <utility>

namespace {

// Often enough for the window to paint smoothly and to take a close at once; rarely enough
// that a decoder loop does not spend its time on it.
constexpr qint64 kIntervalMs = 25;

struct State
{
    LongWork::Handler handler;
    QElapsedTimer since;
    bool stopped = false;
    bool inHandler = false;
};

// A scope belongs to the thread that opened it.
State& Current()
{
    static thread_local State state;
    return state;
}

} // namespace

struct LongWork::Scope::Saved
{
    State state;
};

LongWork::Scope::Scope(Handler handler)
    : m_saved(std::make_unique<Saved>(
          Saved{std::exchange(Current(), State{std::move(handler), {}, false, false})}))
{}

LongWork::Scope::~Scope()
{
    Current() = std::move(m_saved->state);
}

bool LongWork::Breathe()
{
    State& state = Current();
    if (!state.handler) {
        return true;
    }
    if (state.stopped) {
        return false;
    }
    // Work started by the handler itself (a window opened meanwhile) does not pump again.
    if (state.inHandler || (state.since.isValid() && state.since.elapsed() < kIntervalMs)) {
        return true;
    }
    state.inHandler = true;
    const Handler handler = state.handler; // the handler may open a scope of its own
    const bool goOn = handler();
    state.inHandler = false;
    state.since.start();
    if (!goOn) {
        state.stopped = true;
    }
    return goOn;
}

bool LongWork::Stopped()
{
    return Current().stopped;
}

bool LongWork::Breathing()
{
    return Current().inHandler;
}
