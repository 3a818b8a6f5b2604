#include "platform/richtext/RtfDocument.h"

QString RtfParagraph::Text() const
{
    QString text;
    for (const RtfRun& run : Runs) {
        text += run.Text;
    }
    return text;
}

RtfDocument::RtfDocument() : Paragraphs(1) {}

void RtfDocument::Append(const QString& text, const RtfRun& format)
{
    if (text.isEmpty()) {
        return;
    }
    if (Paragraphs.isEmpty()) {
        Paragraphs.append(RtfParagraph());
    }
    QList<RtfRun>& runs = Paragraphs.last().Runs;
    if (!runs.isEmpty() && runs.last().SameFormat(format)) {
        runs.last().Text += text;
        return;
    }
    RtfRun run = format;
    run.Text = text;
    runs.append(run);
}

void RtfDocument::NewParagraph()
{
    Paragraphs.append(RtfParagraph());
}

QString RtfDocument::PlainText() const
{
    QString text;
    for (qsizetype i = 0; i < Paragraphs.size(); ++i) {
        if (i > 0) {
            text += u'\n';
        }
        text += Paragraphs.at(i).Text();
    }
    text.replace(QChar::LineSeparator, u'\n');
    return text;
}
