#pragma once

#include "platform/system/Clocks.h"

#include <QHash>
#include <QString>

// Audio files found missing, each with the time of the first look that missed it. An editor
// that saves by removing the file, then writing and renaming a new one, leaves it missing for a
// moment only: a file counts as gone once two looks at least kFileSettleNs apart missed it.
class VanishedAudio
{
public:
    explicit VanishedAudio(Clocks clocks = {});

    // Whether the file was already missing at a look at least kFileSettleNs before this one. The
    // first look that misses it is remembered.
    bool GoneLongEnough(const QString& path);
    // The file is there (again): its absence, if any, counts afresh.
    void Seen(const QString& path);

private:
    Clocks m_clocks;
    QHash<QString, qint64> m_firstMissed; // steady clock
};
