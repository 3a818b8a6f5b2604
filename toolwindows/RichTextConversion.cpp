#include "RichTextConversion.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

void RichTextConversion::Fill(QTextDocument* target, const RtfDocument& source)
{
    target->clear();
    QTextCursor cursor(target);
    cursor.beginEditBlock();
    for (qsizetype p = 0; p < source.Paragraphs.size(); ++p) {
        if (p > 0) {
            cursor.insertBlock();
        }
        for (const RtfRun& run : source.Paragraphs.at(p).Runs) {
            QTextCharFormat format;
            format.setFontWeight(run.Bold ? QFont::Bold : QFont::Normal);
            format.setFontItalic(run.Italic);
            format.setFontUnderline(run.Underline);
            if (run.PointSize > 0) {
                format.setFontPointSize(run.PointSize);
            }
            cursor.insertText(run.Text, format);
        }
    }
    cursor.endEditBlock();
}

RtfDocument RichTextConversion::FromTextDocument(const QTextDocument* source)
{
    RtfDocument document;
    document.Paragraphs.clear();
    for (QTextBlock block = source->begin(); block.isValid(); block = block.next()) {
        document.NewParagraph();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) {
                continue;
            }
            const QTextCharFormat format = fragment.charFormat();
            RtfRun run;
            run.Bold = format.fontWeight() > QFont::Medium;
            run.Italic = format.fontItalic();
            run.Underline = format.fontUnderline();
            run.PointSize =
                format.hasProperty(QTextFormat::FontPointSize) ? format.fontPointSize() : 0;
            QString text = fragment.text();
            text.remove(QChar::ObjectReplacementCharacter);
            document.Append(text, run);
        }
    }
    if (document.Paragraphs.isEmpty()) {
        document.NewParagraph();
    }
    return document;
}
