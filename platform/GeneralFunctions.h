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

    // True when another instance of this program runs for the same user. The first call takes
    // a per-user lock that is held until the process ends.
    bool AlreadyRunning();

    // Adds text as one line at the end of the file (created when missing). Raises ToolError
    // when the file cannot be written.
    void AppendToTextFile(const QString& filePath, bool addLineEnd, const QString& text);

    // One line to the component's own trace file (beside the debug log).
    void DebugTrace(const QString& text);

    QString PadText(const QString& text, qint32 width) const;

    // Set 1: decimal digits.
    bool IsCharacterInSet(QChar character, qint32 setId) const;
    // Class 1: digits and editing keys; 0 for anything else.
    qint32 FilterKey(qint32 keyCode, qint32 characterClass) const;

    qint32 ProcAddress(qint32 address) const { return address; }
    QString ProcessSwitchValue(const QString& value) const;
    QString ProcessSwitchValueEx(const QString& value) const;

    // The text from start (1-based) up to the next delimiter or the end; nextPosition receives
    // the position after the delimiter (beyond the text's length when the end was reached).
    QString ExtractToken(const QString& text, qint32 start, const QString& delimiter,
                         qint32& nextPosition, bool ignoreCase = true, bool flag2 = true) const;

    qint32 MaxLong(qint32 a, qint32 b) const { return a > b ? a : b; }
    qint32 ClampLong(qint32 value, qint32 minimum, qint32 maximum) const;
    double ClampDouble(double value, double minimum, double maximum) const;

    // "hh:mm:ss.hh" (separators optional) to seconds.
    double TimeTextToSeconds(const QString& text, qint32 code) const;
    // A time value as FormatTimeText takes it: seconds.
    double SecondsToTime(double hours, double minutes, double seconds) const;

    // Reversible: applied to its own output it gives the clear text back; printable stays printable.
    QString TransformPassword(const QString& text, bool flag) const;

private:
    GeneralFunctions() = default;

    QCoreApplication* m_app = nullptr;
    qint32 m_debugLevel = 0;
    QString m_debugPath;
    QString m_commandLine;
    int m_lockFd = -1;
    bool m_lockTried = false;
    bool m_otherInstance = false;
};
