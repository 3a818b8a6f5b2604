#pragma once

#include <QString>

// The Windows archive attribute of a file, which every creation or write of the file sets.
// On a CIFS/SMB mount it is the server's own DOS attribute. Elsewhere clearing records the
// file's size and modification time (in the extended attribute "user.cartfeeder.archive", or,
// where the file system takes no user extended attributes, in a table in the tool's profile
// folder keyed by the full path), and the attribute counts as set while there is no record or
// the file no longer matches it. A symbolic link has its own record, in the table, holding its
// target's size and time: the target itself is never marked.
class ArchiveAttribute
{
public:
    // Raises ToolError when the file or its attribute cannot be read.
    static bool IsSet(const QString& path);
    // Raises ToolError when the attribute cannot be cleared.
    static void Clear(const QString& path);

    // The table's file in the tool's profile folder.
    static constexpr const char* TableName = "ArchiveAttributes.json";
    static constexpr const char* RecordName = "user.cartfeeder.archive";
    static constexpr const char* CifsAttributeName = "user.cifs.dosattrib";
    static constexpr quint32 ArchiveBit = 0x20;

    // Makes every file behave as on a file system without user extended attributes.
    static void SetExtendedAttributesDisabledForTests(bool disabled);
};
