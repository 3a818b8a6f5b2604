#pragma once

#include <QString>

// Indentation codes of debug-log lines.
enum IndentCode : qint32
{
    ovNone = 0,
    ovIndent = 1,
    ovOutdent = 2,
    ovResetIndent = 3
};

// The debug log: one plain-text file per program and day, lines filtered by level and
// indented by nesting; and the standard error report that begins "There was a problem ".
void InitialiseDebugMode();
// As above, with the command line given; the form without arguments reads the process's own.
void InitialiseDebugMode(const QString& commandLine);
void AddToDebugLog(const QString& text, qint32 level, qint32 indentCode);
// Whether a line of this level would be written: spares building texts that nobody keeps.
bool DebugLogTakes(qint32 level);
void GetProcessMemory(qint32& workingSetSize, qint32& pagefileUsage);
QString ReportError(const QString& what, qint32 errorNumber, bool& silent);
QString ShowProblemMessage(const QString& what, const QString& description, bool silent);

struct DebugLogState
{
    qint32 indentSteps = 0;
    bool registryRead = false; // the folder named in the registry was looked up
};

// Gives the debug log a state of its own for the life of the object and puts the previous one
// back after; the program keeps one state for its life. A test holds one so that it neither
// inherits an indentation nor leaves one behind.
class FreshDebugLogState
{
public:
    FreshDebugLogState();
    ~FreshDebugLogState();
    FreshDebugLogState(const FreshDebugLogState&) = delete;
    FreshDebugLogState& operator=(const FreshDebugLogState&) = delete;

private:
    DebugLogState m_state;
    DebugLogState* m_previous;
};
