#pragma once

#include "platform/system/Result.h"

#include <QString>
#include <memory>

// A folder held open (as a place, O_PATH), reached from a watched folder down one folder at a time
// without following a link, so that removing, moving, copying or marking a file in it acts on the
// folder that was listed: a folder renamed meanwhile and replaced by a link to somewhere else
// cannot carry the act outside the watched folder. Copies share the one open folder.
class HeldFolder
{
public:
    // The folder that holds `file`, reached from `root` (opened as named, links and all). A
    // file outside root is reached through its own folder. Fails, saying why, when a folder on
    // the way is now a link, is gone or is no folder.
    static Result<HeldFolder> Holding(const QString& root, const QString& file);

    // The folder `name` inside this one, made with one mkdir when missing. Fails, saying why,
    // when it cannot be made, or is a link or anything but a folder.
    Result<HeldFolder> Subfolder(const QString& name) const;

    // What Remove may take.
    enum class Removing
    {
        AnyEntry,
        // A regular file or a link to one: nothing there, or anything else, is left alone and
        // counts as done.
        FileIfAny,
    };
    // Removes the entry `name` (a link itself, not what it leads to). Fails, saying why.
    Result<> Remove(const QString& name, Removing what = Removing::AnyEntry) const;

    int Fd() const;
    // The folder as it was named.
    const QString& Path() const { return m_path; }
    // The entry `name` as it was named, for log lines.
    QString PathOf(const QString& name) const { return m_path + QLatin1Char('/') + name; }
    // A path that reaches the entry through the held folder, for calls that only take paths;
    // good while this folder (or a copy of it) lives.
    QString Reach(const QString& name) const;

private:
    class Descriptor;
    HeldFolder(std::shared_ptr<Descriptor> fd, QString path);

    std::shared_ptr<Descriptor> m_fd;
    QString m_path;
};
