#include "platform/support/widgets/ContactDialog.h"

#include "platform/support/SupportFileGenerator.h"
#include "platform/support/SupportFilePerson.h"
#include "platform/system/MessageBox.h"
#include "platform/system/widgets/VbColours.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

ContactDialog::ContactDialog(const SupportFilePerson& person, QWidget* parent)
    : QDialog(parent), txtName(new QLineEdit(person.Name, this)),
      txtCompany(new QLineEdit(person.Company, this)), txtEmail(new QLineEdit(person.Email, this)),
      txtTelephone(new QLineEdit(person.Telephone, this)),
      txtCustomerID(new QLineEdit(person.CustomerID, this))
{
    setWindowTitle(tr("Personal Details"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    txtName->setObjectName("txtName");
    txtCompany->setObjectName("txtCompany");
    txtEmail->setObjectName("txtEmail");
    txtTelephone->setObjectName("txtTelephone");
    txtCustomerID->setObjectName("txtCustomerID");
    for (QLineEdit* box : {txtName, txtCompany, txtEmail, txtTelephone, txtCustomerID}) {
        box->setMaxLength(200);
        box->setMinimumWidth(260);
    }

    auto* intro = new QLabel(
        tr("Orvane Technical Support uses these details to reply to your Support File."), this);
    intro->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(tr("&Name:"), txtName);
    form->addRow(tr("&Company:"), txtCompany);
    form->addRow(tr("&E-mail:"), txtEmail);
    form->addRow(tr("&Telephone:"), txtTelephone);
    form->addRow(tr("Customer &ID (ORVUID):"), txtCustomerID);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ContactDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ContactDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void ContactDialog::WriteTo(SupportFilePerson& person) const
{
    person.Name = txtName->text().trimmed();
    person.Company = txtCompany->text().trimmed();
    person.Email = txtEmail->text().trimmed();
    person.Telephone = txtTelephone->text().trimmed();
    person.CustomerID = txtCustomerID->text().trimmed();
}

void ContactDialog::accept()
{
    if (!SupportFilePerson::IsValidEmail(txtEmail->text())) {
        MessageBox::Show(tr("You must enter a valid email address"),
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        txtEmail->setFocus();
        txtEmail->selectAll();
        return;
    }
    QDialog::accept();
}

void ContactDialog::Install()
{
    SupportFilePerson::SetEditorHook([](SupportFilePerson& person, bool modal, qint32 backColour) {
        ContactDialog dialog(person, QApplication::activeWindow());
        QPalette palette = dialog.palette();
        palette.setColor(QPalette::Window, VbColours::ToColor(quint32(backColour)));
        dialog.setPalette(palette);
        dialog.setAutoFillBackground(true);
        // The callers always wait for the answer, so the editor is modal either way.
        Q_UNUSED(modal);
        if (dialog.exec() != QDialog::Accepted) {
            return false;
        }
        dialog.WriteTo(person);
        return true;
    });
    SupportFileGenerator::SetSaveLocationHook([](const QString& proposedPath) {
        return QFileDialog::getSaveFileName(QApplication::activeWindow(), tr("Save Support File"),
                                            proposedPath,
                                            tr("Support Files (*.zip);;All Files (*)"));
    });
}
