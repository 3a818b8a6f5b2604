#pragma once

#include <QByteArray>
#include <QString>

// The text as a log line shows it: every control character escaped, so that a file name
// holding a line break cannot forge a line of its own. Tab, line feed and carriage return
// become "\t", "\n" and "\r"; other C0 controls and DEL "\xhh"; C1 controls and the Unicode
// line and paragraph separators "\uhhhh". Everything else, backslashes included, is kept.
QString EscapeControlCharacters(const QString& text);

// A file name that is not UTF-8, as a log line can show it: what decodes stays text, every other
// byte becomes "\xhh". Control characters are left for the log to escape.
QString NameBytesText(const QByteArray& name);
