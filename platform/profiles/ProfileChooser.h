#pragma once

#include "platform/profiles/ProfileLibrary.h"

#include <QStringList>
#include <functional>

// Our profile chooser: offers the profiles under the registry key, the suggested one first, and
// takes the operator's answer from a dialog that the widgets library installs.
class ProfileChooser : public ProfileLibrary
{
public:
    // Shows the offered names and answers the chosen or typed name, "" when cancelled.
    using DialogHook = std::function<QString(const QStringList& offered, QObject* owner)>;
    static void SetDialogHook(DialogHook hook);

    void setSuggestedProfile(const QString& name) override { m_suggested = name; }
    QString SuggestedProfile() const { return m_suggested; }

    // Without a dialog the answer is "". A name that matches a stored profile apart from case
    // comes back in the stored spelling, since the profile's folders are named after it.
    QString ChooseProfile(const QString& registryKey, QObject* owner) override;

    // The suggested name first (also when it does not exist yet), then the stored profiles.
    static QStringList OfferedProfiles(const QString& registryKey, const QString& suggested);

private:
    QString m_suggested;
};
