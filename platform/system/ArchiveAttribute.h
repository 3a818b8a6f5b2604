#pragma once

#include "platform/system/FileVersionCache.h"

#include <QString>
#include <optional>

// The Windows archive attribute of a file, which every creation or write of the file sets.
// On a CIFS/SMB mount it is the server's own DOS attribute. Elsewhere clearing records the
// file's size and modification time (in the extended attribute "user.cartfeeder.archive", or,
// where the file system takes no user extended attributes, in a table in the folder the caller
// names, the tool's profile folder, keyed by the full path), and the attribute counts as set while
// there is no record or the file no longer matches it. A symbolic link has its own record, in the
// table, holding its target's size and time: the target itself is never marked.
class ArchiveAttribute
{
public:
    struct Options
    {
        // The folder of the table; without one a file that takes no record cannot be cleared.
        QString tableFolder;
        // Off behaves as on a file system without user extended attributes.
        bool extendedAttributes = true;
        // When set, the file is reached by this path instead (through a folder held open);
        // the path still names it in the table and in messages.
        QString reachedAs = {};
        // The caller's look at the name just taken, when it found a regular file (no link):
        // spares looking again.
        std::optional<FileVersionKey> seen = std::nullopt;
    };

    // Raises ToolError when the file or its attribute cannot be read.
    static bool IsSet(const QString& path, const Options& options);
    // Raises ToolError when the attribute cannot be cleared.
    static void Clear(const QString& path, const Options& options);

    // The table's file in its folder.
    static constexpr const char* TableName = "ArchiveAttributes.json";
    static constexpr const char* RecordName = "user.cartfeeder.archive";
    static constexpr const char* CifsAttributeName = "user.cifs.dosattrib";
    static constexpr quint32 ArchiveBit = 0x20;
};
