#include "platform/profiles/ProfileCartStore.h"

#include "platform/cartstore/CartStore.h"
#include "platform/profiles/ProfileLog.h"
#include "platform/system/MessageBox.h"
#include "platform/system/ToolError.h"

#include <QDir>
#include <QFileInfo>

ProfileCartStore::ProfileCartStore() = default;

ProfileCartStore::~ProfileCartStore()
{
    Close();
}

bool ProfileCartStore::Open(const QString& baseFolder, const QString& storeId)
{
    std::unique_ptr<CartStore> store;
    try {
        store = std::make_unique<CartStore>(baseFolder, CartStoreOptions{.storeId = storeId});
    } catch (const ToolError& error) {
        qCWarning(lcProfile) << "cannot open the cart store in" << baseFolder
                             << error.Description();
        // The operator must hear why the program does not start, not only stderr.
        MessageBox::Show(QStringLiteral("The cart store in %1 cannot be opened.\n\n%2")
                             .arg(QDir::toNativeSeparators(baseFolder), error.Description()),
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Critical);
        return false;
    }
    Close();
    m_store = std::move(store);
    m_store->setAudioSettings(m_audioSettings);
    for (IAudioCallback* sink : std::as_const(m_callbacks)) {
        m_store->RegisterCallback(sink);
    }
    return true;
}

void ProfileCartStore::Close()
{
    if (!m_store) {
        return;
    }
    for (IAudioCallback* sink : std::as_const(m_callbacks)) {
        m_store->UnregisterCallback(sink);
    }
    m_store.reset();
}

CartStore& ProfileCartStore::Current() const
{
    if (!m_store) {
        throw ToolError(ToolErrors::NoProfileOpen, QStringLiteral("No playout profile is open."));
    }
    return *m_store;
}

void ProfileCartStore::setAudioSettings(AudioSettingsInterface* settings)
{
    m_audioSettings = settings;
    if (m_store) {
        m_store->setAudioSettings(settings);
    }
}

CartvaultSettings* ProfileCartStore::GetCartvaultSettings()
{
    return m_store ? m_store->GetCartvaultSettings() : nullptr;
}

QString ProfileCartStore::BaseFolder() const
{
    return m_store ? m_store->BaseFolder() : QString();
}

bool ProfileCartStore::IsValidCart(const QString& hdReference) const
{
    return Current().IsValidCart(hdReference);
}

bool ProfileCartStore::IsCartInRange(const QString& cart, const QString& first,
                                     const QString& last) const
{
    return Current().IsCartInRange(cart, first, last);
}

float ProfileCartStore::GetRangePosition(const QString& cart, const QString& first,
                                         const QString& last) const
{
    return Current().GetRangePosition(cart, first, last);
}

QString ProfileCartStore::GetFirstCart(const QString& hdReference) const
{
    return Current().GetFirstCart(hdReference);
}

QString ProfileCartStore::GetNextCart(const QString& hdReference) const
{
    return Current().GetNextCart(hdReference);
}

QString ProfileCartStore::GetLastCart(qint32 flags) const
{
    return Current().GetLastCart(flags);
}

std::optional<Cart> ProfileCartStore::GetCart(const QString& hdReference, qint32 detailLevel,
                                              bool flag)
{
    return Current().GetCart(hdReference, detailLevel, flag);
}

qint32 ProfileCartStore::SaveCart(const QString& hdReference, Cart& cart, qint32 detail,
                                  bool timingOnly, bool afterImport, bool& flag)
{
    return Current().SaveCart(hdReference, cart, detail, timingOnly, afterImport, flag);
}

QString ProfileCartStore::GetCartAudioPath(const QString& hdReference, qint32 flags,
                                           bool flag) const
{
    return Current().GetCartAudioPath(hdReference, flags, flag);
}

bool ProfileCartStore::ImportAudioFile(QObject* parentWindow, const QString& hdReference,
                                       const QString& fileName, qint32 flags, qint16 normaliseLevel,
                                       bool& flag1, qint32 arg7, qint32 arg8, bool& flag2)
{
    return Current().ImportAudioFile(parentWindow, hdReference, fileName, flags, normaliseLevel,
                                     flag1, arg7, arg8, flag2);
}

bool ProfileCartStore::ImportTransportFile(QObject* parentWindow, const QString& hdReference,
                                           const QString& fileName, qint32 arg4, QObject* arg5,
                                           qint32 arg6, QString& arg7, qint32 arg8, bool& flag)
{
    return Current().ImportTransportFile(parentWindow, hdReference, fileName, arg4, arg5, arg6,
                                         arg7, arg8, flag);
}

bool ProfileCartStore::ExportCart(QObject* parentWindow, const QString& hdReference,
                                  const QString& targetFile, QObject* progress, qint32 arg5,
                                  const QString& arg6, bool flag1, bool flag2)
{
    return Current().ExportCart(parentWindow, hdReference, targetFile, progress, arg5, arg6, flag1,
                                flag2);
}

bool ProfileCartStore::RemoveCart(const QString& hdReference, bool flag1, bool flag2)
{
    return Current().RemoveCart(hdReference, flag1, flag2);
}

void ProfileCartStore::RefreshCartInfo(bool flag, QString& text, qint32& number)
{
    Current().RefreshCartInfo(flag, text, number);
}

QString ProfileCartStore::LastError() const
{
    return m_store ? m_store->LastError() : QString();
}

QStringList ProfileCartStore::TakeNotices()
{
    return m_store ? m_store->TakeNotices() : QStringList();
}

void ProfileCartStore::RefreshCartInfoInRange(const QString& first, const QString& last, bool flag,
                                              QString& text, qint32& number)
{
    Current().RefreshCartInfoInRange(first, last, flag, text, number);
}

void ProfileCartStore::ReadRangeTogether(const QString& first, const QString& last)
{
    if (m_store) {
        m_store->ReadRangeTogether(first, last);
    }
}

void ProfileCartStore::RegisterCallback(IAudioCallback* sink)
{
    if (!sink || m_callbacks.contains(sink)) {
        return;
    }
    m_callbacks.append(sink);
    if (m_store) {
        m_store->RegisterCallback(sink);
    }
}

void ProfileCartStore::UnregisterCallback(IAudioCallback* sink)
{
    m_callbacks.removeAll(sink);
    if (m_store) {
        m_store->UnregisterCallback(sink);
    }
}

QList<CartSummary> ProfileCartStore::ListCarts(qint64 afterNumber, int maxCount) const
{
    return Current().ListCarts(afterNumber, maxCount);
}
