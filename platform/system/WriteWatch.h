#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

class QSocketNotifier;

// Whether anyone still writes a file, from what the kernel reports of the folders watched
// (inotify): a file written since its folder's watch began is being written until a writer
// closes it, however long that writer pauses. A file of another owner gets no lease, so this is
// the only way to see its writer on a local disk. What a file went through before its folder's
// watch began is not known: a writer may have opened it then and still hold it.
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

    WriteWatch();
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
    };
    struct Folder
    {
        QString path;
        QHash<QString, File> files;
        // Why a file without reports cannot be judged.
        QString unseen;
    };

    bool Start();
    void Read();
    // Empty when watched; otherwise why not.
    QString Add(const QString& folder);
    void AddTree(const QString& folder);
    void Drop(int wd);
    bool InTree(const QString& folder) const;

    int m_fd = -1;
    QString m_startError;
    QSocketNotifier* m_notifier = nullptr;
    QStringList m_roots;
    QHash<int, Folder> m_folders;
    QHash<QString, int> m_watchOf;
    QSet<QString> m_network;
};
