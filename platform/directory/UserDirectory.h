#pragma once

#include "platform/cartstore/CartDatabase.h"
#include "platform/directory/DirectoryApplications.h"
#include "platform/directory/DirectoryInterface.h"
#include "platform/directory/UserCartRights.h"
#include "platform/system/Result.h"

#include <QList>
#include <QString>
#include <functional>

class CartDatabase;
class DirectoryUserRecord;

// One user as the settings dialog edits it. An empty Guid marks a user not stored yet.
struct DirectoryUserEntry
{
    QString Guid;
    QString LoginName;
    QList<CartRange> Ranges;
};

// Our user directory: a SQLite database (by default <common application data>/Orvane/Corvella
// v3/directory.db) of users and the cart ranges each may edit, and of the applications that
// run with it. The logged-in user is the operating-system login name, recorded when missing; a
// user with no ranges recorded may edit every cart.
class UserDirectory : public DirectoryInterface
{
public:
    UserDirectory();
    explicit UserDirectory(const QString& databasePath);
    ~UserDirectory() override;

    UserDirectory(const UserDirectory&) = delete;
    UserDirectory& operator=(const UserDirectory&) = delete;

    static QString DefaultDatabasePath();
    static constexpr const char* DatabaseName = "directory.db";
    // The operating-system login name of this process.
    static QString OsLoginName();

    void setDebugLevel(qint32 level) override { m_debugLevel = level; }
    void setProfileName(const QString& name) override { m_profileName = name; }
    void setApplicationCode(qint32 code) override { m_applicationCode = code; }
    void setApplicationName(const QString& name) override { m_applicationName = name; }
    void setModeFlags(qint32 flags) override { m_modeFlags = flags; }

    // Creates the database when missing and logs the operating-system user in; 0 when open.
    qint16 OpenDefaultDirectory(bool flag) override;
    DirectoryApplications* Applications() override;

    std::shared_ptr<DirectoryUser> GetUserByGuid(const QString& guid) override;
    // 0 when the user (one of this directory's) is now logged in; it is recorded again if it
    // was removed meanwhile.
    qint32 LoginUser(std::shared_ptr<DirectoryUser>& user, qint32 code,
                     const QString& productName) override;
    // Logs the operating-system user in; 0 when done.
    qint32 LoginDialog(qint32 arg1, const QString& productName, QObject* object, bool flag,
                       qint32 arg5) override;
    std::shared_ptr<DirectoryUser> CurrentUser() override;

    // Edits users and ranges through the dialog that the widgets library installs; without
    // one, nothing happens.
    void ShowSettingsDialog() override;

    void BeginShutdown() override { m_shuttingDown = true; }
    void CloseDirectory() override;

    // Our own members, for the settings dialog and tests.
    bool IsOpen() const;
    QString DatabasePath() const { return m_databasePath; }
    QList<DirectoryUserEntry> ReadUsers() const;
    // Replaces all users and ranges in one transaction; new entries get an identifier.
    Result<> WriteUsers(const QList<DirectoryUserEntry>& users);
    // The names of the applications registered as running.
    QStringList RunningApplications() const;

    // The message for the first fault of an edited user list, "" when it can be stored.
    static QString Validate(const QList<DirectoryUserEntry>& users, const QString& currentLogin);

    // Edits the list in place; true when accepted.
    using SettingsHook =
        std::function<bool(QList<DirectoryUserEntry>& users, const QString& currentLogin)>;
    static void SetSettingsHook(SettingsHook hook);

private:
    class ApplicationList;
    friend class ApplicationList;

    std::shared_ptr<DirectoryUserRecord> ReadUser(const QString& whereColumn,
                                                  const QString& value) const;
    bool EnsureUser(const QString& loginName, const QString& guid);
    qint32 RegisterApplication(qint32 code, QObject* application);
    qint32 UnregisterApplication(qint32 code, QObject* application);

    QString m_databasePath;
    std::unique_ptr<CartDatabase> m_db;
    // The logged-in user as last read, while the database has not changed since.
    struct CurrentRecord
    {
        const CartDatabase* db = nullptr;
        QString login;
        CartDatabase::ChangeStamp readAt;
        std::shared_ptr<DirectoryUserRecord> record;
    };
    CurrentRecord m_current;
    std::unique_ptr<ApplicationList> m_applications;
    QString m_currentLogin;
    qint32 m_debugLevel = 0;
    QString m_profileName;
    qint32 m_applicationCode = 0;
    QString m_applicationName;
    qint32 m_modeFlags = 0;
    bool m_shuttingDown = false;
};
