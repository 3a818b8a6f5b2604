#pragma once

#include "platform/system/Result.h"

#include <QHash>
#include <QString>
#include <QVariant>
#include <memory>
#include <mutex>

struct sqlite3;
struct sqlite3_stmt;

// A SQLite connection in WAL mode, as the cart store and the length cache use it. Errors are
// reported by results carrying SQLite's reason, never by exceptions.
class CartDatabase
{
public:
    // Opens the file, creating it when create is set, and switches it to WAL mode unless
    // told not to (a caller that checks the file first switches it later with Exec).
    // Opened() tells whether it worked, with SQLite's reason when not.
    explicit CartDatabase(const QString& path, bool create = true, bool walMode = true);
    ~CartDatabase();

    CartDatabase(const CartDatabase&) = delete;
    CartDatabase& operator=(const CartDatabase&) = delete;

    bool IsOpen() const { return m_db != nullptr; }
    const Result<>& Opened() const { return m_opened; }
    // SQLite opens a file it may not write read-only.
    bool IsReadOnly() const;

    // What SQLite and the system said at the last failure on this connection, for telling a
    // full disk, a read-only file or a lock from damage.
    struct Fault
    {
        int code = 0;        // SQLite's primary result code
        int extended = 0;    // its extended result code
        int systemError = 0; // errno of the system call that failed, 0 when none
    };
    Fault LastFault() const { return m_fault; }
    QString Path() const { return m_path; }

    // Runs one or more statements without results.
    Result<> Exec(const QString& sql);

    // Changes whenever the database's content may have changed: another connection committed
    // (PRAGMA data_version) or this one changed rows. Values held in memory stay valid while it
    // answers the same. Another connection's commit shows within ForeignChangeDelayMs, as the
    // version is asked at most that often; this connection's own changes show at once. Empty
    // when the database cannot be asked.
    static constexpr qint64 ForeignChangeDelayMs = 20;
    struct ChangeStamp
    {
        qint64 dataVersion = -1;
        qint64 ownChanges = -1;
        bool operator==(const ChangeStamp&) const = default;
    };
    ChangeStamp Changes();

    // A prepared statement; bind with 1-based indexes, then Step() until it returns false.
    class Query
    {
    public:
        Query(CartDatabase& db, const QString& sql);
        ~Query();
        Query(const Query&) = delete;
        Query& operator=(const Query&) = delete;

        bool IsValid() const { return m_stmt != nullptr; }
        Query& Bind(int index, const QVariant& value);
        // True while a row is available; Outcome() tells an error from the end.
        bool Step();
        Result<> Outcome() const;
        // Runs a statement without results.
        Result<> Run();

        qint64 Int(int column) const;
        double Real(int column) const;
        QString Text(int column) const;
        bool IsNull(int column) const;

    private:
        CartDatabase& m_db;
        QString m_sql;
        sqlite3_stmt* m_stmt = nullptr;
        bool m_failed = false;
        QString m_reason;
    };

    // Commits when Commit() was called, rolls back otherwise.
    class Transaction
    {
    public:
        explicit Transaction(CartDatabase& db);
        ~Transaction();
        // Whether the write lock was taken, with SQLite's reason when not.
        const Result<>& Begun() const { return m_begun; }
        Result<> Commit();

    private:
        CartDatabase& m_db;
        Result<> m_begun;
        bool m_active = false;
    };

private:
    // SQLite's reason for the last failure on this connection, logged with where it happened.
    QString ErrorFor(const QString& where);
    void NoteFault(int code);
    // Prepared statements are kept for reuse, one per text; a statement in use by one query
    // is prepared again for a second query of the same text.
    sqlite3_stmt* TakeStatement(const QString& sql);
    void ReturnStatement(const QString& sql, sqlite3_stmt* statement);

    QString m_path;
    Result<> m_opened;
    Fault m_fault;
    sqlite3* m_db = nullptr;
    std::mutex m_statementsMutex;
    QHash<QString, sqlite3_stmt*> m_statements;
    std::mutex m_versionMutex;
    qint64 m_dataVersion = -1;
    qint64 m_dataVersionAskedNs = 0;
};
