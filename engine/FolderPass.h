#pragma once

#include "platform/system/FileVersionCache.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>

class FileInUse;
class PlayoutAudio;
class cImporter;
class cImporterGroup;
struct FolderTreeFiles;

// The walk over the files found in an import group's folder: which are offered to the import
// engine, in which order, and what happens to a source file afterwards. The window drives it
// and lends it the offer, the status line and its turn between files.
class FolderPass
{
public:
    struct Hooks
    {
        // Before each file: false once the pass must stop (a close is pending).
        std::function<bool()> mayGoOn;
        std::function<void(const QString& text)> showStatus;
        // Offers the file to the engine: whether the cart took it. Errors that end the pass (the
        // store is not there) are thrown.
        std::function<bool(int index, const QString& path, const QString& cart)> offer;
        // After an offer, which may yield: whether the group at the index is still the one
        // walked.
        std::function<bool(int index, cImporterGroup*& group)> stillTheGroup;
    };

    FolderPass(FileInUse& fileInUse, Hooks hooks);

    // Walks the files found below the folder of group index (the tree's order); resolved: that
    // folder with its links resolved, empty when it cannot be. False when the pass must end (a
    // close is pending, or the groups changed under it).
    bool Walk(cImporter& importer, PlayoutAudio& store, int index, cImporterGroup* group,
              const FolderTreeFiles& found, const QString& resolved);

    // The engine's own subfolders ("Failed!", "Snapshots!"), at any depth.
    static bool InEngineFolder(QStringView folder);

private:
    // The in-use test's word on folders where writers cannot be seen.
    void TellUnseenWriters(cImporter& importer, int index);

    FileInUse& m_fileInUse;
    Hooks m_hooks;
    // Per group, the files that the last pass left for a later file of their cart, each with the
    // version told: told again only when it changes.
    QHash<int, QHash<QString, FileVersionKey>> m_passedOverTold;
};
