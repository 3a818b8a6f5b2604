#pragma once

#include <QString>

class QFileDialog;
class QWidget;

// The start folder of the folder picker that is open now, read by its callback.
inline QString BrowseStartPath;

// Folder-picker flags.
namespace BrowseFlags {
constexpr qint32 ReturnOnlyFileSystemFolders = 0x1;
constexpr qint32 EditBox = 0x10;
constexpr qint32 Validate = 0x20;
constexpr qint32 NewDialogStyle = 0x40;
constexpr qint32 Default = NewDialogStyle | EditBox;
} // namespace BrowseFlags

// Messages the picker sends to its callback.
namespace BrowseMessage {
constexpr qint32 Initialized = 1;
constexpr qint32 SelectionChanged = 2;
constexpr qint32 ValidateFailed = 3; // param: the folder typed, which does not exist
} // namespace BrowseMessage

// Answers 0 to go on; to ValidateFailed, 1 keeps the picker open.
using BrowseCallbackProc = qint32 (*)(QFileDialog* dialog, qint32 message, const QString& param);

// Lets the operator choose a folder, starting at startPath (the home folder when empty); a
// typed folder that does not exist is offered for creation when flags hold EditBox (-1: the
// default flags). Returns the folder chosen, "" when cancelled. callback nullptr: the built-in
// BrowseForFolderCallback.
QString BrowseForFolder(QWidget* ownerWindow, const QString& title, const QString& startPath,
                        qint32 flags = -1, BrowseCallbackProc callback = nullptr);

// Initialized: shows BrowseStartPath (or the home folder). ValidateFailed: asks whether the
// typed folder is to be created; 1 (stay open) on No or when it cannot be created, 0 once it
// exists. dialog may be nullptr.
qint32 BrowseForFolderCallback(QFileDialog* dialog, qint32 message, const QString& param);
