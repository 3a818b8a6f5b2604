// Stand-ins until cImporterCheckFile.cpp and cImporterFolders.cpp replace them.
#include "cImporter.h"

#include "framework/DebugLog.h"

bool cImporter::CheckFileAgainstHD(qint16& GroupIndex, qint32 ParentHWND, QString FileName,
                                   QString HDReference)
{
    AddToDebugLog("CheckFileAgainstHD: not available", 1, ovNone);
    return false;
}

bool cImporter::MoveToFailedFolder(qint16& GroupIndex, QString& FileName)
{
    AddToDebugLog("MoveToFailedFolder: not available", 1, ovNone);
    return false;
}

bool cImporter::TakeSnapshot(qint16& GroupIndex, QString FileName)
{
    AddToDebugLog("TakeSnapshot: not available", 1, ovNone);
    return false;
}
