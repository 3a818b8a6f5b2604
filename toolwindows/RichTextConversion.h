#pragma once

#include "platform/richtext/RtfDocument.h"

class QTextDocument;

// Moves documents between the RTF reader and writer and the text documents of Qt's text boxes.
// Table rows are shown as tables; lengths in twips become pixels at the screen's logical DPI.
class RichTextConversion
{
public:
    // Replaces the target's content and its default tab distance.
    static void Fill(QTextDocument* target, const RtfDocument& source);
    // Sizes and fonts that the text does not set itself come out as 0 and "".
    static RtfDocument FromTextDocument(const QTextDocument* source);
    // The distance of tab stops that Qt's text boxes use when nobody sets one.
    static void ResetTabDistance(QTextDocument* target);
};
