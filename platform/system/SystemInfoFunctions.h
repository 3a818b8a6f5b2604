#pragma once

#include <QString>

struct OSVersionInfo
{
    qint32 RecordSize = 148;
    qint32 MajorVersion = 0;
    qint32 MinorVersion = 0;
    qint32 BuildNumber = 0;
    qint32 PlatformId = 0; // 3 on Linux
    QString CSDVersion;    // at most 128 characters: the distribution's name here
};

// Utility component: computer name, operating-system version, component checks, system folder.
class SystemInfoFunctions
{
public:
    static SystemInfoFunctions& instance();

    QString ComputerName() const;
    OSVersionInfo GetOSVersion() const;
    // The folder holding the playout system's INI files and the registry hive files.
    QString GetSystemFolder() const;
    // Both always present here: SQLite and Qt are linked in.
    bool IsMDACInstalled(bool flag, const QString& text) const;
    bool IsIE4Installed(bool& flag) const;

private:
    SystemInfoFunctions() = default;
};
