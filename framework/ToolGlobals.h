#pragma once

#include <QString>

class DirectoryInterface;
class AudioSettingsInterface;
class PlayoutGeneral;
class PlayoutAudio;
class PlayoutLogging;

// The process-wide globals of the tool framework. Start-up sets them and shut-down releases
// them; everything else only reads them.
namespace Globals {
inline ::DirectoryInterface* DirectoryInterface = nullptr;
inline ::AudioSettingsInterface* AudioSettingsInterface = nullptr;
inline ::PlayoutGeneral* PlayoutGeneral = nullptr;
inline ::PlayoutAudio* PlayoutAudio = nullptr;
inline ::PlayoutLogging* PlayoutLogging = nullptr;
inline QString ProfileName;
inline QString ToolProfileFolder;
inline QString SharedProfileFolder;
// "/SILENT" was given.
inline bool Silent = false;

// Application log state.
inline QString AppLogFolder;
inline qint32 AppLogOptions = 0;
inline qint32 AppLogDate = 0;
inline qint16 AppLogSequence = 0;
inline QString AppLogFile;
} // namespace Globals
