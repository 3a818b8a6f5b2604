#include "platform/cartstore/CartStoreSettings.h"

#include "platform/cartstore/CartDatabase.h"
#include "platform/cartstore/PlayerSetting.h"

namespace {

CartStoreSettings::DialogHook& Hook()
{
    static CartStoreSettings::DialogHook hook;
    return hook;
}

class StorePlayerSetting : public PlayerSetting
{
public:
    explicit StorePlayerSetting(CartStoreSettings& settings) : m_settings(settings) {}
    QString Value() const override { return m_settings.PlayerSettingValue(); }
    void setValue(const QString& value) override { m_settings.setPlayerSettingValue(value); }

private:
    CartStoreSettings& m_settings;
};

} // namespace

CartStoreSettings::CartStoreSettings(std::shared_ptr<CartDatabase> db)
    : m_db(std::move(db)), m_playerSetting(std::make_unique<StorePlayerSetting>(*this))
{}

CartStoreSettings::~CartStoreSettings() = default;

void CartStoreSettings::SetDialogHook(DialogHook hook)
{
    Hook() = std::move(hook);
}

QString CartStoreSettings::Read(const QString& name, const QString& fallback) const
{
    const CartDatabase::ChangeStamp now = m_db->Changes();
    if (!(now == m_readAt) || now == CartDatabase::ChangeStamp()) {
        m_values.clear();
        m_readAt = now;
    }
    if (const auto known = m_values.constFind(name); known != m_values.constEnd()) {
        return known->isNull() ? fallback : *known;
    }
    CartDatabase::Query q(*m_db, "SELECT value FROM settings WHERE name = ?");
    q.Bind(1, name);
    if (q.Step()) {
        // Never null, so that null can stand for a missing setting.
        const QString value = q.Text(0).isNull() ? QStringLiteral("") : q.Text(0);
        m_values.insert(name, value);
        return value;
    }
    if (q.Outcome()) {
        m_values.insert(name, QString());
    }
    return fallback;
}

Result<> CartStoreSettings::Write(const QString& name, const QString& value)
{
    m_values.clear();
    CartDatabase::Query q(*m_db, "INSERT OR REPLACE INTO settings (name, value) VALUES (?, ?)");
    q.Bind(1, name).Bind(2, value);
    return q.Run();
}

qint16 CartStoreSettings::NormaliseLevel() const
{
    bool ok = false;
    const int level = Read("NormaliseLevel", {}).toInt(&ok);
    return ok && level >= 1 && level <= 100 ? qint16(level) : DefaultNormaliseLevel;
}

bool CartStoreSettings::setNormaliseLevel(qint16 level)
{
    return level >= 1 && level <= 100 && Write("NormaliseLevel", QString::number(level)).Ok();
}

qint32 CartStoreSettings::HighestCart() const
{
    // Asked several times for every file of a pass: kept as a number until the database says
    // it changed.
    const CartDatabase::ChangeStamp now = m_db->Changes();
    if (m_highestAt && *m_highestAt == now && !(now == CartDatabase::ChangeStamp())) {
        return m_highest;
    }
    bool ok = false;
    const qint32 highest = Read(QStringLiteral("HighestCart"), {}).toInt(&ok);
    m_highest = ok && highest >= 1 && highest <= MaxHighestCart ? highest : DefaultHighestCart;
    m_highestAt = now;
    return m_highest;
}

bool CartStoreSettings::setHighestCart(qint32 highest)
{
    return highest >= 1 && highest <= MaxHighestCart &&
           Write("HighestCart", QString::number(highest)).Ok();
}

QString CartStoreSettings::PlayerSettingValue() const
{
    return Read("PlayerSetting", {});
}

bool CartStoreSettings::setPlayerSettingValue(const QString& value)
{
    return Write("PlayerSetting", value).Ok();
}

PlayerSetting* CartStoreSettings::GetPlayerSetting(qint32 index)
{
    return index == 0 ? m_playerSetting.get() : nullptr;
}

bool CartStoreSettings::ShowSettingsDialog(quint32 backColour)
{
    const DialogHook hook = Hook();
    return hook ? hook(*this, backColour) : false;
}
