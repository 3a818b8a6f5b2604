#pragma once

#include <QList>
#include <QString>

// One stretch of text in one character format.
struct RtfRun
{
    QString Text;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    double PointSize = 0; // 0: the showing box's own size

    bool SameFormat(const RtfRun& other) const
    {
        return Bold == other.Bold && Italic == other.Italic && Underline == other.Underline &&
               PointSize == other.PointSize;
    }
    bool operator==(const RtfRun& other) const = default;
};

// Line breaks inside a paragraph are held as QChar::LineSeparator.
struct RtfParagraph
{
    QList<RtfRun> Runs;

    QString Text() const;
    bool operator==(const RtfParagraph& other) const = default;
};

// The content of a rich-text document as far as the viewer shows it: paragraphs of runs of
// text that may be bold, italic, underlined and of a given size. Never empty: a document
// has at least one (possibly empty) paragraph.
class RtfDocument
{
public:
    RtfDocument();

    QList<RtfParagraph> Paragraphs;

    // Appends text in the given run's format (its own text is ignored) to the last
    // paragraph, joining it to the last run when the format is the same.
    void Append(const QString& text, const RtfRun& format);
    void NewParagraph();

    // Paragraphs joined by "\n", line breaks as "\n".
    QString PlainText() const;

    bool operator==(const RtfDocument& other) const = default;
};
