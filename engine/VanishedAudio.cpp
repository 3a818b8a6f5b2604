#include "engine/VanishedAudio.h"

#include <chrono>

void VanishedAudio::setClock(std::function<qint64()> clock)
{
    m_clock = std::move(clock);
}

bool VanishedAudio::GoneLongEnough(const QString& path)
{
    const qint64 now = Now();
    const auto found = m_firstMissed.constFind(path);
    if (found == m_firstMissed.constEnd()) {
        m_firstMissed.insert(path, now);
        return false;
    }
    return now - *found >= MinimumGapMs;
}

void VanishedAudio::Seen(const QString& path)
{
    m_firstMissed.remove(path);
}

qint64 VanishedAudio::Now() const
{
    if (m_clock) {
        return m_clock();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
