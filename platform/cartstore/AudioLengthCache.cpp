#include "platform/cartstore/AudioLengthCache.h"

#include "platform/cartstore/CartDatabase.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/StoreLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <utility>

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
    m_forgetAfter = 0;
    if (!QDir().mkpath(folder)) {
        Unavailable(path, QStringLiteral("its folder cannot be created"));
        return nullptr;
    }
    auto db = std::make_unique<CartDatabase>(path);
    Result<> ready = db->Opened();
    if (ready) {
        ready = db->Exec("CREATE TABLE IF NOT EXISTS audio_lengths ("
                         " path TEXT PRIMARY KEY,"
                         " size INTEGER NOT NULL,"
                         " modified_ns INTEGER NOT NULL,"
                         " inode INTEGER NOT NULL,"
                         " duration_ms REAL NOT NULL,"
                         " reason TEXT NOT NULL DEFAULT '',"
                         " told INTEGER NOT NULL DEFAULT 0)");
    }
    if (!ready) {
        Unavailable(path, ready.Reason());
        return nullptr;
    }
    // Tables of earlier builds kept no reason, or did not keep whether it was told.
    for (const auto& [name, definition] : {std::pair{"reason", "reason TEXT NOT NULL DEFAULT ''"},
                                           std::pair{"told", "told INTEGER NOT NULL DEFAULT 0"}}) {
        bool missing = false;
        {
            CartDatabase::Query q(*db, "SELECT COUNT(*) FROM pragma_table_info('audio_lengths')"
                                       " WHERE name = ?");
            q.Bind(1, QString::fromLatin1(name));
            missing = q.Step() && q.Int(0) == 0;
        }
        if (missing) {
            if (const Result<> added =
                    db->Exec(QStringLiteral("ALTER TABLE audio_lengths ADD COLUMN ") +
                             QLatin1String(definition));
                !added) {
                Unavailable(path, added.Reason());
                return nullptr;
            }
        }
    }
    m_db = std::move(db);
    return m_db.get();
}

void AudioLengthCache::Unavailable(const QString& path, const QString& reason)
{
    qCWarning(lcStore).noquote() << "length cache unavailable:" << path << reason;
    const QString notice = QStringLiteral("The length cache '%1' cannot be used (%2); lengths and "
                                          "files that hold no audio are remembered only until the "
                                          "program ends")
                               .arg(path, reason);
    // Opened again at every use: said once however often it fails.
    if (!m_unavailableTold.contains(notice)) {
        m_unavailableTold.insert(notice);
        m_notices.append(notice);
    }
}

QStringList AudioLengthCache::TakeNotices()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_notices, {});
}

namespace {

// A value the table may hold and still be trusted: a length, or the mark of a file without
// audio. Anything else is a damaged row, measured again.
bool UsableValue(double durationMs)
{
    return std::isfinite(durationMs) &&
           (durationMs >= 0 || durationMs == AudioLengthCache::Unmeasurable);
}

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
    const QString absolute = AbsolutePath(path);
    // A length belongs to one version of the file, whatever the table holds meanwhile. Without
    // the table, what this run measured is all there is.
    if (const auto known = m_known.constFind(absolute);
        known != m_known.constEnd() && known->database == (db ? db->Path() : QString()) &&
        SameKey(known->key, key)) {
        if (reason) {
            *reason = known->reason;
        }
        return known->durationMs;
    }
    if (!db) {
        return std::nullopt;
    }
    CartDatabase::Query q(*db, "SELECT size, modified_ns, inode, duration_ms, reason"
                               " FROM audio_lengths WHERE path = ?");
    q.Bind(1, absolute);
    if (!q.Step()) {
        return std::nullopt;
    }
    if (q.Int(0) != key.size || q.Int(1) != key.modifiedNs || q.Int(2) != key.inode ||
        !UsableValue(q.Real(3))) {
        return std::nullopt;
    }
    Remember(absolute, db->Path(), key, q.Real(3), q.Text(4));
    if (reason) {
        *reason = q.Text(4);
    }
    return q.Real(3);
}

std::optional<QString> AudioLengthCache::UnmeasurableReason(const QString& path, const FileKey& key)
{
    QString reason;
    const std::optional<double> known = Lookup(path, key, &reason);
    if (!known || *known >= 0) {
        return std::nullopt;
    }
    return reason.isEmpty() ? QStringLiteral("it held no audio when it was examined") : reason;
}

// Asked of the table itself, once per run and version of a file that holds no audio.
bool AudioLengthCache::UnmeasurableTold(const QString& path, const FileKey& key)
{
    std::lock_guard lock(m_mutex);
    CartDatabase* db = Database();
    const QString database = db ? db->Path() : QString();
    if (const auto known = m_known.constFind(AbsolutePath(path));
        known != m_known.constEnd() && known->database == database && SameKey(known->key, key) &&
        known->told) {
        return true;
    }
    if (!db) {
        return false;
    }
    CartDatabase::Query q(*db, "SELECT told FROM audio_lengths WHERE path = ? AND size = ?"
                               " AND modified_ns = ? AND inode = ? AND duration_ms < 0");
    q.Bind(1, AbsolutePath(path)).Bind(2, key.size).Bind(3, key.modifiedNs).Bind(4, key.inode);
    return q.Step() && q.Int(0) != 0;
}

void AudioLengthCache::MarkUnmeasurableTold(const QString& path, const FileKey& key)
{
    std::lock_guard lock(m_mutex);
    CartDatabase* db = Database();
    // Kept for the run too, so that a table that cannot be written does not tell it again.
    if (const auto known = m_known.find(AbsolutePath(path));
        known != m_known.end() && known->database == (db ? db->Path() : QString()) &&
        SameKey(known->key, key) && known->durationMs < 0) {
        known->told = true;
    }
    if (!db) {
        return;
    }
    CartDatabase::Query q(*db, "UPDATE audio_lengths SET told = 1 WHERE path = ? AND size = ?"
                               " AND modified_ns = ? AND inode = ? AND duration_ms < 0");
    q.Bind(1, AbsolutePath(path)).Bind(2, key.size).Bind(3, key.modifiedNs).Bind(4, key.inode);
    if (!q.Run()) {
        qCWarning(lcStore) << "length cache: cannot note that" << path << "was reported";
    }
}

void AudioLengthCache::Remember(const QString& absolute, const QString& database,
                                const FileKey& key, double durationMs, const QString& reason)
{
    if (m_known.size() >= 200000) {
        m_known.clear();
    }
    m_known.insert(absolute, {database, key, durationMs, reason, false});
}

void AudioLengthCache::Store(const QString& path, const FileKey& key, double durationMs,
                             const QString& reason)
{
    if (!UsableValue(durationMs)) {
        return;
    }
    std::lock_guard lock(m_mutex);
    CartDatabase* db = Database();
    if (!db) {
        Remember(AbsolutePath(path), QString(), key, durationMs, reason);
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
    // A row that cannot be written (the cache's disk full or read-only) still holds for this
    // run: otherwise every check would decode the same files again.
    if (const Result<> written = q.Run(); !written) {
        qCDebug(lcStore).noquote() << "length not kept on disk:" << written.Reason();
    }
    Remember(absolute, db->Path(), key, durationMs, reason);
}

qint32 AudioLengthCache::ForgetGone(qint32 maxRows)
{
    std::lock_guard lock(m_mutex);
    CartDatabase* db = Database();
    if (!db || maxRows <= 0) {
        return 0;
    }
    QList<QPair<qint64, QString>> rows;
    {
        CartDatabase::Query q(*db, "SELECT rowid, path FROM audio_lengths WHERE rowid > ?"
                                   " ORDER BY rowid LIMIT ?");
        q.Bind(1, m_forgetAfter).Bind(2, maxRows);
        while (q.Step()) {
            rows.append({q.Int(0), q.Text(1)});
        }
        if (!q.Outcome()) {
            return 0;
        }
    }
    // The next call goes on behind these rows, and starts again once all were seen.
    m_forgetAfter = rows.size() < maxRows ? 0 : rows.last().first;
    QList<QPair<qint64, QString>> gone;
    for (const auto& row : std::as_const(rows)) {
        struct stat st
        {
        };
        const QByteArray path = QFile::encodeName(row.second);
        if (::lstat(path.constData(), &st) == 0 || errno != ENOENT) {
            continue;
        }
        const QByteArray folder = QFile::encodeName(QFileInfo(row.second).path());
        if (::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            gone.append(row);
        }
    }
    if (gone.isEmpty()) {
        return 0;
    }
    CartDatabase::Transaction transaction(*db);
    for (const auto& row : std::as_const(gone)) {
        CartDatabase::Query q(*db, "DELETE FROM audio_lengths WHERE rowid = ?");
        q.Bind(1, row.first);
        if (!q.Run()) {
            return 0;
        }
    }
    if (!transaction.Commit()) {
        return 0;
    }
    for (const auto& row : std::as_const(gone)) {
        m_known.remove(row.second);
    }
    return qint32(gone.size());
}
