#include "ui/QtImporterDialogs.h"

#include "engine/cImporter.h"
#include "ui/frmGroupDetails.h"
#include "ui/frmImporterSettings.h"

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
