#pragma once

#include "platform/richtext/RtfDocument.h"

#include <QByteArray>
#include <optional>

// Reads rich text (RTF) into paragraphs of styled runs: paragraphs with their alignment, left
// and first-line indents, tab stops, spacing before and after and line spacing, line breaks,
// tabs, table rows (cells as tabs), bold, italic, underline, strike-through, superscript and
// subscript, font size, font face, text and highlight colour, "\'hh" bytes in the document's
// code page and "\u" characters. Bullets and numbers are read from the text that lists carry
// for readers without lists; bytes of the Symbol font, and bullets of other symbol fonts,
// become the characters they draw, in the document's default font.
// Style sheets, list tables, pictures, objects, headers, footers and other destinations that
// are not body text are skipped. Any input ends in bounded time without a crash:
// unbalanced braces, truncated escapes and absurd parameters are tolerated, and groups nested
// deeper than MaxDepth are skipped.
class RtfReader
{
public:
    static constexpr int MaxDepth = 256;

    // Nothing when the data is not rich text (it does not begin with "{\rtf").
    static std::optional<RtfDocument> Read(const QByteArray& data);
};
