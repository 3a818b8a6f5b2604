#pragma once

#include <QString>

class QObject;

// Progress callbacks of the cart store. Calls arrive synchronously on the calling thread while a
// PlayoutAudio call runs; setting cancel asks the store to stop.
class IAudioCallback
{
public:
    virtual ~IAudioCallback() = default;

    virtual void Callback(qint32 eventReference, const QString& hdReference1,
                          const QString& hdReference2, const QString& otherInformation1,
                          bool& cancel) = 0;
    virtual void HardDiskItemsFound(QObject* clsHDItems, bool& stopSearching) = 0;
    virtual void Progress(const QString& recentReference, float percentProgress, bool& cancel) = 0;
    virtual void Progress2(qint32 eventReference, const QString& caption, float percentProgress,
                           bool& cancel) = 0;
    virtual void ProgressStart(qint32 eventReference, const QString& caption, bool usesProgress,
                               bool& cancel) = 0;
    virtual void ProgressEnd(qint32 eventReference, const QString& caption, bool usedProgress) = 0;
};
