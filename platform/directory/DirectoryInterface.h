#pragma once

#include <QString>
#include <memory>

class DirectoryApplications;
class DirectoryUser;
class QObject;

// The playout system's user directory, as the program calls it. UserDirectory is our
// implementation.
class DirectoryInterface
{
public:
    virtual ~DirectoryInterface() = default;

    // Set in this order before the directory is opened.
    virtual void setDebugLevel(qint32 level) = 0;
    virtual void setProfileName(const QString& name) = 0;
    virtual void setApplicationCode(qint32 code) = 0;
    virtual void setApplicationName(const QString& name) = 0;
    virtual void setModeFlags(qint32 flags) = 0;

    // 0 when the default directory was opened.
    virtual qint16 OpenDefaultDirectory(bool flag) = 0;
    // The list of running applications; owned by the directory.
    virtual DirectoryApplications* Applications() = 0;

    // nullptr when no user has that identifier.
    virtual std::shared_ptr<DirectoryUser> GetUserByGuid(const QString& guid) = 0;
    // 0 when the user is logged in.
    virtual qint32 LoginUser(std::shared_ptr<DirectoryUser>& user, qint32 code,
                             const QString& productName) = 0;
    // Interactive login; 0 when a user logged in.
    virtual qint32 LoginDialog(qint32 arg1, const QString& productName, QObject* object, bool flag,
                               qint32 arg5) = 0;
    // The logged-in user of the open directory; nullptr when there is none.
    virtual std::shared_ptr<DirectoryUser> CurrentUser() = 0;

    // The directory's own settings dialog, modal.
    virtual void ShowSettingsDialog() = 0;

    virtual void BeginShutdown() = 0;
    virtual void CloseDirectory() = 0;
};
