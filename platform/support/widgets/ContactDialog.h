#pragma once

#include <QDialog>

class QLineEdit;
class SupportFilePerson;

// The support file's contact details: name, company, e-mail, telephone and customer identifier.
// OK is refused while the e-mail address is not valid.
class ContactDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ContactDialog(const SupportFilePerson& person, QWidget* parent = nullptr);

    // Makes SupportFilePerson::EditPersonalDetails show this dialog, and
    // SupportFileGenerator::SaveSupportFile ask with a file dialog where to save.
    static void Install();

    // The details as typed, trimmed.
    void WriteTo(SupportFilePerson& person) const;

    QLineEdit* txtName;
    QLineEdit* txtCompany;
    QLineEdit* txtEmail;
    QLineEdit* txtTelephone;
    QLineEdit* txtCustomerID;

    void accept() override;
};
