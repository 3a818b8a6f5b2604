#pragma once

#include <QString>

class QCoreApplication;

// Utility component: debug level, command line, single instance, tokens, clamps, text-file
// append, password transform, its own trace. One per process, created on first use.
class GeneralFunctions
{
public:
    static GeneralFunctions& instance();

    void setApp(QCoreApplication* app) { m_app = app; }
    QCoreApplication* App() const { return m_app; }

    qint32 DebugLevel() const { return m_debugLevel; }
    void setDebugLevel(qint32 level) { m_debugLevel = level; }

    QString DebugPath() const { return m_debugPath; }
    void setDebugPath(const QString& path) { m_debugPath = path; }

    QString CommandLine() const { return m_commandLine; }
    void setCommandLine(const QString& text) { m_commandLine = text; }

    // True when another instance of this program runs for the same user, whether it was started
    // with the check or not. A call that finds none announces this instance (as below).
    bool AlreadyRunning();
    // Holds a share of the per-user lock (LockFilePath) until the process ends, without asking
    // whether another instance runs, so that a later AlreadyRunning elsewhere sees this one.
    void AnnounceInstance();
    // <runtime folder>/<application name>.<uid>.lock
    static QString LockFilePath();

    // Adds text (UTF-8) at the end of the file, created when missing; addLineEnd adds "\n" (LF,
    // as Linux log files end their lines). Raises ToolError when the file cannot be written.
    void AppendToTextFile(const QString& filePath, bool addLineEnd, const QString& text);

    // One line, "yyyy-MM-dd hh:mm:ss.zzz text", to TraceFilePath (owner-only permissions: mail
    // traces hold credentials). Nothing is written while DebugLevel is 0. Never throws.
    void DebugTrace(const QString& text);
    // $XDG_STATE_HOME/DebugFiles/<application name>.trace.log
    static QString TraceFilePath();

    // Pads with blanks on the left (numbers right-aligned); longer text is kept whole.
    QString PadText(const QString& text, qint32 width) const;

    // Set 1: decimal digits "0".."9"; 2: ASCII letters; 3: ASCII letters and digits; any other
    // set admits nothing.
    bool IsCharacterInSet(QChar character, qint32 setId) const;
    // Class 1: digits and Backspace (8); 0 for anything else.
    qint32 FilterKey(qint32 keyCode, qint32 characterClass) const;

    qint32 ProcAddress(qint32 address) const { return address; }
    // Both trim blanks.
    QString ProcessSwitchValue(const QString& value) const;
    QString ProcessSwitchValueEx(const QString& value) const;

    // The text from start (1-based) up to the next delimiter or the end; nextPosition receives
    // the position after the delimiter (the text's length + 1 when the end was reached). An
    // empty delimiter takes the rest of the text.
    QString ExtractToken(const QString& text, qint32 start, const QString& delimiter,
                         qint32& nextPosition, bool ignoreCase = true, bool flag2 = true) const;

    qint32 MaxLong(qint32 a, qint32 b) const { return a > b ? a : b; }
    qint32 ClampLong(qint32 value, qint32 minimum, qint32 maximum) const;
    double ClampDouble(double value, double minimum, double maximum) const;

    // "hh:mm:ss.hh" to seconds; "_" and blanks count as 0. Without separators the digits read
    // as hhmmsshh. Raises ToolError for other characters.
    double TimeTextToSeconds(const QString& text, qint32 code) const;
    // A time value as FormatTimeText takes it: seconds.
    double SecondsToTime(double hours, double minutes, double seconds) const;

    // ROT47 over "!".."~", other characters kept: applied to its own output it gives the clear
    // text back, and printable stays printable. Both flags transform alike.
    QString TransformPassword(const QString& text, bool flag) const;

private:
    GeneralFunctions() = default;

    QCoreApplication* m_app = nullptr;
    qint32 m_debugLevel = 0;
    QString m_debugPath;
    QString m_commandLine;
    int OpenLockFile();
    int m_lockFd = -1;
};
