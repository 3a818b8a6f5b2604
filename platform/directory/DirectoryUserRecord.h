#pragma once

#include "platform/directory/DirectoryUser.h"
#include "platform/directory/UserCartRights.h"

#include <QString>

// A user as read from our user directory: a snapshot, rights included.
class DirectoryUserRecord : public DirectoryUser
{
public:
    DirectoryUserRecord(QString guid, QString loginName, QList<CartRange> ranges);

    std::shared_ptr<CartRights> GetCartRights() const override { return m_rights; }
    QString Guid() const { return m_guid; }
    QString LoginName() const { return m_loginName; }

private:
    QString m_guid;
    QString m_loginName;
    std::shared_ptr<UserCartRights> m_rights;
};
