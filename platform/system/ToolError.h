#pragma once

#include "platform/system/ToolErrors.h"

#include <QString>
#include <stdexcept>

// The one error type raised by components to their callers: a number and a description,
// as a caller that traps it expects to log them.
class ToolError : public std::runtime_error
{
public:
    ToolError(qint32 number, const QString& description)
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(description)
    {}

    qint32 Number() const { return m_number; }
    QString Description() const { return m_description; }

private:
    qint32 m_number;
    QString m_description;
};
