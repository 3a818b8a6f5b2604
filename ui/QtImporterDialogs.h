#pragma once

#include "engine/ImporterDialogs.h"

// The importer's windows: the import-group editor and the importer settings dialog, each
// created for one call and destroyed before it returns.
class QtImporterDialogs : public ImporterDialogs
{
public:
    bool DisplayGroup(cImporter& importer, cImporterGroup& group) override;
    bool DisplayImporter(cImporter& importer) override;

    // Gives the importer the program's windows (one shared instance that lives as long as the
    // process).
    static void Install(cImporter& importer);
};
