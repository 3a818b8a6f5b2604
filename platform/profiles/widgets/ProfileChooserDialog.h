#pragma once

#include <QDialog>

class QLineEdit;
class QListWidget;

// The profile chooser: the offered profiles (the suggested one first and selected) and a box
// for the name, where a new name may be typed.
class ProfileChooserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ProfileChooserDialog(const QStringList& offered, QWidget* parent = nullptr);

    // Makes ProfileChooser::ChooseProfile show this dialog.
    static void Install();

    // The chosen name, trimmed.
    QString ProfileName() const;
    QListWidget* ProfileList() const { return m_list; }
    QLineEdit* NameEdit() const { return m_name; }

    void accept() override;

private:
    QListWidget* m_list;
    QLineEdit* m_name;
};
