#include "platform/profiles/PlayoutProfile.h"

#include "platform/cartstore/CartStore.h"
#include "platform/directory/UserDirectory.h"
#include "platform/profiles/PlayLogs.h"
#include "platform/profiles/ProfileCartStore.h"
#include "platform/profiles/ProfileLog.h"
#include "platform/profiles/ProfileStore.h"
#include "platform/system/RegistryFunctions.h"

#include <QDir>
#include <QFileInfo>

namespace {
PlayoutProfile::FileLocationsHook& fileLocationsHook()
{
    static PlayoutProfile::FileLocationsHook hook;
    return hook;
}

QString cleanFolder(const QString& folder)
{
    return QDir::cleanPath(folder.trimmed());
}
} // namespace

PlayoutProfile::PlayoutProfile()
    : m_audio(std::make_unique<ProfileCartStore>()), m_logging(std::make_unique<PlayLogs>(*m_audio))
{}

PlayoutProfile::~PlayoutProfile() = default;

QString PlayoutProfile::BaseFolderOf(const QString& profileName)
{
    const QString stored =
        cleanFolder(ProfileStore::ReadValue(profileName, ProfileStore::BaseFolderValue, QString()));
    // A relative folder would depend on the working folder of whoever starts the program.
    if (stored.isEmpty() || !QDir::isAbsolutePath(stored)) {
        return CartStore::DefaultBaseFolder();
    }
    return stored;
}

bool PlayoutProfile::SetBaseFolder(const QString& profileName, const QString& folder)
{
    const QString clean = cleanFolder(folder);
    // The same folder again is no new choice: its store stays the one to find there, and the
    // empty mount point of a share that is down is not made into a folder.
    if (!clean.isEmpty() && clean == cleanFolder(BaseFolderOf(profileName))) {
        return true;
    }
    if (clean.isEmpty() || !QDir::isAbsolutePath(clean) || !QDir().mkpath(clean)) {
        qCWarning(lcProfile) << "cannot use" << folder << "as the base folder of" << profileName;
        return false;
    }
    const bool isDefault = clean == cleanFolder(CartStore::DefaultBaseFolder());
    // A folder chosen anew may hold a new store, or another one.
    return ProfileStore::WriteValue(profileName, ProfileStore::BaseFolderValue,
                                    isDefault ? QString() : clean) &&
           ProfileStore::WriteValue(profileName, ProfileStore::StoreIdValue,
                                    ProfileStore::NewStoreId);
}

qint32 PlayoutProfile::OpenProfile(const QString& profileName, qint32 playoutFlags, bool createNew)
{
    if (!ProfileStore::IsValidName(profileName)) {
        qCWarning(lcProfile) << "not a profile name:" << profileName;
        return 0;
    }
    if (!ProfileStore::Find(profileName)) {
        if (!createNew || !ProfileStore::Create(profileName)) {
            return 0;
        }
    }
    const QString stored = ProfileStore::Find(profileName).value_or(profileName);
    const QString base = BaseFolderOf(stored);
    // Once the profile has opened a store, only that store will do: the empty mount point of a
    // share that is not mounted must not become a new one.
    const QString storeId = ProfileStore::ReadValue(stored, ProfileStore::StoreIdValue, QString());
    QString expected = storeId == ProfileStore::NewStoreId ? QString() : storeId;
    // A profile of an earlier build kept no identity; one that had its base folder moved has
    // opened a store there all the same.
    if (storeId.isEmpty() &&
        !ProfileStore::ReadValue(stored, ProfileStore::BaseFolderValue, QString()).isEmpty()) {
        expected = CartStoreOptions::AnyStore;
    }
    if (!m_audio->Open(base, expected)) {
        qCWarning(lcProfile) << "cannot open the cart store of" << stored << "in" << base;
        return 0;
    }
    const QString opened = m_audio->Store()->StoreId();
    if (opened != storeId &&
        !ProfileStore::WriteValue(stored, ProfileStore::StoreIdValue, opened)) {
        qCWarning(lcProfile) << "cannot remember the cart store of" << stored;
    }
    m_profileName = stored;
    return 1;
}

bool PlayoutProfile::Start(QObject* application, qint32 playoutFlags)
{
    return m_audio->IsOpen();
}

PlayoutAudio* PlayoutProfile::Audio()
{
    return m_audio.get();
}

PlayoutLogging* PlayoutProfile::Logging()
{
    return m_logging.get();
}

qint32 PlayoutProfile::ShowFileLocations(qint32 flags, bool flag, quint32 backColour)
{
    if (m_profileName.isEmpty() || !fileLocationsHook()) {
        return 0;
    }
    const FileLocations locations{m_profileName, BaseFolderOf(m_profileName),
                                  CartStore::DefaultBaseFolder(), backColour};
    const QString chosen = fileLocationsHook()(locations);
    if (chosen.trimmed().isEmpty()) {
        return 0;
    }
    return SetBaseFolder(m_profileName, chosen) ? 1 : 0;
}

qint32 PlayoutProfile::ReloadProfile(const QString& profileName, qint32 flags)
{
    return OpenProfile(profileName, flags, false);
}

QString PlayoutProfile::GetComponentText(qint32 componentCode) const
{
    if (componentCode != 1 || m_profileName.isEmpty() || !m_audio->IsOpen()) {
        return QString();
    }
    return QStringLiteral("Cartvault v3 profile '%1', cart store in %2")
        .arg(m_profileName, m_audio->BaseFolder());
}

QStringList PlayoutProfile::GetFileList(qint32 componentCode) const
{
    QStringList candidates;
    if (componentCode == 1) {
        candidates << RegistryFunctions::HiveFile(Hive::CurrentUser)
                   << UserDirectory::DefaultDatabasePath();
    } else if (componentCode == 256 && m_audio->IsOpen()) {
        const QString database = QDir(m_audio->BaseFolder()).filePath(CartStore::DatabaseName);
        // The write-ahead log holds the latest changes until SQLite folds them in.
        candidates << database << database + "-wal";
    }
    QStringList files;
    for (const QString& file : std::as_const(candidates)) {
        if (QFileInfo(file).isFile()) {
            files.append(file);
        }
    }
    return files;
}

void PlayoutProfile::SetFileLocationsHook(FileLocationsHook hook)
{
    fileLocationsHook() = std::move(hook);
}
