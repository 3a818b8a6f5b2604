#pragma once

#include "platform/cartstore/CartDatabase.h"
#include "platform/cartstore/CartvaultSettings.h"

#include <QHash>
#include <functional>
#include <memory>
#include <optional>

// The cart store's global settings, kept in the store's own database: the default normalise
// level, the highest cart number and the shared player setting.
class CartStoreSettings : public CartvaultSettings
{
public:
    explicit CartStoreSettings(std::shared_ptr<CartDatabase> db);
    ~CartStoreSettings() override;

    static constexpr qint16 DefaultNormaliseLevel = 90;
    static constexpr qint32 DefaultHighestCart = 99999;
    static constexpr qint32 MaxHighestCart = 99999999;

    qint16 NormaliseLevel() const override;
    // Without an installed dialog (the widgets library installs it) nothing is shown: false.
    bool ShowSettingsDialog(quint32 backColour) override;
    // Index 0 only; nullptr otherwise.
    PlayerSetting* GetPlayerSetting(qint32 index) override;

    // 1..100; false for other values or when the database refuses.
    bool setNormaliseLevel(qint16 level);
    qint32 HighestCart() const;
    // 1..MaxHighestCart.
    bool setHighestCart(qint32 highest);
    QString PlayerSettingValue() const;
    bool setPlayerSettingValue(const QString& value);

    using DialogHook = std::function<bool(CartStoreSettings& settings, quint32 backColour)>;
    static void SetDialogHook(DialogHook hook);

private:
    QString Read(const QString& name, const QString& fallback) const;
    Result<> Write(const QString& name, const QString& value);

    std::shared_ptr<CartDatabase> m_db;
    std::unique_ptr<PlayerSetting> m_playerSetting;
    // Values read since the database last changed (another process's commit included).
    mutable CartDatabase::ChangeStamp m_readAt;
    mutable QHash<QString, QString> m_values;
    mutable std::optional<CartDatabase::ChangeStamp> m_highestAt;
    mutable qint32 m_highest = 0;
};
