#pragma once

#include "platform/cartstore/Cart.h"
#include "platform/cartstore/CartvaultSettings.h"
#include "platform/cartstore/PlayoutAudio.h"

#include <QStringList>
#include <map>
#include <optional>

// A cart store in memory for the dialogs: carts 1 to Highest, numbered as plain integers,
// recording what the dialogs save and refresh.
class FakeCartStore : public PlayoutAudio
{
public:
    class Settings : public CartvaultSettings
    {
    public:
        qint16 level = 75;
        qint16 NormaliseLevel() const override { return level; }
        bool ShowSettingsDialog(quint32) override { return false; }
        PlayerSetting* GetPlayerSetting(qint32) override { return nullptr; }
    };

    qint32 Highest = 9999;
    std::map<qint32, Cart> Carts;
    QStringList Saved;
    int RefreshCalls = 0;
    QStringList RefreshRanges; // "first-last" of each refresh limited to a range
    Settings StoreSettings;

    std::optional<qint32> Number(const QString& text) const
    {
        bool ok = false;
        const qint32 n = text.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > Highest) {
            return std::nullopt;
        }
        return n;
    }

    using S = const QString&;
    AudioSettingsInterface* AudioSettings() const override { return nullptr; }
    void setAudioSettings(AudioSettingsInterface*) override {}
    CartvaultSettings* GetCartvaultSettings() override { return &StoreSettings; }
    QString BaseFolder() const override { return {}; }
    bool IsValidCart(S cart) const override { return Number(cart).has_value(); }
    bool IsCartInRange(S cart, S first, S last) const override
    {
        const auto c = Number(cart), f = Number(first), l = Number(last);
        return c && f && l && *f <= *c && *c <= *l;
    }
    float GetRangePosition(S cart, S first, S last) const override
    {
        const auto c = Number(cart), f = Number(first), l = Number(last);
        if (!c || !f || !l || *l <= *f) {
            return 100.0f;
        }
        return float(*c - *f) * 100.0f / float(*l - *f);
    }
    QString GetFirstCart(S cart) const override
    {
        if (cart.isEmpty()) {
            return QStringLiteral("1");
        }
        const auto n = Number(cart);
        return n ? QString::number(*n) : QString();
    }
    QString GetNextCart(S cart) const override
    {
        const auto n = Number(cart);
        return n && *n < Highest ? QString::number(*n + 1) : QString();
    }
    QString GetLastCart(qint32) const override { return QString::number(Highest); }
    std::optional<Cart> GetCart(S cart, qint32, bool) override
    {
        const auto n = Number(cart);
        if (!n) {
            return std::nullopt;
        }
        const auto it = Carts.find(*n);
        if (it != Carts.end()) {
            return it->second;
        }
        Cart empty;
        empty.HDReference = QString::number(*n);
        return empty;
    }
    qint32 SaveCart(S cart, Cart& item, qint32, bool, bool, bool&) override
    {
        Saved.append(cart);
        Carts[Number(cart).value_or(0)] = item;
        return 0;
    }
    QString GetCartAudioPath(S, qint32, bool) const override { return {}; }
    bool ImportAudioFile(QObject*, S, S, qint32, qint16, bool&, qint32, qint32, bool&) override
    {
        return false;
    }
    bool ImportTransportFile(QObject*, S, S, qint32, QObject*, qint32, QString&, qint32,
                             bool&) override
    {
        return false;
    }
    bool ExportCart(QObject*, S, S, QObject*, qint32, S, bool, bool) override { return false; }
    bool RemoveCart(S, bool, bool) override { return false; }
    void RefreshCartInfo(bool, QString&, qint32&) override { ++RefreshCalls; }
    void RefreshCartInfoInRange(S first, S last, bool, QString&, qint32&) override
    {
        ++RefreshCalls;
        RefreshRanges << first + QLatin1Char('-') + last;
    }
    void RegisterCallback(IAudioCallback*) override {}
    void UnregisterCallback(IAudioCallback*) override {}
};
