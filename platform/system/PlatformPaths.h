#pragma once

#include <QString>

// The folders the program uses on Linux, from the XDG variables (read afresh on every call so
// that tests can point them at a temporary folder).
namespace PlatformPaths {
QString Home();
QString DataHome();      // $XDG_DATA_HOME or ~/.local/share: common application data
QString ConfigHome();    // $XDG_CONFIG_HOME or ~/.config
QString StateHome();     // $XDG_STATE_HOME or ~/.local/state
QString RuntimeDir();    // $XDG_RUNTIME_DIR, else the temporary folder
QString SystemFolder();  // ConfigHome() + "/Orvane"
QString ProgramFolder(); // the folder of the executable
} // namespace PlatformPaths
