#pragma once

#include <QString>

// The text as a log line shows it: every control character escaped, so that a file name
// holding a line break cannot forge a line of its own. Tab, line feed and carriage return
// become "\t", "\n" and "\r"; other C0 controls and DEL "\xhh"; C1 controls and the Unicode
// line and paragraph separators "\uhhhh". Everything else, backslashes included, is kept.
QString EscapeControlCharacters(const QString& text);
