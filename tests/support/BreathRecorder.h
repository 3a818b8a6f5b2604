#pragma once

#include "platform/system/LongWork.h"

#include <QElapsedTimer>

// Stands in for the window while long work runs: counts the work's breaths, notes the longest
// gap between two (from the start on), and tells the work to stop once stopAfterMs have passed.
class BreathRecorder
{
public:
    explicit BreathRecorder(qint64 stopAfterMs) : m_stopAfterMs(stopAfterMs) { m_clock.start(); }

    LongWork::Handler Handler()
    {
        return [this] {
            const qint64 now = m_clock.elapsed();
            ++Breaths;
            LongestGapMs = qMax(LongestGapMs, now - m_last);
            m_last = now;
            if (now < m_stopAfterMs) {
                return true;
            }
            if (StoppedAtMs < 0) {
                StoppedAtMs = now;
            }
            return false;
        };
    }
    qint64 ElapsedMs() const { return m_clock.elapsed(); }

    int Breaths = 0;
    qint64 LongestGapMs = 0;
    qint64 StoppedAtMs = -1;

private:
    QElapsedTimer m_clock;
    qint64 m_stopAfterMs;
    qint64 m_last = 0;
};
