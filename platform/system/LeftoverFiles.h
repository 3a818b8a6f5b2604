#pragma once

#include <QRegularExpression>
#include <QString>

// Temporary files that a process writes before renaming them into place carry an flock for as
// long as their writer lives. A file of that kind without the lock was left by a writer that
// died (a crash, a kill, a power cut) and can go at once; one still locked belongs to a live
// writer, in this process or another one on the same store.
namespace LeftoverFiles {

// Takes the writer's lock on the file just created at path. False when a sweep of another
// process removed it in the moment before the lock: the writer makes a new one. A file system
// without locks counts as owned (nothing there can be swept either).
bool Own(int fd, const QString& path);

// Removes the files of the folder whose names match, that this process's account owns and that
// no live writer holds; the number removed. Entries that are links are left alone, and so is what
// they lead to. The folder is the caller's own: one that may have been replaced by a link is to be
// held open (HeldFolder) and passed as such.
int RemoveUnowned(const QString& folder, const QRegularExpression& names);
int RemoveUnowned(int folderFd, const QRegularExpression& names);

// The mode that a new file of this process gets from the umask, for files made by a call that
// ignores it (mkstemp and QTemporaryFile create 0600).
unsigned DefaultFileMode();

} // namespace LeftoverFiles
