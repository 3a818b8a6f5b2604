#include "platform/directory/widgets/DirectorySettingsDialog.h"

#include "platform/system/MessageBox.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

DirectorySettingsDialog::DirectorySettingsDialog(QList<DirectoryUserEntry> users,
                                                 QString currentLogin, QWidget* parent)
    : QDialog(parent), m_users(std::move(users)), m_currentLogin(std::move(currentLogin)),
      m_userList(new QListWidget(this)), m_loginName(new QLineEdit(this)),
      m_addUser(new QPushButton(tr("Add User"), this)),
      m_removeUser(new QPushButton(tr("Remove User"), this)), m_rangeList(new QListWidget(this)),
      m_first(new QSpinBox(this)), m_last(new QSpinBox(this)),
      m_addRange(new QPushButton(tr("Add Range"), this)),
      m_removeRange(new QPushButton(tr("Remove Range"), this))
{
    setWindowTitle(tr("User Directory Settings"));
    m_userList->setObjectName("lstUsers");
    m_loginName->setObjectName("txtLoginName");
    m_rangeList->setObjectName("lstRanges");
    m_first->setObjectName("spnFirstCart");
    m_last->setObjectName("spnLastCart");
    for (QSpinBox* box : {m_first, m_last}) {
        box->setRange(1, std::numeric_limits<int>::max());
    }

    connect(m_userList, &QListWidget::currentRowChanged, this, [this] {
        FillRanges();
        UpdateButtons();
    });
    connect(m_rangeList, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
    connect(m_loginName, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
    connect(m_addUser, &QPushButton::clicked, this, [this] {
        const QString name = m_loginName->text().trimmed();
        for (int i = 0; i < m_users.size(); ++i) {
            if (m_users.at(i).LoginName == name) {
                FillUsers(i);
                return;
            }
        }
        m_users.append({QString(), name, {}});
        m_loginName->clear();
        FillUsers(int(m_users.size()) - 1);
    });
    connect(m_removeUser, &QPushButton::clicked, this, [this] {
        const int row = CurrentUser();
        if (row < 0) {
            return;
        }
        m_users.removeAt(row);
        FillUsers(qMin(row, int(m_users.size()) - 1));
    });
    connect(m_addRange, &QPushButton::clicked, this, [this] {
        const int row = CurrentUser();
        if (row < 0) {
            return;
        }
        if (m_last->value() < m_first->value()) {
            MessageBox::Show(tr("The last cart of a range must not come before its first."),
                             MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
            return;
        }
        m_users[row].Ranges.append({m_first->value(), m_last->value()});
        FillRanges();
        m_rangeList->setCurrentRow(m_rangeList->count() - 1);
    });
    connect(m_removeRange, &QPushButton::clicked, this, [this] {
        const int row = CurrentUser();
        const int range = m_rangeList->currentRow();
        if (row < 0 || range < 0 || range >= m_users.at(row).Ranges.size()) {
            return;
        }
        m_users[row].Ranges.removeAt(range);
        FillRanges();
    });

    auto* userBox = new QGroupBox(tr("Users"), this);
    auto* userLayout = new QVBoxLayout(userBox);
    userLayout->addWidget(m_userList);
    auto* addRow = new QHBoxLayout;
    addRow->addWidget(m_loginName, 1);
    addRow->addWidget(m_addUser);
    userLayout->addLayout(addRow);
    userLayout->addWidget(m_removeUser);

    auto* rangeBox = new QGroupBox(tr("Carts the user may edit"), this);
    auto* rangeLayout = new QGridLayout(rangeBox);
    rangeLayout->addWidget(m_rangeList, 0, 0, 1, 4);
    rangeLayout->addWidget(new QLabel(tr("From:"), rangeBox), 1, 0);
    rangeLayout->addWidget(m_first, 1, 1);
    rangeLayout->addWidget(new QLabel(tr("To:"), rangeBox), 1, 2);
    rangeLayout->addWidget(m_last, 1, 3);
    rangeLayout->addWidget(m_addRange, 2, 0, 1, 2);
    rangeLayout->addWidget(m_removeRange, 2, 2, 1, 2);
    rangeLayout->addWidget(new QLabel(tr("A user without ranges may edit every cart."), rangeBox),
                           3, 0, 1, 4);

    auto* lists = new QHBoxLayout;
    lists->addWidget(userBox);
    lists->addWidget(rangeBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addWidget(buttons);

    int select = 0;
    for (int i = 0; i < m_users.size(); ++i) {
        if (m_users.at(i).LoginName == m_currentLogin) {
            select = i;
        }
    }
    FillUsers(m_users.isEmpty() ? -1 : select);
}

int DirectorySettingsDialog::CurrentUser() const
{
    const int row = m_userList->currentRow();
    return row >= 0 && row < m_users.size() ? row : -1;
}

void DirectorySettingsDialog::FillUsers(int select)
{
    m_userList->clear();
    for (const DirectoryUserEntry& user : std::as_const(m_users)) {
        m_userList->addItem(user.LoginName);
    }
    m_userList->setCurrentRow(select);
    FillRanges();
    UpdateButtons();
}

void DirectorySettingsDialog::FillRanges()
{
    m_rangeList->clear();
    const int row = CurrentUser();
    if (row < 0) {
        return;
    }
    for (const CartRange& range : m_users.at(row).Ranges) {
        m_rangeList->addItem(QStringLiteral("%1 - %2").arg(range.First).arg(range.Last));
    }
}

void DirectorySettingsDialog::UpdateButtons()
{
    const int row = CurrentUser();
    m_addUser->setEnabled(!m_loginName->text().trimmed().isEmpty());
    m_removeUser->setEnabled(row >= 0 && m_users.at(row).LoginName != m_currentLogin);
    m_addRange->setEnabled(row >= 0);
    m_removeRange->setEnabled(row >= 0 && m_rangeList->currentRow() >= 0);
}

void DirectorySettingsDialog::accept()
{
    const QString problem = UserDirectory::Validate(m_users, m_currentLogin);
    if (!problem.isEmpty()) {
        MessageBox::Show(problem, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        return;
    }
    QDialog::accept();
}

void DirectorySettingsDialog::Install()
{
    UserDirectory::SetSettingsHook([](QList<DirectoryUserEntry>& users, const QString& login) {
        DirectorySettingsDialog dialog(users, login, QApplication::activeWindow());
        if (dialog.exec() != QDialog::Accepted) {
            return false;
        }
        users = dialog.Users();
        return true;
    });
}
