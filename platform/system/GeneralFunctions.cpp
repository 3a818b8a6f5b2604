#include "platform/system/GeneralFunctions.h"

#include "platform/system/PlatformPaths.h"
#include "platform/system/ToolError.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString programName()
{
    QString name;
    if (QCoreApplication::instance()) {
        name = QCoreApplication::applicationName();
    }
    if (name.isEmpty()) {
        name = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).fileName();
    }
    // The name becomes part of a file name.
    name.replace(u'/', u'_');
    return name.isEmpty() ? QStringLiteral("program") : name;
}

} // namespace

GeneralFunctions& GeneralFunctions::instance()
{
    static GeneralFunctions functions;
    return functions;
}

QString GeneralFunctions::LockFilePath()
{
    return PlatformPaths::RuntimeDir() + u'/' + programName() + u'.' + QString::number(::getuid()) +
           QStringLiteral(".lock");
}

QString GeneralFunctions::TraceFilePath()
{
    return PlatformPaths::StateHome() + QStringLiteral("/DebugFiles/") + programName() +
           QStringLiteral(".trace.log");
}

int GeneralFunctions::OpenLockFile()
{
    const QString path = LockFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // O_NOFOLLOW: the fallback folder is shared, so a planted link must not redirect us.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        DebugTrace(QStringLiteral("AlreadyRunning: cannot open %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    return fd;
}

namespace {

int Lock(int fd, int operation)
{
    int rc;
    do {
        rc = ::flock(fd, operation | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

} // namespace

// Every running instance holds a shared lock on the file; a check asks for it exclusively, which
// only succeeds while no instance holds it. The kernel releases it even after a crash.
bool GeneralFunctions::AlreadyRunning()
{
    if (m_lockFd >= 0) {
        return false;
    }
    const int fd = OpenLockFile();
    if (fd < 0) {
        // Without a lock file nothing proves another instance; let this one run.
        return false;
    }
    int error = Lock(fd, LOCK_EX);
    if (error == 0) {
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(fd, 0) == 0) {
            [[maybe_unused]] auto written = ::write(fd, pid.constData(), pid.size());
        }
        // Shared from now on, so that an instance started without the check can announce
        // itself too. The change is not atomic: a check that slips in between holds the lock
        // first, and this instance gives way to it.
        error = Lock(fd, LOCK_SH);
        if (error == 0) {
            m_lockFd = fd;
            return false;
        }
    }
    ::close(fd);
    if (error == EWOULDBLOCK) {
        return true;
    }
    DebugTrace(QStringLiteral("AlreadyRunning: cannot lock %1: %2")
                   .arg(LockFilePath(), QString::fromLocal8Bit(std::strerror(error))));
    return false;
}

void GeneralFunctions::AnnounceInstance()
{
    if (m_lockFd >= 0) {
        return;
    }
    const int fd = OpenLockFile();
    if (fd < 0) {
        return;
    }
    // A check elsewhere holds the lock exclusively only for a moment.
    int error = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        error = Lock(fd, LOCK_SH);
        if (error != EWOULDBLOCK) {
            break;
        }
        ::usleep(10000);
    }
    if (error == 0) {
        m_lockFd = fd;
        return;
    }
    ::close(fd);
    DebugTrace(QStringLiteral("AnnounceInstance: cannot lock %1: %2")
                   .arg(LockFilePath(), QString::fromLocal8Bit(std::strerror(error))));
}

void GeneralFunctions::AppendToTextFile(const QString& filePath, bool addLineEnd,
                                        const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (addLineEnd) {
        bytes.append('\n');
    }
    QFile file(filePath);
    // Unbuffered: the line goes out in one write, so lines of concurrent writers never mix.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        throw ToolError(
            ToolErrors::PathFileAccessError,
            QStringLiteral("Cannot open %1 for appending: %2").arg(filePath, file.errorString()));
    }
    if (file.write(bytes) != bytes.size()) {
        throw ToolError(
            ToolErrors::PathFileAccessError,
            QStringLiteral("Cannot append to %1: %2").arg(filePath, file.errorString()));
    }
}

void GeneralFunctions::DebugTrace(const QString& text)
{
    if (m_debugLevel == 0) {
        return;
    }
    try {
        const QString path = TraceFilePath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        const bool fresh = !file.exists();
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            return;
        }
        // Traced lines may hold mail credentials.
        if (fresh) {
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        const QString line =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")) +
            text + u'\n';
        file.write(line.toUtf8());
    } catch (...) {
    }
}

QString GeneralFunctions::PadText(const QString& text, qint32 width) const
{
    return text.rightJustified(width, u' ', false);
}

bool GeneralFunctions::IsCharacterInSet(QChar character, qint32 setId) const
{
    const char16_t c = character.unicode();
    const bool digit = c >= u'0' && c <= u'9';
    const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    switch (setId) {
    case 1:
        return digit;
    case 2:
        return letter;
    case 3:
        return digit || letter;
    default:
        return false;
    }
}

qint32 GeneralFunctions::FilterKey(qint32 keyCode, qint32 characterClass) const
{
    constexpr qint32 backspace = 8;
    if (characterClass == 1) {
        return (keyCode >= '0' && keyCode <= '9') || keyCode == backspace ? keyCode : 0;
    }
    return 0;
}

QString GeneralFunctions::ProcessSwitchValue(const QString& value) const
{
    return value.trimmed();
}

QString GeneralFunctions::ProcessSwitchValueEx(const QString& value) const
{
    return value.trimmed();
}

QString GeneralFunctions::ExtractToken(const QString& text, qint32 start, const QString& delimiter,
                                       qint32& nextPosition, bool ignoreCase, bool flag2) const
{
    const qsizetype from = qMax<qint32>(start, 1) - 1;
    if (from >= text.size()) {
        nextPosition = static_cast<qint32>(text.size()) + 1;
        return QString();
    }
    const qsizetype found =
        delimiter.isEmpty()
            ? -1
            : text.indexOf(delimiter, from, ignoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive);
    if (found < 0) {
        nextPosition = static_cast<qint32>(text.size()) + 1;
        return text.mid(from);
    }
    nextPosition = static_cast<qint32>(found + delimiter.size()) + 1;
    return text.mid(from, found - from);
}

qint32 GeneralFunctions::ClampLong(qint32 value, qint32 minimum, qint32 maximum) const
{
    if (value < minimum) {
        return minimum;
    }
    return value > maximum ? maximum : value;
}

double GeneralFunctions::ClampDouble(double value, double minimum, double maximum) const
{
    if (value < minimum) {
        return minimum;
    }
    return value > maximum ? maximum : value;
}

double GeneralFunctions::TimeTextToSeconds(const QString& text, qint32 code) const
{
    // The masked time box shows "_" (or a blank) for digits not typed yet.
    QString clean;
    for (QChar c : text) {
        if (c == u'_' || c == u' ') {
            clean.append(u'0');
        } else if ((c >= u'0' && c <= u'9') || c == u':' || c == u'.') {
            clean.append(c);
        } else {
            throw ToolError(ToolErrors::TypeMismatch,
                            QStringLiteral("Not a time: \"%1\"").arg(text));
        }
    }
    auto digitsValue = [](const QString& digits) {
        double value = 0;
        for (QChar c : digits) {
            value = value * 10 + (c.unicode() - u'0');
        }
        return value;
    };

    if (!clean.contains(u':') && !clean.contains(u'.')) {
        // hhmmsshh, the hours taking any extra leading digits.
        const QString digits = clean.rightJustified(8, u'0');
        const qsizetype n = digits.size();
        return digitsValue(digits.left(n - 6)) * 3600 + digitsValue(digits.mid(n - 6, 2)) * 60 +
               digitsValue(digits.mid(n - 4, 2)) + digitsValue(digits.right(2)) / 100.0;
    }

    double fraction = 0;
    QString whole = clean;
    const qsizetype dot = clean.lastIndexOf(u'.');
    if (dot >= 0) {
        const QString decimals = clean.mid(dot + 1);
        whole = clean.left(dot);
        if (decimals.contains(u'.') || decimals.contains(u':') || whole.contains(u'.')) {
            throw ToolError(ToolErrors::TypeMismatch,
                            QStringLiteral("Not a time: \"%1\"").arg(text));
        }
        for (qsizetype i = 0; i < decimals.size(); ++i) {
            fraction += (decimals.at(i).unicode() - u'0') / std::pow(10.0, double(i + 1));
        }
    }
    const QStringList fields = whole.split(u':');
    if (fields.size() > 3) {
        throw ToolError(ToolErrors::TypeMismatch, QStringLiteral("Not a time: \"%1\"").arg(text));
    }
    double seconds = 0;
    for (const QString& field : fields) {
        seconds = seconds * 60 + digitsValue(field);
    }
    return seconds + fraction;
}

double GeneralFunctions::SecondsToTime(double hours, double minutes, double seconds) const
{
    return hours * 3600 + minutes * 60 + seconds;
}

QString GeneralFunctions::TransformPassword(const QString& text, bool flag) const
{
    // ROT47 over "!".."~": its own inverse, and printable text stays printable.
    QString result = text;
    for (QChar& c : result) {
        const char16_t u = c.unicode();
        if (u >= 33 && u <= 126) {
            c = QChar(char16_t(33 + (u - 33 + 47) % 94));
        }
    }
    return result;
}
