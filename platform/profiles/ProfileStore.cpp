#include "platform/profiles/ProfileStore.h"

#include "platform/profiles/ProfileLog.h"
#include "platform/system/IniFile.h"
#include "platform/system/RegistryFunctions.h"

#include <QFile>
#include <QSet>
#include <algorithm>

namespace {
// The section names of an INI file. The INI component reads values only, so the headers are
// scanned here; names only need UTF-8 (the file is written in UTF-8).
QStringList sectionNames(const QString& fileName)
{
    QStringList names;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return names;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!line.startsWith(u'[')) {
            continue;
        }
        const qsizetype close = line.indexOf(u']');
        if (close > 0) {
            names.append(line.mid(1, close - 1).trimmed());
        }
    }
    return names;
}
} // namespace

QString ProfileStore::DefaultKey()
{
    return QStringLiteral("Software\\Orvane\\Corvella v3\\Profiles");
}

QString ProfileStore::KeyOf(const QString& profileName, const QString& registryKey)
{
    return registryKey + u'\\' + profileName;
}

QStringList ProfileStore::Profiles(const QString& registryKey)
{
    const QString prefix = registryKey + u'\\';
    QStringList profiles;
    QSet<QString> seen;
    for (const QString& section : sectionNames(RegistryFunctions::HiveFile(Hive::CurrentUser))) {
        if (!section.startsWith(prefix, Qt::CaseInsensitive)) {
            continue;
        }
        const QString name = section.mid(prefix.size());
        // Deeper keys belong to a profile, they are not profiles themselves.
        if (name.isEmpty() || name.contains(u'\\') || seen.contains(name.toCaseFolded())) {
            continue;
        }
        seen.insert(name.toCaseFolded());
        profiles.append(name);
    }
    std::sort(profiles.begin(), profiles.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    return profiles;
}

std::optional<QString> ProfileStore::Find(const QString& profileName, const QString& registryKey)
{
    for (const QString& name : Profiles(registryKey)) {
        if (name.compare(profileName, Qt::CaseInsensitive) == 0) {
            return name;
        }
    }
    return std::nullopt;
}

bool ProfileStore::Create(const QString& profileName, const QString& registryKey)
{
    if (!IsValidName(profileName)) {
        return false;
    }
    if (Find(profileName, registryKey)) {
        return true;
    }
    // A key needs a value to exist in the file; the name keeps the spelling it was created with.
    if (!IniFile::WriteString(RegistryFunctions::HiveFile(Hive::CurrentUser),
                              KeyOf(profileName, registryKey), NameValue, profileName)) {
        qCWarning(lcProfile) << "cannot create the profile" << profileName << "in"
                             << RegistryFunctions::HiveFile(Hive::CurrentUser);
        return false;
    }
    return true;
}

bool ProfileStore::IsValidName(const QString& profileName)
{
    if (profileName.isEmpty() || profileName != profileName.trimmed() || profileName == "." ||
        profileName == "..") {
        return false;
    }
    for (const QChar c : profileName) {
        if (c == u'\\' || c == u'/' || c == u'[' || c == u']' ||
            c.category() == QChar::Other_Control) {
            return false;
        }
    }
    return true;
}

QString ProfileStore::ReadValue(const QString& profileName, const QString& valueName,
                                const QString& defaultValue)
{
    return IniFile::ReadString(RegistryFunctions::HiveFile(Hive::CurrentUser), KeyOf(profileName),
                               valueName, defaultValue);
}

qint32 ProfileStore::ReadNumber(const QString& profileName, const QString& valueName,
                                qint32 defaultValue)
{
    return IniFile::ReadInt(RegistryFunctions::HiveFile(Hive::CurrentUser), KeyOf(profileName),
                            valueName, defaultValue);
}

bool ProfileStore::WriteValue(const QString& profileName, const QString& valueName,
                              const QString& value)
{
    return IniFile::WriteString(RegistryFunctions::HiveFile(Hive::CurrentUser), KeyOf(profileName),
                                valueName, value);
}
