#pragma once

class cImporter;
class cImporterGroup;

// The dialogs the importer opens. Each call creates its window, fills it from the object,
// shows it modally, writes back only when accepted and destroys the window before returning.
class ImporterDialogs
{
public:
    virtual ~ImporterDialogs() = default;

    // The import-group editor: true when accepted and the group's fields were written back.
    virtual bool DisplayGroup(cImporter& importer, cImporterGroup& group) = 0;
    // The importer settings dialog: true when accepted and the importer's members written back.
    virtual bool DisplayImporter(cImporter& importer) = 0;
};
