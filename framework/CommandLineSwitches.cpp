#include "framework/CommandLineSwitches.h"

#include "platform/system/GeneralFunctions.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString ExtractSwitchValue(QString commandLine, QString switchName, const QString& delimiter,
                           const QString& separator, bool addSeparator)
{
    if (addSeparator) {
        // Only whole switches that follow a separator or begin the line match.
        if (!commandLine.startsWith(separator, Qt::CaseInsensitive)) {
            commandLine.prepend(separator);
        }
        if (!switchName.startsWith(separator, Qt::CaseInsensitive)) {
            switchName.prepend(separator);
        }
    }

    const qsizetype found = commandLine.indexOf(switchName + delimiter, 0, Qt::CaseInsensitive);
    if (found < 0) {
        return QString();
    }
    const qsizetype start = found + switchName.size() + delimiter.size();
    if (start < commandLine.size() && commandLine.at(start) == QLatin1Char('"')) {
        const qsizetype close = commandLine.indexOf(QLatin1Char('"'), start + 1);
        return close < 0 ? commandLine.mid(start + 1)
                         : commandLine.mid(start + 1, close - start - 1);
    }
    const qsizetype end =
        separator.isEmpty() ? -1 : commandLine.indexOf(separator, start, Qt::CaseInsensitive);
    return end < 0 ? commandLine.mid(start) : commandLine.mid(start, end - start);
}

} // namespace

QString GetCommandLineSwitch(const QString& commandLine, const QString& switchName,
                             const QString& delimiter, bool postProcess, const QString& separator)
{
    // A switch such as "<Tag" with the delimiter ">" is searched as it stands.
    const bool addSeparator = !separator.isEmpty() && !switchName.startsWith(QLatin1Char('<')) &&
                              delimiter != QLatin1String(">");
    const QString value =
        ExtractSwitchValue(commandLine, switchName, delimiter, separator, addSeparator);
    return postProcess ? GeneralFunctions::instance().ProcessSwitchValue(value) : value;
}

QString GetCommandLineSwitchEx(const QString& commandLine, const QString& switchName,
                               const QString& delimiter, bool postProcess, const QString& separator,
                               bool addSeparator)
{
    const QString value = ExtractSwitchValue(commandLine, switchName, delimiter, separator,
                                             addSeparator && !separator.isEmpty());
    return postProcess ? GeneralFunctions::instance().ProcessSwitchValueEx(value) : value;
}

QString ApplicationCommandLine()
{
    return QCoreApplication::instance() ? ApplicationCommandLine(QCoreApplication::arguments())
                                        : QString();
}

QString ApplicationCommandLine(const QStringList& arguments)
{
    QStringList parts;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (argument.contains(QLatin1Char(' ')) && !argument.contains(QLatin1Char('"'))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            const qsizetype blank = argument.indexOf(QLatin1Char(' '));
            argument.insert(equals >= 0 && equals < blank ? equals + 1 : 0, QLatin1Char('"'));
            argument.append(QLatin1Char('"'));
        }
        parts.append(argument);
    }
    return parts.join(QLatin1Char(' '));
}
