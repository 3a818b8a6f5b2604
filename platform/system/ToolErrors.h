#pragma once

#include <QtGlobal>

// The numbers ToolError carries. The low ones are Visual Basic's run-time error numbers, which
// callers log and compare as the original program's did; the others are the components' own.
namespace ToolErrors {
enum Number : qint32
{
    InvalidProcedureCall = 5,
    Overflow = 6,
    SubscriptOutOfRange = 9,
    TypeMismatch = 13,
    FileNotFound = 53,
    DeviceIOError = 57,
    PathFileAccessError = 75,
    ObjectNotSet = 91,
    BadFileFormat = 321,
    RegistryWriteFailed = 1013,
    DirectoryReadFailed = 1014,
    NoProfileOpen = 1016,
    DatabaseFailed = 3146
};
} // namespace ToolErrors
