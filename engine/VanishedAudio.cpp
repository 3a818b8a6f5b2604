#include "engine/VanishedAudio.h"

VanishedAudio::VanishedAudio(Clocks clocks) : m_clocks(std::move(clocks)) {}

bool VanishedAudio::GoneLongEnough(const QString& path)
{
    const qint64 now = m_clocks.SteadyNs();
    const auto found = m_firstMissed.constFind(path);
    if (found == m_firstMissed.constEnd()) {
        m_firstMissed.insert(path, now);
        return false;
    }
    return now - *found >= kFileSettleNs;
}

void VanishedAudio::Seen(const QString& path)
{
    m_firstMissed.remove(path);
}
