#include "platform/profiles/widgets/ProfileChooserDialog.h"

#include "platform/profiles/ProfileChooser.h"
#include "platform/profiles/ProfileStore.h"
#include "platform/system/MessageBox.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

ProfileChooserDialog::ProfileChooserDialog(const QStringList& offered, QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this)), m_name(new QLineEdit(this))
{
    setWindowTitle(tr("Choose Profile"));
    m_list->setObjectName("lstProfiles");
    m_name->setObjectName("txtProfile");
    m_list->addItems(offered);
    connect(m_list, &QListWidget::currentTextChanged, m_name, &QLineEdit::setText);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    if (!offered.isEmpty()) {
        m_list->setCurrentRow(0);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Profiles:"), this));
    layout->addWidget(m_list);
    layout->addWidget(new QLabel(tr("Profile name (type a new name to create a profile):"), this));
    layout->addWidget(m_name);
    layout->addWidget(buttons);
    m_name->setFocus();
    m_name->selectAll();
}

QString ProfileChooserDialog::ProfileName() const
{
    return m_name->text().trimmed();
}

void ProfileChooserDialog::accept()
{
    if (!ProfileStore::IsValidName(ProfileName())) {
        MessageBox::Show(tr("Enter a profile name. It cannot contain \\, /, [ or ]."),
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        m_name->setFocus();
        return;
    }
    QDialog::accept();
}

void ProfileChooserDialog::Install()
{
    ProfileChooser::SetDialogHook([](const QStringList& offered, QObject* owner) {
        auto* parent = qobject_cast<QWidget*>(owner);
        ProfileChooserDialog dialog(offered, parent ? parent : QApplication::activeWindow());
        return dialog.exec() == QDialog::Accepted ? dialog.ProfileName() : QString();
    });
}
