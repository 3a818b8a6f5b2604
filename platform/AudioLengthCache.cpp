#include "platform/AudioLengthCache.h"

#include "platform/CartDatabase.h"
#include "platform/CartStore.h"
#include "platform/StoreLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

AudioLengthCache& AudioLengthCache::instance()
{
    static AudioLengthCache cache;
    return cache;
}

AudioLengthCache::~AudioLengthCache() = default;

std::optional<AudioLengthCache::FileKey> AudioLengthCache::KeyOf(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    FileKey key;
    key.size = st.st_size;
    key.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    key.inode = qint64(st.st_ino);
    return key;
}

void AudioLengthCache::SetFolder(const QString& folder)
{
    std::lock_guard lock(m_mutex);
    m_folder = folder;
}

QString AudioLengthCache::Folder() const
{
    std::lock_guard lock(m_mutex);
    return m_folder.isEmpty() ? CartStore::DefaultBaseFolder() : m_folder;
}

CartDatabase* AudioLengthCache::Database()
{
    // Called with the mutex held. The default folder follows the environment, so it is
    // looked up afresh each time.
    const QString folder = m_folder.isEmpty() ? CartStore::DefaultBaseFolder() : m_folder;
    const QString path = QDir(folder).filePath(FileName);
    if (m_db && m_db->Path() == path)
        return m_db.get();
    m_db.reset();
    if (!QDir().mkpath(folder))
        return nullptr;
    auto db = std::make_unique<CartDatabase>(path);
    if (!db->IsOpen() || !db->Exec("CREATE TABLE IF NOT EXISTS audio_lengths ("
                                   " path TEXT PRIMARY KEY,"
                                   " size INTEGER NOT NULL,"
                                   " modified_ns INTEGER NOT NULL,"
                                   " inode INTEGER NOT NULL,"
                                   " duration_ms REAL NOT NULL)")) {
        qCWarning(lcStore) << "length cache unavailable:" << path;
        return nullptr;
    }
    m_db = std::move(db);
    return m_db.get();
}

std::optional<double> AudioLengthCache::Lookup(const QString& path, const FileKey& key)
{
    std::lock_guard lock(m_mutex);
    CartDatabase* db = Database();
    if (!db)
        return std::nullopt;
    CartDatabase::Query q(*db, "SELECT size, modified_ns, inode, duration_ms FROM audio_lengths "
                               "WHERE path = ?");
    q.Bind(1, QFileInfo(path).absoluteFilePath());
    if (!q.Step())
        return std::nullopt;
    if (q.Int(0) != key.size || q.Int(1) != key.modifiedNs || q.Int(2) != key.inode)
        return std::nullopt;
    return q.Real(3);
}

void AudioLengthCache::Store(const QString& path, const FileKey& key, double durationMs)
{
    std::lock_guard lock(m_mutex);
    CartDatabase* db = Database();
    if (!db)
        return;
    CartDatabase::Query q(*db, "INSERT OR REPLACE INTO audio_lengths "
                               "(path, size, modified_ns, inode, duration_ms) "
                               "VALUES (?, ?, ?, ?, ?)");
    q.Bind(1, QFileInfo(path).absoluteFilePath())
        .Bind(2, key.size)
        .Bind(3, key.modifiedNs)
        .Bind(4, key.inode)
        .Bind(5, durationMs);
    q.Run();
}
