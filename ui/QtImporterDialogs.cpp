#include "QtImporterDialogs.h"

#include "engine/cImporter.h"
#include "frmGroupDetails.h"
#include "frmImporterSettings.h"

bool QtImporterDialogs::DisplayGroup(cImporter& importer, cImporterGroup& group)
{
    frmGroupDetails window;
    return window.DisplayGroup(&group, &importer);
}

bool QtImporterDialogs::DisplayImporter(cImporter& importer)
{
    frmImporterSettings window;
    return window.DisplayImporter(&importer);
}

void QtImporterDialogs::Install(cImporter& importer)
{
    static QtImporterDialogs dialogs;
    importer.setDialogs(&dialogs);
}
