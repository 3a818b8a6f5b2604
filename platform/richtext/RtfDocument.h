#pragma once

#include <QList>
#include <QString>
#include <optional>

enum class RtfScript
{
    Normal,
    Superscript,
    Subscript
};

// One stretch of text in one character format.
struct RtfRun
{
    QString Text;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strike = false;
    RtfScript Script = RtfScript::Normal;
    double PointSize = 0; // 0: the showing box's own size
    QString FontFamily;   // "": the showing box's own font
    // 0xRRGGBB; none: the text's usual colour, no highlight.
    std::optional<quint32> Color;
    std::optional<quint32> Highlight;

    bool SameFormat(const RtfRun& other) const
    {
        return Bold == other.Bold && Italic == other.Italic && Underline == other.Underline &&
               Strike == other.Strike && Script == other.Script && PointSize == other.PointSize &&
               FontFamily == other.FontFamily && Color == other.Color &&
               Highlight == other.Highlight;
    }
    bool operator==(const RtfRun& other) const = default;
};

enum class RtfAlignment
{
    Left,
    Center,
    Right,
    Justify
};

struct RtfTabStop
{
    enum Kind
    {
        Left,
        Center,
        Right,
        Decimal
    };

    int Position = 0; // twips from the text area's left edge, as the left indent
    Kind Type = Left;

    bool operator==(const RtfTabStop& other) const = default;
};

// Line breaks inside a paragraph are held as QChar::LineSeparator. Bullets and numbers are
// text of their own at the start of the paragraph (usually followed by a tab), as word
// processors write them for readers that know no lists. A table row is one paragraph whose
// cells are separated by tabs; paragraphs inside a cell become line breaks.
struct RtfParagraph
{
    // Word processors allow no more per paragraph.
    static constexpr int MaxTabStops = 64;

    QList<RtfRun> Runs;
    RtfAlignment Alignment = RtfAlignment::Left;
    int LeftIndent = 0;      // twips
    int FirstLineIndent = 0; // twips, relative to the left indent; negative: hanging
    QList<RtfTabStop> TabStops;
    int SpaceBefore = 0; // twips
    int SpaceAfter = 0;  // twips
    // 0: single; otherwise twips, at least (positive) or exactly (negative), or with
    // LineSpacingMultiple in 240ths of a single line.
    int LineSpacing = 0;
    bool LineSpacingMultiple = false;
    bool TableRow = false;

    QString Text() const;
    bool operator==(const RtfParagraph& other) const = default;
};

// The content of a rich-text document as far as the viewer shows it: paragraphs with their
// alignment, indents, tab stops and spacing, holding runs of text that may be bold, italic,
// underlined, struck through, raised or lowered, of a given size, font, colour and
// highlight. Never empty: a document has at least one (possibly empty) paragraph.
class RtfDocument
{
public:
    // The format's default distance between tab stops.
    static constexpr int DefaultTabWidthTwips = 720;

    RtfDocument();

    QList<RtfParagraph> Paragraphs;
    int DefaultTabWidth = DefaultTabWidthTwips; // twips

    // Appends text in the given run's format (its own text is ignored) to the last
    // paragraph, joining it to the last run when the format is the same.
    void Append(const QString& text, const RtfRun& format);
    void NewParagraph();

    // Paragraphs joined by "\n", line breaks as "\n".
    QString PlainText() const;

    bool operator==(const RtfDocument& other) const = default;
};
