#pragma once

#include <QString>

// The plain-text alternative of an HTML mail body: tags dropped (the content of style, script
// and head with them), line breaks where the HTML breaks lines, white space collapsed as a
// browser does, named and numeric character references decoded, other control characters
// dropped. Lines end with "\n".
QString HtmlToText(const QString& html);
