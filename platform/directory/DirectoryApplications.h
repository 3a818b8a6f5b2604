#pragma once

#include <QtGlobal>

class QObject;

// The directory's list of running applications.
class DirectoryApplications
{
public:
    virtual ~DirectoryApplications() = default;
    // 0 when done; callers ignore the result.
    virtual qint32 Register(qint32 code, QObject* application) = 0;
    virtual qint32 Unregister(qint32 code, QObject* application) = 0;
};
