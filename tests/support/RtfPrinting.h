#pragma once

// Readable failure messages for comparisons of RTF documents in tests.
#include "platform/richtext/RtfDocument.h"

#include <ostream>

inline void PrintTo(const RtfRun& run, std::ostream* os)
{
    *os << "\"" << run.Text.toStdString() << "\"" << (run.Bold ? " b" : "")
        << (run.Italic ? " i" : "") << (run.Underline ? " u" : "") << (run.Strike ? " s" : "")
        << (run.Script == RtfScript::Superscript ? " super"
            : run.Script == RtfScript::Subscript ? " sub"
                                                 : "")
        << " " << run.PointSize << "pt";
    if (!run.FontFamily.isEmpty()) {
        *os << " '" << run.FontFamily.toStdString() << "'";
    }
    if (run.Color) {
        *os << " colour " << std::hex << *run.Color << std::dec;
    }
    if (run.Highlight) {
        *os << " highlight " << std::hex << *run.Highlight << std::dec;
    }
}

inline void PrintTo(const RtfParagraph& paragraph, std::ostream* os)
{
    *os << "[" << (paragraph.TableRow ? "row " : "") << "align " << int(paragraph.Alignment)
        << " li " << paragraph.LeftIndent << " fi " << paragraph.FirstLineIndent << " sb "
        << paragraph.SpaceBefore << " sa " << paragraph.SpaceAfter << " sl "
        << paragraph.LineSpacing << (paragraph.LineSpacingMultiple ? "x" : "") << " tabs";
    for (const RtfTabStop& tab : paragraph.TabStops) {
        *os << " " << tab.Position << "/" << int(tab.Type);
    }
    for (const RtfRun& run : paragraph.Runs) {
        *os << "\n    ";
        PrintTo(run, os);
    }
    *os << "]";
}

inline void PrintTo(const RtfDocument& document, std::ostream* os)
{
    *os << "deftab " << document.DefaultTabWidth;
    for (const RtfParagraph& paragraph : document.Paragraphs) {
        *os << "\n  ";
        PrintTo(paragraph, os);
    }
}
