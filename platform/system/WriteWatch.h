#pragma once

#include "platform/system/Clocks.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class QSocketNotifier;

// Whether anyone still writes a file, from what the kernel reports of the folders watched
// (inotify): a file written since its folder's watch began is being written until a writer
// closes it, however long that writer pauses. A file of another owner gets no lease, so this is
// the only way to see its writer on a local disk. What a file went through before its folder's
// watch began is not known: a writer may have opened it then and still hold it, as may the writer
// of a file moved in from a folder that was not watched.
//
// A watch stays on its folder whatever its name: a folder renamed or moved within the watched
// trees keeps what is known of its files under its new path, and one moved out keeps it for an
// hour, in case it comes back.
//
// The reports are read when a question is asked and, where an event loop runs, as they come,
// so that a busy folder does not overflow the kernel's queue between two checks.
class WriteWatch
{
public:
    enum class State
    {
        // Not in a watched tree.
        NotWatched,
        // In a watched tree, but the watch cannot tell; Answer::why says why.
        Unknown,
        Writing,
        NotWriting,
    };
    struct Answer
    {
        State state = State::NotWatched;
        QString folder;
        QString why;
    };

    // inotify_add_watch, or a stand-in.
    using AddWatch = std::function<int(int fd, const char* path, uint32_t mask)>;

    explicit WriteWatch(Clocks clocks = {}, AddWatch addWatch = {});
    ~WriteWatch();
    WriteWatch(const WriteWatch&) = delete;
    WriteWatch& operator=(const WriteWatch&) = delete;

    // Watches the folder and the folders below it, those made later too. Cheap once watched.
    void WatchTree(const QString& folder);
    // size: the file's size now; a file made since the watch began and still empty is taken as
    // being written.
    Answer Judge(const QString& path, qint64 size);

private:
    enum class File
    {
        Created,
        Writing,
        Closed,
        // Moved in from a folder that was not watched: its writer is unknown.
        MovedIn,
    };
    struct Folder
    {
        QString path;
        quint64 device = 0;
        quint64 inode = 0;
        QHash<QString, File> files;
        // Why a file without reports cannot be judged.
        QString unseen;
        // Steady clock: since when the folder has had no path in the watched trees; 0 while it
        // has one.
        qint64 awaySinceNs = 0;
    };
    // A folder that could not be watched for lack of watches.
    struct Refused
    {
        QString why;
        qint64 atNs = 0;
        quint64 givenUp = 0;
    };
    struct Added
    {
        int wd = -1;
        QString why;
    };

    bool Start();
    void Read();
    Added Add(const QString& folder);
    void AddTree(const QString& folder);
    // The watch of the folder at this path, if it is still that folder.
    bool Watched(const QString& folder) const;
    void Rename(const QString& from, const QString& to);
    // The folder and those below it have left the watched trees, for now.
    void Away(const QString& folder);
    void Unname(const QString& name);
    void Drop(int wd);
    void DropLongAway();
    bool InTree(const QString& folder) const;

    Clocks m_clocks;
    AddWatch m_addWatch;
    int m_fd = -1;
    QString m_startError;
    QSocketNotifier* m_notifier = nullptr;
    QStringList m_roots;
    QHash<int, Folder> m_folders;
    QHash<QString, int> m_watchOf;
    QSet<QString> m_network;
    QHash<QString, Refused> m_refused;
    // Watches given up so far: a refused folder may find room after one.
    quint64 m_givenUp = 0;
    int m_away = 0;
};
