#pragma once

#include <QDialog>

class CartStoreSettings;
class QLineEdit;
class QSpinBox;

// The cart store's settings dialog: default normalise level, highest cart number and the
// player setting. Writes back only when accepted.
class CartvaultSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CartvaultSettingsDialog(CartStoreSettings& settings, QWidget* parent = nullptr);

    // Makes CartvaultSettings::ShowSettingsDialog show this dialog.
    static void Install();

    QSpinBox* NormaliseLevelBox() const { return m_normalise; }
    QSpinBox* HighestCartBox() const { return m_highest; }
    QLineEdit* PlayerSettingEdit() const { return m_player; }

    void accept() override;

private:
    CartStoreSettings& m_settings;
    QSpinBox* m_normalise;
    QSpinBox* m_highest;
    QLineEdit* m_player;
};
