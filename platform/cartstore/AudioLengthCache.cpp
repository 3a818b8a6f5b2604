#include "platform/cartstore/AudioLengthCache.h"

#include "platform/cartstore/CartDatabase.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/StoreLog.h"

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
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
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
    // looked up afresh whenever the variables it comes from changed.
    const QByteArray inputs = m_folder.isEmpty() ? qgetenv("XDG_DATA_HOME") + '\0' + qgetenv("HOME")
                                                 : QByteArray("folder\0") + m_folder.toUtf8();
    if (m_db && inputs == m_databaseFor) {
        return m_db.get();
    }
    const QString folder = m_folder.isEmpty() ? CartStore::DefaultBaseFolder() : m_folder;
    const QString path = QDir(folder).filePath(FileName);
    m_databaseFor = inputs;
    if (m_db && m_db->Path() == path) {
        return m_db.get();
    }
    m_db.reset();
    if (!QDir().mkpath(folder)) {
        return nullptr;
    }
    auto db = std::make_unique<CartDatabase>(path);
    if (!db->Opened() || !db->Exec("CREATE TABLE IF NOT EXISTS audio_lengths ("
                                   " path TEXT PRIMARY KEY,"
                                   " size INTEGER NOT NULL,"
                                   " modified_ns INTEGER NOT NULL,"
                                   " inode INTEGER NOT NULL,"
                                   " duration_ms REAL NOT NULL,"
                                   " reason TEXT NOT NULL DEFAULT '')")) {
        qCWarning(lcStore) << "length cache unavailable:" << path;
        return nullptr;
    }
    // Tables of earlier builds kept no reason.
    {
        CartDatabase::Query q(*db, "SELECT COUNT(*) FROM pragma_table_info('audio_lengths')"
                                   " WHERE name = 'reason'");
        if (q.Step() && q.Int(0) == 0 &&
            !db->Exec("ALTER TABLE audio_lengths ADD COLUMN reason TEXT NOT NULL DEFAULT ''")) {
            qCWarning(lcStore) << "length cache unavailable:" << path;
            return nullptr;
        }
    }
    m_db = std::move(db);
    return m_db.get();
}

namespace {

bool SameKey(const AudioLengthCache::FileKey& a, const AudioLengthCache::FileKey& b)
{
    return a.size == b.size && a.modifiedNs == b.modifiedNs && a.inode == b.inode;
}

QString AbsolutePath(const QString& path)
{
    return path.startsWith(u'/') && !path.contains(QLatin1String("/.")) &&
                   !path.contains(QLatin1String("//")) && !path.endsWith(u'/')
               ? path
               : QFileInfo(path).absoluteFilePath();
}

} // namespace

std::optional<double> AudioLengthCache::Lookup(const QString& path, const FileKey& key,
                                               QString* reason)
{
    std::lock_guard lock(m_mutex);
    CartDatabase* db = Database();
    if (!db) {
        return std::nullopt;
    }
    const QString absolute = AbsolutePath(path);
    // A length belongs to one version of the file, whatever the table holds meanwhile.
    if (const auto known = m_known.constFind(absolute);
        known != m_known.constEnd() && known->database == db->Path() && SameKey(known->key, key)) {
        if (reason) {
            *reason = known->reason;
        }
        return known->durationMs;
    }
    CartDatabase::Query q(*db, "SELECT size, modified_ns, inode, duration_ms, reason"
                               " FROM audio_lengths WHERE path = ?");
    q.Bind(1, absolute);
    if (!q.Step()) {
        return std::nullopt;
    }
    if (q.Int(0) != key.size || q.Int(1) != key.modifiedNs || q.Int(2) != key.inode) {
        return std::nullopt;
    }
    Remember(absolute, db->Path(), key, q.Real(3), q.Text(4));
    if (reason) {
        *reason = q.Text(4);
    }
    return q.Real(3);
}

void AudioLengthCache::Remember(const QString& absolute, const QString& database,
                                const FileKey& key, double durationMs, const QString& reason)
{
    if (m_known.size() >= 200000) {
        m_known.clear();
    }
    m_known.insert(absolute, {database, key, durationMs, reason});
}

void AudioLengthCache::Store(const QString& path, const FileKey& key, double durationMs,
                             const QString& reason)
{
    std::lock_guard lock(m_mutex);
    CartDatabase* db = Database();
    if (!db) {
        return;
    }
    CartDatabase::Query q(*db, "INSERT OR REPLACE INTO audio_lengths "
                               "(path, size, modified_ns, inode, duration_ms, reason) "
                               "VALUES (?, ?, ?, ?, ?, ?)");
    const QString absolute = AbsolutePath(path);
    q.Bind(1, absolute)
        .Bind(2, key.size)
        .Bind(3, key.modifiedNs)
        .Bind(4, key.inode)
        .Bind(5, durationMs)
        .Bind(6, reason);
    if (q.Run()) {
        Remember(absolute, db->Path(), key, durationMs, reason);
    }
}
