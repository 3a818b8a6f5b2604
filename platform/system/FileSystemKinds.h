#pragma once

// The kinds of file system that the program treats apart, told by statfs's f_type. One table,
// so that every question about them gets the same answer.
class FileSystemKinds
{
public:
    // Another machine may be writing there: a lease says nothing about it, and a folder's times
    // may arrive late.
    static bool IsNetwork(long fileSystemType);
    // A Windows server's share, which keeps the files' real DOS attributes
    // ("user.cifs.dosattrib").
    static bool KeepsDosAttributes(long fileSystemType);
};
