#pragma once

#include "platform/richtext/RtfDocument.h"

#include <QByteArray>

// Writes a document as rich text (RTF) that RtfReader, word processors and rich text boxes
// read back: plain ASCII, with "\'hh" for Latin-1 characters and "\u" for all others. Table
// rows get equal cells across 6.25 inches, since the document keeps no widths.
class RtfWriter
{
public:
    // Runs without a font take fontName (none when empty), runs without a size
    // defaultPointSize.
    static QByteArray Write(const RtfDocument& document, const QString& fontName = QString(),
                            double defaultPointSize = 10);
};
