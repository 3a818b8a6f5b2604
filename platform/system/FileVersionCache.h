#pragma once

#include <QHash>
#include <QHashFunctions>
#include <QString>
#include <mutex>
#include <optional>

struct stat;

// One version of a file: what any write, replacement or touch of it changes. The change time
// is part of it, so that even a rewrite that restores size and modification time (rsync
// --inplace -t) counts as another version.
struct FileVersionKey
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = -1;
    qint64 changedNs = -1;
    // How many names the file has when looked at: no part of its version.
    quint64 links = 0;
    bool operator==(const FileVersionKey& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }

    // Empty when the path is not a regular file (links are followed).
    static std::optional<FileVersionKey> Of(const QString& path);
    // As Of, but a look handed on (Recent) answers without being used up: for a question asked
    // before the first one that reads the file.
    static std::optional<FileVersionKey> Peek(const QString& path);
    static FileVersionKey FromStat(const struct stat& info);

    // The version without its change time: one content, which the change time does not tell,
    // as it also moves with a rename, a new link or a new owner or mode.
    FileVersionKey Content() const;
    static std::optional<FileVersionKey> ContentOf(const QString& path);

    // A look the caller has just taken at a file before handing it on: the next Of(path) on
    // this thread answers from it instead of looking again. Once only, so that a look after
    // reading the file, to see whether it changed meanwhile, is always a fresh one.
    class Recent
    {
    public:
        Recent(const QString& path, const FileVersionKey& key);
        ~Recent();
        Recent(const Recent&) = delete;
        Recent& operator=(const Recent&) = delete;
    };
};

inline size_t qHash(const FileVersionKey& key, size_t seed = 0) noexcept
{
    return qHashMulti(seed, key.device, key.inode, key.size, key.modifiedNs, key.changedNs);
}

// Values worked out from a file's content, kept in memory for as long as the file stays the same
// version. A version is one content, whatever the name it is reached by. Bounded: when full it
// starts afresh.
template <typename Value> class FileVersionCache
{
public:
    explicit FileVersionCache(qsizetype capacity = 200000) : m_capacity(capacity) {}

    std::optional<Value> Lookup(const FileVersionKey& key) const
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_entries.constFind(key);
        if (found == m_entries.constEnd()) {
            return std::nullopt;
        }
        return *found;
    }

    void Store(const FileVersionKey& key, const Value& value)
    {
        std::lock_guard lock(m_mutex);
        if (m_entries.size() >= m_capacity && !m_entries.contains(key)) {
            m_entries.clear();
        }
        m_entries.insert(key, value);
    }

    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
    }

private:
    qsizetype m_capacity;
    mutable std::mutex m_mutex;
    QHash<FileVersionKey, Value> m_entries;
};
