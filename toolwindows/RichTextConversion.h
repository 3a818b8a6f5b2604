#pragma once

#include "platform/RtfDocument.h"

class QTextDocument;

// Moves documents between the RTF reader and writer and the text documents of Qt's text boxes.
class RichTextConversion
{
public:
    // Replaces the target's content.
    static void Fill(QTextDocument* target, const RtfDocument& source);
    // Sizes that the text does not set itself come out as 0.
    static RtfDocument FromTextDocument(const QTextDocument* source);
};
