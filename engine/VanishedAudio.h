#pragma once

#include <QHash>
#include <QString>
#include <functional>

// Audio files found missing, each with the time of the first look that missed it. An editor
// that saves by removing the file, then writing and renaming a new one, leaves it missing for a
// moment only: a file counts as gone once two looks at least MinimumGap apart missed it.
class VanishedAudio
{
public:
    static constexpr qint64 MinimumGapMs = 2000;

    // Milliseconds on a steady clock; an empty function uses the system's.
    void setClock(std::function<qint64()> clock);

    // Whether the file was already missing at a look at least MinimumGap before this one. The
    // first look that misses it is remembered.
    bool GoneLongEnough(const QString& path);
    // The file is there (again): its absence, if any, counts afresh.
    void Seen(const QString& path);

private:
    qint64 Now() const;

    std::function<qint64()> m_clock;
    QHash<QString, qint64> m_firstMissed;
};
