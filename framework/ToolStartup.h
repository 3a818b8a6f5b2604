#pragma once

#include <QString>
#include <functional>
#include <memory>

class AudioSettingsInterface;
class DirectoryInterface;
class PlayoutGeneral;
class ProfileLibrary;
class StartupSplash;

// Bringing the tool up and down: command line, single instance, folders, locale, splash,
// profile, and the playout system's interfaces kept in the globals of ToolGlobals.h.
// The windowed program calls InitialiseTool (framework/widgets/ToolsCommon.h), which shows the
// splash window; this part opens no window itself.
namespace ToolStartup {

// What start-up creates, replaceable for tests.
struct Components
{
    // The process's command line after the program's name.
    std::function<QString()> CommandLine;
    std::function<std::unique_ptr<DirectoryInterface>()> NewDirectoryInterface;
    std::function<std::unique_ptr<AudioSettingsInterface>()> NewAudioSettingsInterface;
    std::function<std::unique_ptr<ProfileLibrary>()> NewProfileLibrary;
    std::function<std::unique_ptr<PlayoutGeneral>()> NewPlayoutGeneral;
    // Loads the splash window (owned by its caller); empty: start-up shows none.
    std::function<StartupSplash*()> LoadSplash;
    std::function<void(double seconds)> Wait;
};

// Our stand-ins, the process's command line and no splash.
Components Defaults();
// The components start-up uses; Defaults() until replaced.
Components& Current();

// The steps of InitialiseTool; see ToolsCommon.h.
bool Initialise(const QString& ToolName, qint32 SecurityMode, bool ShowSplash,
                QString& ForcedProfile, qint32& PlayoutFlags);

// Why a profile name cannot name the profile's folders ("" when it can): empty or blank,
// "." or "..", a "/" or "\", a control character, or longer than a file name may be.
QString ProfileNameProblem(const QString& name);

// The "/PLAYERS" value as a 16-bit number: leading number rounded half to even; 0 without
// digits or outside the 16-bit range.
qint16 PlayersOverride(const QString& value);

} // namespace ToolStartup

// Releases everything start-up created; safe after a failed or partial start-up.
void TerminateTool();
