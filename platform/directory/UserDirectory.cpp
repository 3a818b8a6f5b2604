#include "platform/directory/UserDirectory.h"

#include "platform/cartstore/CartDatabase.h"
#include "platform/directory/DirectoryLog.h"
#include "platform/directory/DirectoryUserRecord.h"
#include "platform/system/MessageBox.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ToolError.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSysInfo>
#include <QUuid>

#include <cerrno>
#include <pwd.h>
#include <signal.h>
#include <tuple>
#include <unistd.h>

namespace {
UserDirectory::SettingsHook& settingsHook()
{
    static UserDirectory::SettingsHook hook;
    return hook;
}

// Identifiers are stored in one spelling; callers may hand them over in another (the command
// line is upper-cased before it is searched).
QString canonicalGuid(const QString& text)
{
    const QUuid uuid = QUuid::fromString(text.trimmed());
    if (!uuid.isNull()) {
        return uuid.toString(QUuid::WithBraces).toUpper();
    }
    return text.trimmed().toUpper();
}

QString newGuid()
{
    return QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
}

const char* const kSchema = R"(
CREATE TABLE IF NOT EXISTS users (
    guid TEXT PRIMARY KEY,
    login_name TEXT NOT NULL UNIQUE
);
CREATE TABLE IF NOT EXISTS cart_ranges (
    user_guid TEXT NOT NULL,
    first_cart INTEGER NOT NULL,
    last_cart INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS cart_ranges_user ON cart_ranges(user_guid);
CREATE TABLE IF NOT EXISTS applications (
    code INTEGER NOT NULL,
    name TEXT NOT NULL,
    profile TEXT NOT NULL,
    login_name TEXT NOT NULL,
    host TEXT NOT NULL,
    pid INTEGER NOT NULL,
    started TEXT NOT NULL
);
)";

bool processRuns(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno != ESRCH);
}
} // namespace

class UserDirectory::ApplicationList : public DirectoryApplications
{
public:
    explicit ApplicationList(UserDirectory& directory) : m_directory(directory) {}
    qint32 Register(qint32 code, QObject* application) override
    {
        return m_directory.RegisterApplication(code, application);
    }
    qint32 Unregister(qint32 code, QObject* application) override
    {
        return m_directory.UnregisterApplication(code, application);
    }

private:
    UserDirectory& m_directory;
};

UserDirectory::UserDirectory() : UserDirectory(DefaultDatabasePath()) {}

UserDirectory::UserDirectory(const QString& databasePath)
    : m_databasePath(databasePath), m_applications(std::make_unique<ApplicationList>(*this))
{}

UserDirectory::~UserDirectory() = default;

QString UserDirectory::DefaultDatabasePath()
{
    return PlatformPaths::DataHome() + "/Orvane/Corvella v3/" + DatabaseName;
}

QString UserDirectory::OsLoginName()
{
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name && *entry->pw_name) {
        return QString::fromLocal8Bit(entry->pw_name);
    }
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QString::number(::geteuid()) : user;
}

bool UserDirectory::IsOpen() const
{
    return m_db && m_db->IsOpen();
}

qint16 UserDirectory::OpenDefaultDirectory(bool flag)
{
    if (IsOpen()) {
        return 0;
    }
    if (!QDir().mkpath(QFileInfo(m_databasePath).absolutePath())) {
        qCWarning(lcDirectory) << "cannot create the folder of" << m_databasePath;
        return 1;
    }
    auto db = std::make_unique<CartDatabase>(m_databasePath);
    Result<> opened = db->Opened();
    if (opened) {
        opened = db->Exec(QString::fromLatin1(kSchema));
    }
    if (!opened) {
        qCWarning(lcDirectory) << "cannot open the user directory" << m_databasePath
                               << opened.Reason();
        return 1;
    }
    m_db = std::move(db);
    m_current = {};
    m_shuttingDown = false;
    const QString login = OsLoginName();
    if (!EnsureUser(login, QString())) {
        m_db.reset();
        m_current = {};
        return 1;
    }
    m_currentLogin = login;
    return 0;
}

DirectoryApplications* UserDirectory::Applications()
{
    return m_applications.get();
}

std::shared_ptr<DirectoryUserRecord> UserDirectory::ReadUser(const QString& whereColumn,
                                                             const QString& value) const
{
    if (!IsOpen()) {
        return nullptr;
    }
    CartDatabase::Query user(*m_db,
                             "SELECT guid, login_name FROM users WHERE " + whereColumn + " = ?");
    user.Bind(1, value);
    if (!user.Step()) {
        return nullptr;
    }
    const QString guid = user.Text(0);
    const QString login = user.Text(1);
    QList<CartRange> ranges;
    CartDatabase::Query query(*m_db, "SELECT first_cart, last_cart FROM cart_ranges WHERE "
                                     "user_guid = ? ORDER BY first_cart, last_cart");
    query.Bind(1, guid);
    while (query.Step()) {
        ranges.append({qint32(query.Int(0)), qint32(query.Int(1))});
    }
    if (const Result<> read = query.Outcome(); !read) {
        // Half a set of rights would widen or narrow them silently.
        throw ToolError(ToolErrors::DirectoryReadFailed,
                        "Cannot read the cart rights of " + login + ": " + read.Reason());
    }
    return std::make_shared<DirectoryUserRecord>(guid, login, ranges);
}

bool UserDirectory::EnsureUser(const QString& loginName, const QString& guid)
{
    CartDatabase::Query exists(*m_db, "SELECT 1 FROM users WHERE login_name = ?");
    exists.Bind(1, loginName);
    if (exists.Step()) {
        return true;
    }
    if (!exists.Outcome()) {
        return false;
    }
    CartDatabase::Query insert(*m_db, "INSERT INTO users (guid, login_name) VALUES (?, ?)");
    insert.Bind(1, guid.isEmpty() ? newGuid() : canonicalGuid(guid)).Bind(2, loginName);
    if (const Result<> inserted = insert.Run(); !inserted) {
        qCWarning(lcDirectory) << "cannot record the user" << loginName << inserted.Reason();
        return false;
    }
    return true;
}

std::shared_ptr<DirectoryUser> UserDirectory::GetUserByGuid(const QString& guid)
{
    if (guid.trimmed().isEmpty()) {
        return nullptr;
    }
    return ReadUser("guid", canonicalGuid(guid));
}

qint32 UserDirectory::LoginUser(std::shared_ptr<DirectoryUser>& user, qint32 code,
                                const QString& productName)
{
    const auto* record = dynamic_cast<const DirectoryUserRecord*>(user.get());
    if (!IsOpen() || !record || record->LoginName().isEmpty()) {
        return 1;
    }
    if (!EnsureUser(record->LoginName(), record->Guid())) {
        return 1;
    }
    m_currentLogin = record->LoginName();
    return 0;
}

qint32 UserDirectory::LoginDialog(qint32 arg1, const QString& productName, QObject* object,
                                  bool flag, qint32 arg5)
{
    if (!IsOpen()) {
        return 1;
    }
    const QString login = OsLoginName();
    if (!EnsureUser(login, QString())) {
        return 1;
    }
    m_currentLogin = login;
    return 0;
}

std::shared_ptr<DirectoryUser> UserDirectory::CurrentUser()
{
    if (!IsOpen() || m_currentLogin.isEmpty()) {
        return nullptr;
    }
    // Asked for every file of a check: read again only when the directory changed, here or in
    // another process.
    const CartDatabase::ChangeStamp now = m_db->Changes();
    if (m_current.record && m_current.db == m_db.get() && m_current.login == m_currentLogin &&
        m_current.readAt == now && !(now == CartDatabase::ChangeStamp())) {
        return m_current.record;
    }
    m_current = {};
    auto record = ReadUser("login_name", m_currentLogin);
    if (record) {
        m_current = {m_db.get(), m_currentLogin, now, record};
    }
    return record;
}

QList<DirectoryUserEntry> UserDirectory::ReadUsers() const
{
    QList<DirectoryUserEntry> users;
    if (!IsOpen()) {
        return users;
    }
    CartDatabase::Query query(*m_db, "SELECT guid, login_name FROM users ORDER BY login_name");
    while (query.Step()) {
        users.append({query.Text(0), query.Text(1), {}});
    }
    Result<> read = query.Outcome();
    for (DirectoryUserEntry& user : users) {
        CartDatabase::Query ranges(*m_db, "SELECT first_cart, last_cart FROM cart_ranges WHERE "
                                          "user_guid = ? ORDER BY first_cart, last_cart");
        ranges.Bind(1, user.Guid);
        while (ranges.Step()) {
            user.Ranges.append({qint32(ranges.Int(0)), qint32(ranges.Int(1))});
        }
        if (read) {
            read = ranges.Outcome();
        }
    }
    // An incomplete list written back by the dialog would lose users or rights.
    if (!read) {
        throw ToolError(ToolErrors::DirectoryReadFailed,
                        "Cannot read the user directory: " + read.Reason());
    }
    return users;
}

QString UserDirectory::Validate(const QList<DirectoryUserEntry>& users, const QString& currentLogin)
{
    QSet<QString> names;
    bool currentKept = currentLogin.isEmpty();
    for (const DirectoryUserEntry& user : users) {
        const QString name = user.LoginName.trimmed();
        if (name.isEmpty()) {
            return QStringLiteral("Every user needs a login name.");
        }
        if (names.contains(name)) {
            return QStringLiteral("The user %1 is listed twice.").arg(name);
        }
        names.insert(name);
        currentKept = currentKept || name == currentLogin;
        for (const CartRange& range : user.Ranges) {
            if (range.First < 1 || range.Last < range.First) {
                return QStringLiteral("The cart range %1-%2 of %3 is not valid: carts are "
                                      "numbered from 1 and a range must not end before it "
                                      "starts.")
                    .arg(range.First)
                    .arg(range.Last)
                    .arg(name);
            }
        }
    }
    if (!currentKept) {
        return QStringLiteral("The user %1 is logged in and cannot be removed.").arg(currentLogin);
    }
    return QString();
}

Result<> UserDirectory::WriteUsers(const QList<DirectoryUserEntry>& users)
{
    if (!IsOpen()) {
        return Failure{QStringLiteral("The user directory is not open.")};
    }
    if (const QString fault = Validate(users, QString()); !fault.isEmpty()) {
        return Failure{fault};
    }
    CartDatabase::Transaction transaction(*m_db);
    Result<> ok = transaction.Begun();
    if (ok) {
        ok = m_db->Exec("DELETE FROM cart_ranges; DELETE FROM users;");
    }
    for (const DirectoryUserEntry& user : users) {
        if (!ok) {
            break;
        }
        const QString guid = user.Guid.isEmpty() ? newGuid() : canonicalGuid(user.Guid);
        CartDatabase::Query insert(*m_db, "INSERT INTO users (guid, login_name) VALUES (?, ?)");
        ok = insert.Bind(1, guid).Bind(2, user.LoginName.trimmed()).Run();
        for (const CartRange& range : user.Ranges) {
            if (!ok) {
                break;
            }
            CartDatabase::Query add(
                *m_db,
                "INSERT INTO cart_ranges (user_guid, first_cart, last_cart) VALUES (?, ?, ?)");
            ok = add.Bind(1, guid).Bind(2, range.First).Bind(3, range.Last).Run();
        }
    }
    if (!ok) {
        return ok;
    }
    return transaction.Commit();
}

void UserDirectory::ShowSettingsDialog()
{
    if (!IsOpen() || !settingsHook()) {
        return;
    }
    QList<DirectoryUserEntry> users = ReadUsers();
    if (!settingsHook()(users, m_currentLogin)) {
        return;
    }
    if (const Result<> written = WriteUsers(users); !written) {
        MessageBox::Show("The user directory could not be saved: " + written.Reason(),
                         MsgBoxStyle::Exclamation);
    }
}

void UserDirectory::SetSettingsHook(SettingsHook hook)
{
    settingsHook() = std::move(hook);
}

void UserDirectory::CloseDirectory()
{
    m_db.reset();
    m_current = {};
    m_currentLogin.clear();
}

qint32 UserDirectory::RegisterApplication(qint32 code, QObject* application)
{
    if (!IsOpen() || m_shuttingDown) {
        return 1;
    }
    const QString host = QSysInfo::machineHostName();
    const qint64 pid = QCoreApplication::applicationPid();
    CartDatabase::Transaction transaction(*m_db);
    if (!transaction.Begun()) {
        return 1;
    }
    // Rows of programs on this computer that ended without unregistering.
    QList<qint64> gone;
    CartDatabase::Query rows(*m_db, "SELECT DISTINCT pid FROM applications WHERE host = ?");
    rows.Bind(1, host);
    while (rows.Step()) {
        if (rows.Int(0) == pid || !processRuns(rows.Int(0))) {
            gone.append(rows.Int(0));
        }
    }
    for (qint64 stale : gone) {
        CartDatabase::Query remove(*m_db, "DELETE FROM applications WHERE host = ? AND pid = ? "
                                          "AND (pid <> ? OR code = ?)");
        std::ignore = remove.Bind(1, host).Bind(2, stale).Bind(3, pid).Bind(4, code).Run();
    }
    QString name = m_applicationName;
    if (name.isEmpty()) {
        name = application && !application->objectName().isEmpty()
                   ? application->objectName()
                   : QCoreApplication::applicationName();
    }
    CartDatabase::Query insert(*m_db,
                               "INSERT INTO applications (code, name, profile, login_name, host, "
                               "pid, started) VALUES (?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(1, code)
        .Bind(2, name)
        .Bind(3, m_profileName)
        .Bind(4, m_currentLogin)
        .Bind(5, host)
        .Bind(6, pid)
        .Bind(7, QDateTime::currentDateTime().toString(Qt::ISODate));
    if (!insert.Run() || !transaction.Commit()) {
        return 1;
    }
    return 0;
}

qint32 UserDirectory::UnregisterApplication(qint32 code, QObject* application)
{
    if (!IsOpen()) {
        return 1;
    }
    CartDatabase::Query remove(*m_db,
                               "DELETE FROM applications WHERE host = ? AND pid = ? AND code = ?");
    remove.Bind(1, QSysInfo::machineHostName())
        .Bind(2, QCoreApplication::applicationPid())
        .Bind(3, code);
    return remove.Run() ? 0 : 1;
}

QStringList UserDirectory::RunningApplications() const
{
    QStringList names;
    if (!IsOpen()) {
        return names;
    }
    CartDatabase::Query query(*m_db, "SELECT name FROM applications ORDER BY rowid");
    while (query.Step()) {
        names.append(query.Text(0));
    }
    return names;
}
