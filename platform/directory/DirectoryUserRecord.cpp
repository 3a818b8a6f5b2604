#include "platform/directory/DirectoryUserRecord.h"

DirectoryUserRecord::DirectoryUserRecord(QString guid, QString loginName, QList<CartRange> ranges)
    : m_guid(std::move(guid)), m_loginName(std::move(loginName)),
      m_rights(std::make_shared<UserCartRights>(std::move(ranges)))
{}
