#pragma once

#include <QString>

class QObject;

// The playout system's profile chooser. ProfileChooser is our implementation.
class ProfileLibrary
{
public:
    virtual ~ProfileLibrary() = default;
    // The name the chooser offers first.
    virtual void setSuggestedProfile(const QString& name) = 0;
    // The profiles are the sub-keys of registryKey (HKEY_CURRENT_USER). The profile the
    // operator chose; "" when none was chosen.
    virtual QString ChooseProfile(const QString& registryKey, QObject* owner) = 0;
};
