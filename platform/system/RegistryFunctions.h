#pragma once

#include <QString>

namespace Hive {
constexpr quint32 CurrentUser = 0x80000001;
constexpr quint32 LocalMachine = 0x80000002;
} // namespace Hive

// Utility component: registry values kept in one INI file per hive in the system folder,
// a key path being a section, and INI strings.
class RegistryFunctions
{
public:
    static RegistryFunctions& instance();

    QString ReadString(quint32 hive, const QString& key, const QString& valueName,
                       const QString& defaultValue) const;
    qint32 ReadNumber(quint32 hive, const QString& key, const QString& valueName,
                      qint32 defaultValue) const;
    void WriteString(quint32 hive, const QString& key, const QString& valueName,
                     const QString& data, const QString& defaultValue = QString()) const;
    void DeleteValue(quint32 hive, const QString& key, const QString& valueName) const;
    QString ReadIniString(const QString& section, const QString& key, const QString& defaultValue,
                          const QString& file) const;

    // The hive's file: HKEY_CURRENT_USER.ini or HKEY_LOCAL_MACHINE.ini in the system folder.
    static QString HiveFile(quint32 hive);

private:
    RegistryFunctions() = default;
};
