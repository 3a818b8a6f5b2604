#include "platform/cartstore/widgets/CartvaultSettingsDialog.h"

#include "platform/cartstore/CartStoreSettings.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

CartvaultSettingsDialog::CartvaultSettingsDialog(CartStoreSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_normalise(new QSpinBox(this)),
      m_highest(new QSpinBox(this)), m_player(new QLineEdit(this))
{
    setWindowTitle(tr("Cartvault Settings"));
    m_normalise->setRange(1, 100);
    m_normalise->setSuffix(" %");
    m_normalise->setValue(settings.NormaliseLevel());
    m_highest->setRange(1, CartStoreSettings::MaxHighestCart);
    m_highest->setValue(settings.HighestCart());
    m_player->setText(settings.PlayerSettingValue());

    auto* form = new QFormLayout;
    form->addRow(tr("Default normalise level:"), m_normalise);
    form->addRow(tr("Highest cart number:"), m_highest);
    form->addRow(tr("Player setting:"), m_player);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CartvaultSettingsDialog::accept()
{
    m_settings.setNormaliseLevel(qint16(m_normalise->value()));
    m_settings.setHighestCart(m_highest->value());
    m_settings.setPlayerSettingValue(m_player->text());
    QDialog::accept();
}

void CartvaultSettingsDialog::Install()
{
    CartStoreSettings::SetDialogHook([](CartStoreSettings& settings, quint32) {
        CartvaultSettingsDialog dialog(settings, QApplication::activeWindow());
        return dialog.exec() == QDialog::Accepted;
    });
}
