#pragma once

#include "platform/cartstore/CartListing.h"
#include "platform/cartstore/PlayoutAudio.h"

#include <QList>
#include <memory>

class CartStore;

// The cart store of the open playout profile. Callers hold on to this object (the program's
// globals, registered callbacks), so it stays the same while the profile is reopened with
// another base folder: it passes every call to the CartStore currently open and carries the
// audio settings and the registered callbacks over to a newly opened one.
class ProfileCartStore : public PlayoutAudio, public CartListing
{
public:
    ProfileCartStore();
    ~ProfileCartStore() override;

    // Opens the store in that folder in place of the current one; false (keeping the current
    // one) when it cannot be opened. With a store identity, only that store is opened: no new
    // one is made.
    bool Open(const QString& baseFolder, const QString& storeId = QString());
    void Close();
    bool IsOpen() const { return m_store != nullptr; }
    // nullptr while closed.
    CartStore* Store() const { return m_store.get(); }

    AudioSettingsInterface* AudioSettings() const override { return m_audioSettings; }
    void setAudioSettings(AudioSettingsInterface* settings) override;
    CartvaultSettings* GetCartvaultSettings() override;
    // "" while closed.
    QString BaseFolder() const override;

    // The calls below raise ToolError while no store is open.
    bool IsValidCart(const QString& hdReference) const override;
    bool IsCartInRange(const QString& cart, const QString& first,
                       const QString& last) const override;
    float GetRangePosition(const QString& cart, const QString& first,
                           const QString& last) const override;
    QString GetFirstCart(const QString& hdReference) const override;
    QString GetNextCart(const QString& hdReference) const override;
    QString GetLastCart(qint32 flags = 0) const override;
    std::optional<Cart> GetCart(const QString& hdReference, qint32 detailLevel, bool flag) override;
    qint32 SaveCart(const QString& hdReference, Cart& cart, qint32 detail, bool timingOnly,
                    bool afterImport, bool& flag) override;
    QString GetCartAudioPath(const QString& hdReference, qint32 flags, bool flag) const override;
    bool ImportAudioFile(QObject* parentWindow, const QString& hdReference, const QString& fileName,
                         qint32 flags, qint16 normaliseLevel, bool& flag1, qint32 arg7, qint32 arg8,
                         bool& flag2) override;
    bool ImportTransportFile(QObject* parentWindow, const QString& hdReference,
                             const QString& fileName, qint32 arg4, QObject* arg5, qint32 arg6,
                             QString& arg7, qint32 arg8, bool& flag) override;
    bool ExportCart(QObject* parentWindow, const QString& hdReference, const QString& targetFile,
                    QObject* progress, qint32 arg5, const QString& arg6, bool flag1,
                    bool flag2) override;
    bool RemoveCart(const QString& hdReference, bool flag1, bool flag2) override;
    void RefreshCartInfo(bool flag, QString& text, qint32& number) override;
    // "" while closed.
    QString LastError() const override;
    QStringList TakeNotices() override;
    void RefreshCartInfoInRange(const QString& first, const QString& last, bool flag, QString& text,
                                qint32& number) override;

    void ReadRangeTogether(const QString& first, const QString& last) override;

    // Held also while closed, and handed to every store opened later.
    void RegisterCallback(IAudioCallback* sink) override;
    void UnregisterCallback(IAudioCallback* sink) override;

    // Raises ToolError while no store is open.
    QList<CartSummary> ListCarts(qint64 afterNumber, int maxCount) const override;

private:
    CartStore& Current() const;

    std::unique_ptr<CartStore> m_store;
    AudioSettingsInterface* m_audioSettings = nullptr;
    QList<IAudioCallback*> m_callbacks;
};
