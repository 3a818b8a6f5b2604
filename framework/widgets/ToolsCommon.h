#pragma once

#include "framework/ToolStartup.h"

#include <QString>

// Brings the tool up: command line, single instance, folders, locale, the splash window
// (unless "/SILENT" or ShowSplash is false), profile, user directory (SecurityMode not 0),
// audio settings and playout interfaces (PlayoutFlags not 0). True when every step completed;
// the globals stay as far as they were filled either way, and the splash stays loaded for the
// caller to unload (frmSplash::Unload). TerminateTool (ToolStartup.h) releases everything.
bool InitialiseTool(const QString& ToolName, qint32 SecurityMode, bool ShowSplash,
                    QString& ForcedProfile, qint32& PlayoutFlags);
