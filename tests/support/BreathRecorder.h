#pragma once

#include "platform/system/LongWork.h"

#include <QElapsedTimer>
#include <ctime>

// Stands in for the window while long work runs: counts the work's breaths, notes the longest
// gap between two (from the start on), and tells the work to stop once stopAfterMs have passed.
class BreathRecorder
{
public:
    explicit BreathRecorder(qint64 stopAfterMs) : m_stopAfterMs(stopAfterMs) { m_clock.start(); }

    // Stops the work at the given breath and measures in the processor time of this thread, so
    // that it holds however starved of processor time the machine is. For work that computes
    // rather than waits.
    struct AtBreath
    {
        int number;
    };
    explicit BreathRecorder(AtBreath stop) : m_stopAtBreath(stop.number) { m_cpuStart = CpuMs(); }

    LongWork::Handler Handler()
    {
        return [this] {
            const qint64 now = ElapsedMs();
            ++Breaths;
            LongestGapMs = qMax(LongestGapMs, now - m_last);
            m_last = now;
            if (m_stopAtBreath > 0 ? Breaths < m_stopAtBreath : now < m_stopAfterMs) {
                return true;
            }
            if (StoppedAtMs < 0) {
                StoppedAtMs = now;
            }
            return false;
        };
    }
    qint64 ElapsedMs() const
    {
        return m_stopAtBreath > 0 ? CpuMs() - m_cpuStart : m_clock.elapsed();
    }

    int Breaths = 0;
    qint64 LongestGapMs = 0;
    qint64 StoppedAtMs = -1;

private:
    static qint64 CpuMs()
    {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
    }

    QElapsedTimer m_clock;
    qint64 m_stopAfterMs = 0;
    int m_stopAtBreath = 0;
    qint64 m_cpuStart = 0;
    qint64 m_last = 0;
};
