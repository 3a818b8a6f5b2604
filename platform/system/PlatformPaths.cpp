#include "platform/system/PlatformPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
// The XDG rule: an unset, empty or relative value is ignored in favour of the default.
QString xdgFolder(const char* variable, const QString& fallbackBelowHome)
{
    const QString value = QDir::cleanPath(qEnvironmentVariable(variable));
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) {
        return value;
    }
    return QDir::cleanPath(PlatformPaths::Home() + "/" + fallbackBelowHome);
}
} // namespace

namespace PlatformPaths {

QString Home()
{
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home)) {
        return QDir::cleanPath(home);
    }
    return QDir::cleanPath(QDir::homePath());
}

QString DataHome()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

QString ConfigHome()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

QString StateHome()
{
    return xdgFolder("XDG_STATE_HOME", ".local/state");
}

QString RuntimeDir()
{
    const QString value = QDir::cleanPath(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) {
        return value;
    }
    return QDir::cleanPath(QDir::tempPath());
}

QString SystemFolder()
{
    return ConfigHome() + "/Orvane";
}

QString ProgramFolder()
{
    if (QCoreApplication::instance()) {
        return QCoreApplication::applicationDirPath();
    }
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
}

} // namespace PlatformPaths
