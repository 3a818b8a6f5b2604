#pragma once

#include "platform/directory/UserDirectory.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

// The user directory's settings: its users and the cart ranges each may edit. Works on a copy
// and hands it back only when accepted.
class DirectorySettingsDialog : public QDialog
{
    Q_OBJECT

public:
    DirectorySettingsDialog(QList<DirectoryUserEntry> users, QString currentLogin,
                            QWidget* parent = nullptr);

    // Makes UserDirectory::ShowSettingsDialog show this dialog.
    static void Install();

    const QList<DirectoryUserEntry>& Users() const { return m_users; }

    QListWidget* UserList() const { return m_userList; }
    QLineEdit* LoginNameEdit() const { return m_loginName; }
    QPushButton* AddUserButton() const { return m_addUser; }
    QPushButton* RemoveUserButton() const { return m_removeUser; }
    QListWidget* RangeList() const { return m_rangeList; }
    QSpinBox* FirstCartBox() const { return m_first; }
    QSpinBox* LastCartBox() const { return m_last; }
    QPushButton* AddRangeButton() const { return m_addRange; }
    QPushButton* RemoveRangeButton() const { return m_removeRange; }

    void accept() override;

private:
    void FillUsers(int select);
    void FillRanges();
    void UpdateButtons();
    int CurrentUser() const;

    QList<DirectoryUserEntry> m_users;
    QString m_currentLogin;
    QListWidget* m_userList;
    QLineEdit* m_loginName;
    QPushButton* m_addUser;
    QPushButton* m_removeUser;
    QListWidget* m_rangeList;
    QSpinBox* m_first;
    QSpinBox* m_last;
    QPushButton* m_addRange;
    QPushButton* m_removeRange;
};
