#include "platform/profiles/ProfileChooser.h"

#include "platform/profiles/ProfileLog.h"
#include "platform/profiles/ProfileStore.h"

namespace {
ProfileChooser::DialogHook& hookSlot()
{
    static ProfileChooser::DialogHook hook;
    return hook;
}
} // namespace

void ProfileChooser::SetDialogHook(DialogHook hook)
{
    hookSlot() = std::move(hook);
}

QStringList ProfileChooser::OfferedProfiles(const QString& registryKey, const QString& suggested)
{
    QStringList offered = ProfileStore::Profiles(registryKey);
    const QString first = suggested.trimmed();
    if (!ProfileStore::IsValidName(first)) {
        return offered;
    }
    QString stored = first;
    for (qsizetype i = 0; i < offered.size(); ++i) {
        if (offered.at(i).compare(first, Qt::CaseInsensitive) == 0) {
            stored = offered.takeAt(i);
            break;
        }
    }
    offered.prepend(stored);
    return offered;
}

QString ProfileChooser::ChooseProfile(const QString& registryKey, QObject* owner)
{
    if (!hookSlot()) {
        return QString();
    }
    const QString answer = hookSlot()(OfferedProfiles(registryKey, m_suggested), owner).trimmed();
    if (answer.isEmpty()) {
        return QString();
    }
    if (!ProfileStore::IsValidName(answer)) {
        qCWarning(lcProfile) << "refused the profile name" << answer;
        return QString();
    }
    return ProfileStore::Find(answer, registryKey).value_or(answer);
}
