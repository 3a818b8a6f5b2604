#include "platform/system/RegistryFunctions.h"

#include "platform/system/IniFile.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ToolError.h"

RegistryFunctions& RegistryFunctions::instance()
{
    static RegistryFunctions functions;
    return functions;
}

QString RegistryFunctions::HiveFile(quint32 hive)
{
    switch (hive) {
    case Hive::CurrentUser:
        return PlatformPaths::SystemFolder() + "/HKEY_CURRENT_USER.ini";
    case Hive::LocalMachine:
        return PlatformPaths::SystemFolder() + "/HKEY_LOCAL_MACHINE.ini";
    default:
        throw ToolError(
            ToolErrors::InvalidProcedureCall,
            QStringLiteral("Unknown registry hive &H%1").arg(QString::number(hive, 16).toUpper()));
    }
}

QString RegistryFunctions::ReadString(quint32 hive, const QString& key, const QString& valueName,
                                      const QString& defaultValue) const
{
    return IniFile::ReadString(HiveFile(hive), key, valueName, defaultValue);
}

qint32 RegistryFunctions::ReadNumber(quint32 hive, const QString& key, const QString& valueName,
                                     qint32 defaultValue) const
{
    return IniFile::ReadInt(HiveFile(hive), key, valueName, defaultValue);
}

void RegistryFunctions::WriteString(quint32 hive, const QString& key, const QString& valueName,
                                    const QString& data, const QString& defaultValue) const
{
    const QString file = HiveFile(hive);
    // A null text would delete the value; the registry stores an empty string instead.
    const QString stored = data.isNull() ? QStringLiteral("") : data;
    if (valueName.isNull() || !IniFile::WriteString(file, key, valueName, stored)) {
        throw ToolError(
            ToolErrors::RegistryWriteFailed,
            QStringLiteral("Could not write the registry value \"%1\" under \"%2\" in %3")
                .arg(valueName, key, file));
    }
}

void RegistryFunctions::DeleteValue(quint32 hive, const QString& key,
                                    const QString& valueName) const
{
    const QString file = HiveFile(hive);
    if (valueName.isNull() || !IniFile::WriteString(file, key, valueName, QString())) {
        throw ToolError(
            ToolErrors::RegistryWriteFailed,
            QStringLiteral("Could not delete the registry value \"%1\" under \"%2\" in %3")
                .arg(valueName, key, file));
    }
}

QString RegistryFunctions::ReadIniString(const QString& section, const QString& key,
                                         const QString& defaultValue, const QString& file) const
{
    return IniFile::ReadString(file, section, key, defaultValue);
}
