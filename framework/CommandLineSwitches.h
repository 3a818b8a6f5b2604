#pragma once

#include <QString>
#include <QStringList>

// The value of one switch of a command line, such as "Studio2" for the switch "/Profile" with
// the delimiter "=" in "/PROFILE=Studio2 /SILENT" and the separator " "; "" when the switch is
// absent. A value in double quotes may hold the separator; a missing closing quote lets the
// value run to the end of the line. The case of the value is kept.
QString GetCommandLineSwitch(const QString& commandLine, const QString& switchName,
                             const QString& delimiter, bool postProcess, const QString& separator);
QString GetCommandLineSwitchEx(const QString& commandLine, const QString& switchName,
                               const QString& delimiter, bool postProcess, const QString& separator,
                               bool addSeparator);

// The process's command line after the program's name, as one text. The shell has already
// removed the quotes, so an argument holding a blank gets them back around the part after its
// first "=" (or around the whole argument when the blank comes before any "="), where
// GetCommandLineSwitch expects them. An argument that holds a quote is left as it is.
QString ApplicationCommandLine();
// The same from a list of arguments whose first is the program.
QString ApplicationCommandLine(const QStringList& arguments);
