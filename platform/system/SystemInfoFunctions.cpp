#include "platform/system/SystemInfoFunctions.h"

#include "platform/system/PlatformPaths.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <sys/utsname.h>

SystemInfoFunctions& SystemInfoFunctions::instance()
{
    static SystemInfoFunctions functions;
    return functions;
}

QString SystemInfoFunctions::ComputerName() const
{
    return QSysInfo::machineHostName();
}

OSVersionInfo SystemInfoFunctions::GetOSVersion() const
{
    OSVersionInfo info;
    info.PlatformId = 3;
    struct utsname names
    {
    };
    if (::uname(&names) == 0) {
        // "6.1.0-18-amd64": major 6, minor 1, patch level 0 as the build number.
        static const QRegularExpression release(QStringLiteral("^(\\d+)\\.(\\d+)(?:\\.(\\d+))?"));
        const auto match = release.match(QString::fromLocal8Bit(names.release));
        if (match.hasMatch()) {
            info.MajorVersion = match.captured(1).toInt();
            info.MinorVersion = match.captured(2).toInt();
            info.BuildNumber = match.captured(3).toInt();
        }
    }
    info.CSDVersion = QSysInfo::prettyProductName().left(128);
    return info;
}

QString SystemInfoFunctions::GetSystemFolder() const
{
    return PlatformPaths::SystemFolder();
}

bool SystemInfoFunctions::IsMDACInstalled(bool flag, const QString& text) const
{
    return true;
}

bool SystemInfoFunctions::IsIE4Installed(bool& flag) const
{
    return true;
}
