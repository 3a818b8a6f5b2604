#pragma once

#include "platform/system/ToolErrors.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class Cart;
class CartvaultSettings;
class AudioSettingsInterface;
class IAudioCallback;
class QObject;

// The cart store, as the program calls it. CartStore is our implementation.
class PlayoutAudio
{
public:
    // Numbers of the errors a store raises for faults of its own: it is not there (not
    // opened, or its audio folder is missing or not its own: nothing may be imported into or
    // removed from it now); a write of its audio failed (refused, no space); its database
    // failed (busy past its timeout, damaged).
    enum StoreError : qint32
    {
        StoreUnavailable = ToolErrors::PathFileAccessError,
        StoreWriteFailed = ToolErrors::DeviceIOError,
        StoreDatabaseFailed = ToolErrors::DatabaseFailed
    };

    virtual ~PlayoutAudio() = default;

    virtual AudioSettingsInterface* AudioSettings() const = 0;
    virtual void setAudioSettings(AudioSettingsInterface* settings) = 0;
    virtual CartvaultSettings* GetCartvaultSettings() = 0;
    virtual QString BaseFolder() const = 0;

    virtual bool IsValidCart(const QString& hdReference) const = 0;
    virtual bool IsCartInRange(const QString& cart, const QString& first,
                               const QString& last) const = 0;
    // Percent through the range.
    virtual float GetRangePosition(const QString& cart, const QString& first,
                                   const QString& last) const = 0;
    // The first cart at or after the one given; the very first when empty.
    virtual QString GetFirstCart(const QString& hdReference) const = 0;
    // "" after the last.
    virtual QString GetNextCart(const QString& hdReference) const = 0;
    virtual QString GetLastCart(qint32 flags = 0) const = 0;

    // Empty when the number is not a valid cart.
    virtual std::optional<Cart> GetCart(const QString& hdReference, qint32 detailLevel,
                                        bool flag) = 0;
    // 0 when stored. timingOnly: the timing-only update of an existing cart, which also takes
    // the Last-Modified stamp from the audio file; afterImport: after an import or overrides.
    // With both false the cart's stamp is stored as given.
    virtual qint32 SaveCart(const QString& hdReference, Cart& cart, qint32 detail, bool timingOnly,
                            bool afterImport, bool& flag) = 0;
    virtual QString GetCartAudioPath(const QString& hdReference, qint32 flags, bool flag) const = 0;

    // flags 0x24 into an empty cart, 4 over an existing one; normaliseLevel in percent of full
    // scale, or -1 for none. Progress goes to the registered callbacks. Raises ToolError only
    // for faults of the store itself (unavailable, write refused, no space, database busy),
    // after which the source file is not to blame, and for an import cut short because the
    // program is closing (LongWork::StoppedError, the cart untouched); an unreadable file
    // answers false.
    virtual bool ImportAudioFile(QObject* parentWindow, const QString& hdReference,
                                 const QString& fileName, qint32 flags, qint16 normaliseLevel,
                                 bool& flag1, qint32 arg7, qint32 arg8, bool& flag2) = 0;
    virtual bool ImportTransportFile(QObject* parentWindow, const QString& hdReference,
                                     const QString& fileName, qint32 arg4, QObject* arg5,
                                     qint32 arg6, QString& arg7, qint32 arg8, bool& flag) = 0;
    virtual bool ExportCart(QObject* parentWindow, const QString& hdReference,
                            const QString& targetFile, QObject* progress, qint32 arg5,
                            const QString& arg6, bool flag1, bool flag2) = 0;
    virtual bool RemoveCart(const QString& hdReference, bool flag1, bool flag2) = 0;
    // Measures the audio of every cart that has some and stores the lengths that differ;
    // number receives how many changed.
    virtual void RefreshCartInfo(bool flag, QString& text, qint32& number) = 0;
    // The same for the carts from first to last only. A store that cannot limit it refreshes
    // them all.
    virtual void RefreshCartInfoInRange(const QString& first, const QString& last, bool flag,
                                        QString& text, qint32& number)
    {
        RefreshCartInfo(flag, text, number);
    }

    virtual void RegisterCallback(IAudioCallback* sink) = 0;
    virtual void UnregisterCallback(IAudioCallback* sink) = 0;

    // Our addition: the carts from first to last are about to be read one after the other
    // (a check walking a group's range); a store may read their rows together. Empty texts
    // end it. Never raises.
    virtual void ReadRangeTogether(const QString& first, const QString& last) {}

    // Our addition, the stand-in for the component's own error log: why the last import,
    // export or removal answered false. Empty when not known.
    virtual QString LastError() const { return {}; }

    // Our addition: what the store mended on its own that the operator should hear of, each
    // told once; taking them empties the list.
    virtual QStringList TakeNotices() { return {}; }
};
