#pragma once

#include "platform/system/FileVersionCache.h"

#include <QString>
#include <optional>

// One cart of the cart store, as PlayoutAudio::GetCart hands it out: a copy of the stored data.
// Changes take effect when the cart is given back to PlayoutAudio::SaveCart.
class Cart
{
public:
    QString HDReference;   // the cart number as the store writes it
    QString AudioFilePath; // the cart's audio file in the store (set also for an empty cart)
    bool HasAudio = false; // the audio file exists
    // The audio file's modification time when the cart was read (ns since the epoch); -1:
    // not known, ask the file.
    qint64 AudioModifiedNs = -1;
    QString SourceFile; // where the audio came from: a path or a "file://" address
    // The version of that file as the import began; empty when not known (earlier builds).
    std::optional<FileVersionKey> SourceVersion;
    QString Title;
    QString Artist;
    QString Description;
    float Length = 0.0f; // seconds; 0 or less: empty
    qint32 LastModifiedLow = 0;
    qint32 LastModifiedHigh = 0;
    float StartPoint = 0.0f; // markers in seconds; negative: unset
    float OutPoint = 0.0f;
    float IntroStart = -1.0f;
    float IntroEnd = -1.0f;
    float Extro = -1.0f;

    // The length as log lines show it.
    float DisplayLength(qint32 index = 1) const { return Length; }
};
