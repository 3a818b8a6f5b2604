#include "framework/widgets/ToolsCommon.h"

#include "framework/widgets/frmSplash.h"

bool InitialiseTool(const QString& ToolName, qint32 SecurityMode, bool ShowSplash,
                    QString& ForcedProfile, qint32& PlayoutFlags)
{
    ToolStartup::Components& components = ToolStartup::Current();
    if (!components.LoadSplash) {
        components.LoadSplash = []() -> StartupSplash* { return frmSplash::Load(); };
    }
    return ToolStartup::Initialise(ToolName, SecurityMode, ShowSplash, ForcedProfile, PlayoutFlags);
}
