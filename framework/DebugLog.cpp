#include "framework/DebugLog.h"

#include "framework/CommandLineSwitches.h"
#include "framework/LogText.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/GeneralFunctions.h"
#include "platform/system/MessageBox.h"
#include "platform/system/RegistryFunctions.h"
#include "platform/system/SystemInfoFunctions.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <limits>

namespace {

const QString kOrvaneKey = QStringLiteral("SOFTWARE\\Orvane");

DebugLogState processState;
DebugLogState* state = &processState;

QString ExecutableTitle()
{
    if (QCoreApplication::instance()) {
        return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    }
    return QCoreApplication::applicationName();
}

// A registry value may have been written on Windows with a final backslash.
QString WithFinalSeparator(QString folder)
{
    if (folder.endsWith(QLatin1Char('\\'))) {
        folder.chop(1);
    }
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder.append(QLatin1Char('/'));
    }
    return folder;
}

QString DebugFolder()
{
    GeneralFunctions& general = GeneralFunctions::instance();
    QString folder = general.DebugPath();
    if (folder.isEmpty() && !state->registryRead) {
        state->registryRead = true;
        const QString stored = RegistryFunctions::instance().ReadString(
            Hive::LocalMachine, kOrvaneKey, QStringLiteral("DebugPath"), QString());
        if (!stored.isEmpty()) {
            folder = WithFinalSeparator(stored);
            general.setDebugPath(folder);
        }
    }
    if (folder.isEmpty()) {
        folder = FileFunctions::instance().GetSpecialFolder(36) + QStringLiteral("/DebugFiles/");
    }
    return folder;
}

qint32 ClampToInt32(qint64 value)
{
    return value > std::numeric_limits<qint32>::max() ? std::numeric_limits<qint32>::max()
                                                      : qint32(value);
}

} // namespace

void InitialiseDebugMode()
{
    InitialiseDebugMode(ApplicationCommandLine());
}

void InitialiseDebugMode(const QString& commandLine)
{
    GeneralFunctions& general = GeneralFunctions::instance();
    general.setApp(QCoreApplication::instance());
    if (general.DebugLevel() != 0) {
        return;
    }

    if (commandLine.contains(QStringLiteral("/DEBUG"), Qt::CaseInsensitive)) {
        const QString value =
            GetCommandLineSwitch(commandLine.trimmed().toUpper(), QStringLiteral("/DEBUG"),
                                 QStringLiteral("="), false, QStringLiteral(" "))
                .toUpper();
        qint32 level = 10;
        if (value == QLatin1String("NORMAL") || value == QLatin1String("MEDIUM")) {
            level = 5;
        } else if (value == QLatin1String("NONE") || value == QLatin1String("OFF")) {
            level = 0;
        }
        general.setDebugLevel(level);
        return;
    }

    general.setDebugLevel(RegistryFunctions::instance().ReadNumber(Hive::LocalMachine, kOrvaneKey,
                                                                   QStringLiteral("DebugMode"), 0));
}

bool DebugLogTakes(qint32 level)
{
    const qint32 debugLevel = GeneralFunctions::instance().DebugLevel();
    return debugLevel == -1 || (debugLevel != 0 && level <= debugLevel);
}

void AddToDebugLog(const QString& text, qint32 level, qint32 indentCode)
{
    GeneralFunctions& general = GeneralFunctions::instance();
    const qint32 debugLevel = general.DebugLevel();
    if (debugLevel == 0) {
        return;
    }
    if (debugLevel != -1) {
        if (level == -1) {
            level = 5;
        }
        if (level > debugLevel) {
            return;
        }
    }

    if (indentCode == ovOutdent) {
        state->indentSteps = qMax(0, state->indentSteps - 1);
    } else if (indentCode == ovResetIndent) {
        state->indentSteps = 0;
    }

    QString folder = DebugFolder();
    if (!FileFunctions::instance().CreateFolder(folder, 0)) {
        MessageBox::Show(QStringLiteral("The Debug Files folder could not be created in '") +
                             folder + QStringLiteral("'!"),
                         MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
        return;
    }
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder.append(QLatin1Char('/'));
    }
    const QString fileName = folder + ExecutableTitle() + QLatin1Char('.') +
                             QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) +
                             QStringLiteral(".log");

    QString line = QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
    if (debugLevel >= 10) {
        const qint32 platform = SystemInfoFunctions::instance().GetOSVersion().PlatformId;
        if (platform == 2 || platform == 3) {
            qint32 workingSet = 0;
            qint32 pagefile = 0;
            GetProcessMemory(workingSet, pagefile);
            line += QLatin1Char(' ') + general.PadText(QString::number(workingSet), 10) +
                    QLatin1Char(' ') + general.PadText(QString::number(pagefile), 10);
        }
    }
    line += QString(state->indentSteps * 4, QLatin1Char(' ')) + QLatin1Char(' ') +
            EscapeControlCharacters(text) + QStringLiteral("\r\n");

    // A line that cannot be written is dropped: tracing must never stop the program.
    QFile file(fileName);
    constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner |
                                                   QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                                   QFileDevice::WriteUser;
    if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, ownerOnly)) {
        // The trace names the station's files and addresses: owner-only, also a file that an
        // earlier build made readable by all.
        if (file.permissions() != ownerOnly) {
            file.setPermissions(ownerOnly);
        }
        file.write(line.toUtf8());
        file.close();
    }

    if (indentCode == ovIndent) {
        ++state->indentSteps;
    }
}

void GetProcessMemory(qint32& workingSetSize, qint32& pagefileUsage)
{
    workingSetSize = 0;
    pagefileUsage = 0;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return;
    }
    // Lines such as "VmRSS:     12345 kB".
    const auto kilobytes = [](const QByteArray& line) {
        const QList<QByteArray> fields = line.mid(line.indexOf(':') + 1).simplified().split(' ');
        return fields.isEmpty() ? 0 : fields.first().toLongLong() * 1024;
    };
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            workingSetSize = ClampToInt32(kilobytes(line));
        } else if (line.startsWith("VmData:")) {
            pagefileUsage = ClampToInt32(kilobytes(line));
        }
    }
}

QString ReportError(const QString& what, qint32 errorNumber, bool& silent)
{
    const QString description =
        errorNumber == 0 ? QString() : qt_error_string(errorNumber).trimmed();
    return ShowProblemMessage(what, description, silent);
}

QString ShowProblemMessage(const QString& what, const QString& description, bool silent)
{
    const QString trimmedWhat = what.trimmed();
    const QString trimmedDescription = description.trimmed();
    QString message = QStringLiteral("There was a problem ") + trimmedWhat;
    if (!trimmedDescription.isEmpty()) {
        message += QStringLiteral(" and the error's description was reported as : \n\n\"") +
                   trimmedDescription + QLatin1Char('"');
    }
    if (!silent) {
        MessageBox::Show(message, MsgBoxStyle::OKOnly | MsgBoxStyle::Exclamation);
    }
    AddToDebugLog(message, 5, ovNone);
    return message;
}

FreshDebugLogState::FreshDebugLogState() : m_previous(state)
{
    state = &m_state;
}

FreshDebugLogState::~FreshDebugLogState()
{
    state = m_previous;
}
