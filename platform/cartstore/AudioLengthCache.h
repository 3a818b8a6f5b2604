#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <optional>

class CartDatabase;

// Measured audio lengths, kept in a SQLite table so that a file that has not changed since it
// was measured is never decoded again. A file counts as unchanged while its path, size,
// modification time (nanoseconds) and inode are the same.
class AudioLengthCache
{
public:
    static AudioLengthCache& instance();

    struct FileKey
    {
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 inode = 0;
    };
    // Empty when the file cannot be examined.
    static std::optional<FileKey> KeyOf(const QString& path);

    // An empty folder means the default: the cart store's default base folder.
    void SetFolder(const QString& folder);
    QString Folder() const;
    static constexpr const char* FileName = "audiolengths.db";

    // Stored for a file whose content holds no measurable audio, so that the same bytes are
    // not probed again at every check.
    static constexpr double Unmeasurable = -1.0;

    // The stored length in milliseconds, or Unmeasurable with the reason given then; empty
    // when nothing is known for this version of the file.
    std::optional<double> Lookup(const QString& path, const FileKey& key,
                                 QString* reason = nullptr);
    void Store(const QString& path, const FileKey& key, double durationMs,
               const QString& reason = QString());
    // Why this version of the file cannot be measured; empty unless it is stored as
    // Unmeasurable (with no reason kept, a general one).
    std::optional<QString> UnmeasurableReason(const QString& path, const FileKey& key);
    // Whether the operator was told that this version of the file cannot be measured, in this
    // run or an earlier one; and recording that they were.
    bool UnmeasurableTold(const QString& path, const FileKey& key);
    void MarkUnmeasurableTold(const QString& path, const FileKey& key);

    // Forgets the rows of files that are gone (their folder still there, so that a share that
    // is not mounted is not forgotten), looking at no more than maxRows rows per call and going
    // on where the last call stopped. The number of rows forgotten.
    qint32 ForgetGone(qint32 maxRows = 1000);

    // What the operator should hear of (why the table cannot be used), each told once per
    // run; taking them empties the list.
    QStringList TakeNotices();

private:
    AudioLengthCache() = default;
    ~AudioLengthCache();
    CartDatabase* Database();
    void Remember(const QString& absolute, const QString& database, const FileKey& key,
                  double durationMs, const QString& reason);
    void Unavailable(const QString& path, const QString& reason);

    mutable std::mutex m_mutex;
    QString m_folder;
    std::unique_ptr<CartDatabase> m_db;
    QByteArray m_databaseFor; // what the database's path was worked out from
    // What the table answered, so that a check of unchanged files asks it once per file; without
    // a table (database empty) what was measured in this run.
    struct Known
    {
        QString database;
        FileKey key;
        double durationMs = 0;
        QString reason;
        bool told = false;
    };
    QHash<QString, Known> m_known;
    qint64 m_forgetAfter = 0; // the row ForgetGone looked at last
    QStringList m_notices;
    QSet<QString> m_unavailableTold;
};
