#pragma once

#include "RtfDocument.h"

#include <QByteArray>

// Writes a document as rich text (RTF) that RtfReader, word processors and rich text boxes
// read back: plain ASCII, with "\'hh" for Latin-1 characters and "\u" for all others.
class RtfWriter
{
public:
    // Runs without a size take DefaultPointSize.
    static QByteArray Write(const RtfDocument& document, const QString& fontName = "Arial",
                            double defaultPointSize = 10);
};
