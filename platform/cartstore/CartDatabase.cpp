#include "platform/cartstore/CartDatabase.h"

#include "platform/cartstore/StoreLog.h"

#include <sqlite3.h>
#include <time.h>
#include <tuple>

CartDatabase::CartDatabase(const QString& path, bool create, bool walMode) : m_path(path)
{
    sqlite3* db = nullptr;
    const QByteArray name = path.toUtf8();
    const int rc = sqlite3_open_v2(
        name.constData(), &db,
        SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason =
            db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        m_fault = {rc & 0xFF, db ? sqlite3_extended_errcode(db) : rc,
                   db ? sqlite3_system_errno(db) : 0};
        qCWarning(lcStore) << "cannot open database" << path << reason;
        sqlite3_close(db);
        m_opened = Failure{reason};
        return;
    }
    m_db = db;
    // Another process (or another store object) may hold a write lock for a moment.
    sqlite3_busy_timeout(m_db, 10000);
    // WAL keeps the last committed state through a crash in the middle of an import.
    if (!walMode) {
        return;
    }
    if (Result<> wal = Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"); !wal) {
        qCWarning(lcStore) << "cannot switch" << path << "to WAL mode:" << wal.Reason();
        sqlite3_close(m_db);
        m_db = nullptr;
        m_opened = wal;
    }
}

CartDatabase::~CartDatabase()
{
    for (sqlite3_stmt* statement : std::as_const(m_statements)) {
        sqlite3_finalize(statement);
    }
    if (m_db) {
        sqlite3_close(m_db);
    }
}

sqlite3_stmt* CartDatabase::TakeStatement(const QString& sql)
{
    {
        std::lock_guard lock(m_statementsMutex);
        if (sqlite3_stmt* statement = m_statements.take(sql)) {
            return statement;
        }
    }
    sqlite3_stmt* statement = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &statement, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

void CartDatabase::ReturnStatement(const QString& sql, sqlite3_stmt* statement)
{
    // A statement left on a row would keep its read transaction open.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    {
        std::lock_guard lock(m_statementsMutex);
        if (!m_statements.contains(sql)) {
            m_statements.insert(sql, statement);
            return;
        }
    }
    sqlite3_finalize(statement);
}

CartDatabase::ChangeStamp CartDatabase::Changes()
{
    if (!m_db) {
        return {};
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const qint64 nowNs = qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    std::lock_guard lock(m_versionMutex);
    if (m_dataVersion < 0 || nowNs - m_dataVersionAskedNs >= ForeignChangeDelayMs * 1'000'000) {
        Query q(*this, QStringLiteral("PRAGMA data_version"));
        if (!q.Step()) {
            m_dataVersion = -1;
            return {};
        }
        m_dataVersion = q.Int(0);
        m_dataVersionAskedNs = nowNs;
    }
    return {m_dataVersion, qint64(sqlite3_total_changes64(m_db))};
}

bool CartDatabase::IsReadOnly() const
{
    return m_db && sqlite3_db_readonly(m_db, "main") == 1;
}

void CartDatabase::NoteFault(int code)
{
    m_fault = {code & 0xFF, m_db ? sqlite3_extended_errcode(m_db) : code,
               m_db ? sqlite3_system_errno(m_db) : 0};
}

QString CartDatabase::ErrorFor(const QString& where)
{
    NoteFault(m_db ? sqlite3_errcode(m_db) : SQLITE_MISUSE);
    const QString reason =
        m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("database not open");
    qCWarning(lcStore).noquote() << where << m_path << reason;
    return reason;
}

Result<> CartDatabase::Exec(const QString& sql)
{
    if (!m_db) {
        return m_opened ? Failure{QStringLiteral("database not open")} : m_opened;
    }
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        NoteFault(rc);
        const QString reason = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        qCWarning(lcStore).noquote() << "sql failed:" << sql << reason;
        return Failure{reason};
    }
    return {};
}

CartDatabase::Query::Query(CartDatabase& db, const QString& sql) : m_db(db), m_sql(sql)
{
    if (!db.m_db) {
        m_failed = true;
        m_reason = db.m_opened ? QStringLiteral("database not open") : db.m_opened.Reason();
        return;
    }
    m_stmt = db.TakeStatement(sql);
    if (!m_stmt) {
        m_reason = db.ErrorFor("prepare: " + sql);
        m_failed = true;
    }
}

CartDatabase::Query::~Query()
{
    if (m_stmt) {
        m_db.ReturnStatement(m_sql, m_stmt);
    }
}

CartDatabase::Query& CartDatabase::Query::Bind(int index, const QVariant& value)
{
    if (!m_stmt) {
        return *this;
    }
    int rc = SQLITE_OK;
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        rc = sqlite3_bind_null(m_stmt, index);
        break;
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
        rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
        break;
    default: {
        const QByteArray text = value.toString().toUtf8();
        rc = sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    }
    if (rc != SQLITE_OK) {
        m_failed = true;
        m_reason = m_db.ErrorFor("bind");
    }
    return *this;
}

bool CartDatabase::Query::Step()
{
    if (!m_stmt || m_failed) {
        return false;
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc != SQLITE_DONE) {
        m_failed = true;
        m_reason = m_db.ErrorFor("step");
    }
    return false;
}

Result<> CartDatabase::Query::Outcome() const
{
    if (m_failed) {
        return Failure{m_reason};
    }
    return {};
}

Result<> CartDatabase::Query::Run()
{
    Step();
    return Outcome();
}

qint64 CartDatabase::Query::Int(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double CartDatabase::Query::Real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

QString CartDatabase::Query::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, column)) : QString();
}

bool CartDatabase::Query::IsNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

CartDatabase::Transaction::Transaction(CartDatabase& db) : m_db(db)
{
    // IMMEDIATE takes the write lock now, so a busy store waits here rather than failing later.
    m_begun = db.Exec("BEGIN IMMEDIATE");
    m_active = m_begun.Ok();
}

CartDatabase::Transaction::~Transaction()
{
    if (m_active) {
        std::ignore = m_db.Exec("ROLLBACK");
    }
}

Result<> CartDatabase::Transaction::Commit()
{
    if (!m_active) {
        return m_begun ? Failure{QStringLiteral("no transaction")} : m_begun;
    }
    if (Result<> committed = m_db.Exec("COMMIT"); !committed) {
        return committed; // the destructor rolls back
    }
    m_active = false;
    return {};
}
