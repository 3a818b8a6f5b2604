#include "platform/richtext/RtfReader.h"

#include "platform/system/TextFileDecoder.h"

#include <QHash>
#include <QStringDecoder>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace {

enum class Destination
{
    Body,
    FontTable,
    ColorTable
};

// Word processors allow no indent, tab stop or spacing beyond 22 inches, nor line spacing
// beyond 132 lines; within this the viewer's sums of them cannot overflow.
constexpr int kMaxTwips = 31680;

struct ParagraphFormat
{
    RtfAlignment Alignment = RtfAlignment::Left;
    int LeftIndent = 0;
    int FirstLineIndent = 0;
    QList<RtfTabStop> TabStops;
    int SpaceBefore = 0;
    int SpaceAfter = 0;
    int LineSpacing = 0;
    bool LineSpacingMultiple = false;
    RtfTabStop::Kind NextTabKind = RtfTabStop::Left; // \tqr and the like, for the next \tx
    bool InTable = false;
};

struct GroupState
{
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strike = false;
    RtfScript Script = RtfScript::Normal;
    int HalfPoints = 24;     // the format's default of 12 points
    std::optional<int> Font; // none: the document's default font
    int Color = -1;          // colour table indices; -1: the usual colour, no highlight
    int Highlight = -1;
    int FallbackCount = 1; // \uc: characters that follow each \u for older readers
    bool Skip = false;     // inside a destination that is not body text
    Destination Dest = Destination::Body;
    ParagraphFormat Paragraph;
};

struct FontEntry
{
    QString Name;
    bool Symbol = false; // \fcharset2: bytes are glyph numbers, not characters
};

using namespace std::literals;

// The Symbol font's bytes from 0x20 and from 0xA0 as the characters they draw; "\0": no such
// character.
constexpr std::u16string_view kSymbolFromSpace =
    u" !∀#∃%&∋()∗+,−./0123456789:;<=>?≅ΑΒΧΔΕΦΓΗΙϑΚΛΜΝΟΠΘΡΣΤΥςΩΞΨΖ[∴]⊥_"
    u"\0αβχδεφγηιϕκλμνοπθρστυϖωξψζ{|}∼"sv;
constexpr std::u16string_view kSymbolFromA0 =
    u"€ϒ′≤⁄∞ƒ♣♦♥♠↔←↑→↓°±″≥×∝∂•÷≠≡≈…⏐⎯↵ℵℑℜ℘⊗⊕∅∩∪⊃⊇⊄⊂⊆∈∉∠∇®©™∏√⋅¬∧∨⇔⇐⇑⇒⇓"
    u"◊⟨®©™∑⎛⎜⎝⎡⎢⎣⎧⎨⎩⎪\0⟩∫⌠⎮⌡⎞⎟⎠⎤⎥⎦⎫⎬⎭"sv;
static_assert(kSymbolFromSpace.size() == 0x7F - 0x20 && kSymbolFromA0.size() == 0xFF - 0xA0);

// The character that a byte of a symbol font draws; 0 when unknown. Only bullets are known of
// fonts other than Symbol, since word processors write those as bytes of symbol fonts.
char16_t symbolCharacter(const QString& font, uchar byte)
{
    if (font.compare(QLatin1String("Symbol"), Qt::CaseInsensitive) == 0) {
        if (byte >= 0x20 && byte < 0x7F) {
            return kSymbolFromSpace[byte - 0x20];
        }
        return byte >= 0xA0 && byte < 0xFF ? kSymbolFromA0[byte - 0xA0] : 0;
    }
    if (font.startsWith(QLatin1String("Wingdings"), Qt::CaseInsensitive)) {
        switch (byte) {
        case 0x6C:
            return 0x25CF; // ●
        case 0x6E:
            return 0x25A0; // ■
        case 0x71:
            return 0x2751; // ❑
        case 0x76:
            return 0x2756; // ❖
        case 0xA7:
            return 0x25AA; // ▪
        case 0xD8:
            return 0x27A2; // ➢
        case 0xFC:
            return 0x2713; // ✓
        default:
            return 0;
        }
    }
    return byte == 0xB7 ? 0x2022 : 0; // Symbol's bullet
}

struct Symbol
{
    const char* word;
    char16_t character;
};

constexpr Symbol kSymbols[] = {
    {"tab", u'\t'},        {"line", QChar::LineSeparator},
    {"emdash", 0x2014},    {"endash", 0x2013},
    {"bullet", 0x2022},    {"lquote", 0x2018},
    {"rquote", 0x2019},    {"ldblquote", 0x201C},
    {"rdblquote", 0x201D}, {"emspace", 0x2003},
    {"enspace", 0x2002},   {"qmspace", 0x2005},
    {"zwj", 0x200D},       {"zwnj", 0x200C},
    {"ltrmark", 0x200E},   {"rtlmark", 0x200F},
    {"nestcell", u'\t'},   {"nestrow", QChar::LineSeparator},
};

// Groups whose text is never shown.
constexpr const char* kDestinations[] = {
    "stylesheet",
    "info",
    "pict",
    "object",
    "header",
    "headerl",
    "headerr",
    "headerf",
    "footer",
    "footerl",
    "footerr",
    "footerf",
    "footnote",
    "listtable",
    "listoverridetable",
    "revtbl",
    "rsidtbl",
    "filetbl",
    "xmlnstbl",
    "generator",
    "themedata",
    "colorschememapping",
    "latentstyles",
    "datastore",
    "pn",
    "nonshppict",
    "shp",
    "fldinst",
    "bkmkstart",
    "bkmkend",
    "annotation",
    "atnid",
    "atnauthor",
    "txe",
    "xe",
    "tc",
    "private",
    "pgdsctbl",
    "mmathPr",
};

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isUnderlineWord(const QByteArray& word)
{
    // \ulc is the underline's colour, \ulnone handled apart.
    static constexpr const char* kWords[] = {
        "ul",         "uld",       "uldash",     "uldashd", "uldashdd", "uldb",
        "ulhwave",    "ulldash",   "ulth",       "ulthd",   "ulthdash", "ulthdashd",
        "ulthdashdd", "ulthldash", "ululdbwave", "ulw",     "ulwave"};
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](const char* w) { return word == w; });
}

class Parser
{
public:
    explicit Parser(const QByteArray& data)
        : m_pos(data.constData()), m_end(data.constData() + data.size())
    {}

    RtfDocument Run()
    {
        while (m_pos < m_end && !m_finished) {
            const char c = *m_pos;
            if (c == '{') {
                ++m_pos;
                OpenGroup();
            } else if (c == '}') {
                ++m_pos;
                CloseGroup();
            } else if (m_overflow > 0) {
                // Inside groups too deep to follow: only the braces count; an escaped
                // brace must not.
                m_pos += (c == '\\' && m_end - m_pos >= 2) ? 2 : 1;
            } else if (c == '\\') {
                ++m_pos;
                ControlSequence();
            } else {
                ++m_pos;
                if (c == '\r' || c == '\n') {
                    continue;
                }
                TextByte(uchar(c));
            }
        }
        Flush();
        // Rich text boxes end every document with a paragraph mark, which closes the last
        // paragraph rather than opening an empty one.
        if (m_document.Paragraphs.size() > 1 && m_document.Paragraphs.last().Runs.isEmpty()) {
            m_document.Paragraphs.removeLast();
        } else if (!m_stack.empty() && !m_document.Paragraphs.last().Runs.isEmpty()) {
            ApplyParagraphFormat(m_document.Paragraphs.last());
        }
        return m_document;
    }

private:
    GroupState& State() { return m_stack.back(); }

    void OpenGroup()
    {
        Flush();
        m_pendingFallback = 0;
        if (m_stack.empty()) {
            m_stack.emplace_back();
        } else if (m_overflow > 0 || int(m_stack.size()) >= RtfReader::MaxDepth) {
            ++m_overflow;
        } else {
            m_stack.push_back(m_stack.back());
        }
    }

    void CloseGroup()
    {
        Flush();
        m_pendingFallback = 0;
        if (m_overflow == 0 && !m_stack.empty() && State().Dest == Destination::FontTable &&
            !State().Skip) {
            // An entry may end with its group instead of ";".
            CommitFontName();
        }
        if (m_overflow > 0) {
            --m_overflow;
        } else if (m_stack.size() <= 1) {
            m_finished = true; // the closing brace of the document; a surplus one ends it too
        } else {
            m_stack.pop_back();
        }
    }

    // Bytes of the document's code page wait here until something else comes, so that
    // multi-byte characters written as several "\'hh" decode whole.
    void TextByte(uchar byte)
    {
        if (State().Skip) {
            return;
        }
        if (m_pendingFallback > 0) {
            --m_pendingFallback;
            return;
        }
        if (byte < 0x20 && byte != '\t') {
            return;
        }
        m_bytes.append(char(byte));
    }

    void EscapedByte(uchar byte)
    {
        if (State().Skip) {
            return;
        }
        if (m_pendingFallback > 0) {
            --m_pendingFallback;
            return;
        }
        m_bytes.append(char(byte));
    }

    void Flush()
    {
        if (m_bytes.isEmpty() || m_stack.empty()) {
            m_bytes.clear();
            return;
        }
        QString text;
        const FontEntry font = CurrentFont();
        if (font.Symbol && State().Dest == Destination::Body) {
            const QByteArray bytes = std::exchange(m_bytes, QByteArray());
            for (const char byte : bytes) {
                if (!EmitSymbol(uchar(byte))) {
                    Emit(TextFileDecoder::FromWindows1252(QByteArray(1, byte)));
                }
            }
            return;
        }
        if (m_decoder.isValid()) {
            text = m_decoder.decode(m_bytes);
            m_decoder.resetState();
        } else {
            text = TextFileDecoder::FromWindows1252(m_bytes);
        }
        m_bytes.clear();
        Emit(text);
    }

    void Emit(const QString& text, const QString* fontFamily = nullptr)
    {
        const GroupState& state = State();
        if (state.Dest == Destination::FontTable) {
            FontTableText(text);
            return;
        }
        if (state.Dest == Destination::ColorTable) {
            ColorTableText(text);
            return;
        }
        RtfRun format;
        format.Bold = state.Bold;
        format.Italic = state.Italic;
        format.Underline = state.Underline;
        format.Strike = state.Strike;
        format.Script = state.Script;
        format.PointSize = state.HalfPoints / 2.0;
        format.FontFamily = fontFamily ? *fontFamily : CurrentFont().Name;
        format.Color = ColorAt(state.Color);
        format.Highlight = ColorAt(state.Highlight);
        m_document.Append(text, format);
        m_endsWithCellBreak = false;
    }

    // A symbol font's face may have no glyph at the character's own place, and is never
    // substituted: known characters are shown in the document's default font.
    bool EmitSymbol(uchar glyph)
    {
        const char16_t character = symbolCharacter(CurrentFont().Name, glyph);
        if (character == 0) {
            return false;
        }
        const FontEntry plainFont = m_fonts.value(m_defaultFont);
        const QString plainName = plainFont.Symbol ? QString() : plainFont.Name;
        Emit(QString(QChar(character)), &plainName);
        return true;
    }

    FontEntry CurrentFont() const
    {
        return m_fonts.value(m_stack.back().Font.value_or(m_defaultFont));
    }

    std::optional<quint32> ColorAt(int index) const
    {
        return index >= 0 && index < m_colors.size() ? m_colors.at(index) : std::nullopt;
    }

    void FontTableText(const QString& text)
    {
        for (const QChar ch : text) {
            if (ch == u';') {
                CommitFontName();
            } else if (m_fontEntry && !m_fontNamed) {
                m_fontName += ch;
            }
        }
    }

    void CommitFontName()
    {
        if (m_fontEntry && !m_fontNamed) {
            m_fonts[*m_fontEntry].Name = m_fontName.trimmed();
            m_fontNamed = true;
        }
        m_fontName.clear();
    }

    void ColorTableText(const QString& text)
    {
        for (const QChar ch : text) {
            if (ch == u';') {
                // An entry without components is the text's usual colour.
                m_colors.append(m_colorGiven
                                    ? std::optional<quint32>(m_red << 16 | m_green << 8 | m_blue)
                                    : std::nullopt);
                m_red = m_green = m_blue = 0;
                m_colorGiven = false;
            }
        }
    }

    // Words that mean something inside the font and colour tables; all others do not.
    void TableWord(const QByteArray& word, bool hasParameter, qint32 parameter)
    {
        if (State().Dest == Destination::FontTable) {
            if (word == "f") {
                CommitFontName();
                m_fontEntry = hasParameter ? parameter : 0;
                m_fontNamed = false;
                m_fonts[*m_fontEntry].Symbol = false;
            } else if (word == "fcharset" && m_fontEntry) {
                m_fonts[*m_fontEntry].Symbol = parameter == 2;
            }
            return;
        }
        const quint32 component = quint32(std::clamp(parameter, 0, 255));
        if (word == "red") {
            m_red = component;
        } else if (word == "green") {
            m_green = component;
        } else if (word == "blue") {
            m_blue = component;
        } else {
            return;
        }
        m_colorGiven = true;
    }

    // The paragraph takes the format in force at its mark.
    void ApplyParagraphFormat(RtfParagraph& paragraph) const
    {
        const ParagraphFormat& format = m_stack.back().Paragraph;
        paragraph.Alignment = format.Alignment;
        paragraph.LeftIndent = format.LeftIndent;
        paragraph.FirstLineIndent = format.FirstLineIndent;
        paragraph.TabStops = format.TabStops;
        paragraph.SpaceBefore = format.SpaceBefore;
        paragraph.SpaceAfter = format.SpaceAfter;
        // A multiple of lines is never exact; without a spacing there is nothing to multiply.
        paragraph.LineSpacingMultiple = format.LineSpacingMultiple && format.LineSpacing != 0;
        paragraph.LineSpacing =
            paragraph.LineSpacingMultiple ? std::abs(format.LineSpacing) : format.LineSpacing;
    }

    void EndParagraph(bool tableRow)
    {
        RtfParagraph& paragraph = m_document.Paragraphs.last();
        if (tableRow && m_endsWithCellBreak && !paragraph.Runs.isEmpty()) {
            // The tab after the last cell separates nothing.
            paragraph.Runs.last().Text.chop(1);
            if (paragraph.Runs.last().Text.isEmpty()) {
                paragraph.Runs.removeLast();
            }
        }
        ApplyParagraphFormat(paragraph);
        paragraph.TableRow = tableRow;
        m_document.NewParagraph();
        m_endsWithCellBreak = false;
    }

    // A character given by a control word or symbol.
    void EmitCharacter(char16_t character)
    {
        if (State().Skip) {
            return;
        }
        if (m_pendingFallback > 0) {
            --m_pendingFallback;
            return;
        }
        Emit(QString(QChar(character)));
    }

    void ControlSequence()
    {
        if (m_pos >= m_end) {
            return;
        }
        const char c = *m_pos;
        if (c == '\'') {
            ++m_pos;
            int value = 0;
            int digits = 0;
            while (digits < 2 && m_pos < m_end && hexValue(*m_pos) >= 0) {
                value = value * 16 + hexValue(*m_pos);
                ++m_pos;
                ++digits;
            }
            if (digits == 2) {
                EscapedByte(uchar(value));
            }
            return;
        }
        Flush();
        if (!isLetter(c)) {
            ++m_pos;
            ControlSymbol(c);
            return;
        }
        QByteArray word;
        while (m_pos < m_end && isLetter(*m_pos)) {
            if (word.size() < 32) {
                word.append(*m_pos);
            }
            ++m_pos;
        }
        bool hasParameter = false;
        qint64 parameter = 0;
        const char* start = m_pos;
        bool negative = false;
        if (m_pos < m_end && *m_pos == '-' && m_end - m_pos >= 2 && isDigit(m_pos[1])) {
            negative = true;
            ++m_pos;
        }
        while (m_pos < m_end && isDigit(*m_pos)) {
            hasParameter = true;
            if (parameter < 100000000000LL) {
                parameter = parameter * 10 + (*m_pos - '0');
            }
            ++m_pos;
        }
        if (!hasParameter) {
            m_pos = start;
        }
        if (m_pos < m_end && *m_pos == ' ') {
            ++m_pos;
        }
        parameter = std::clamp<qint64>(negative ? -parameter : parameter, INT32_MIN, INT32_MAX);
        ControlWord(word, hasParameter, qint32(parameter));
    }

    void ControlSymbol(char c)
    {
        switch (c) {
        case '\\':
        case '{':
        case '}':
            EmitCharacter(char16_t(c));
            break;
        case '~':
            EmitCharacter(0x00A0);
            break;
        case '_':
            EmitCharacter(0x2011);
            break;
        case '*':
            State().Skip = true;
            break;
        case '\r':
        case '\n':
            ParagraphMark();
            break;
        default:
            // "\-" optional hyphen, "\:", "\|" and unknown symbols show nothing, but still
            // stand for one fallback character.
            if (m_pendingFallback > 0 && !State().Skip) {
                --m_pendingFallback;
            }
            break;
        }
    }

    void ParagraphMark()
    {
        if (State().Skip || State().Dest != Destination::Body) {
            return;
        }
        if (m_pendingFallback > 0) {
            --m_pendingFallback;
            return;
        }
        if (State().Paragraph.InTable) {
            // One of several paragraphs of a cell; the row stays one paragraph.
            Emit(QString(QChar(QChar::LineSeparator)));
        } else {
            EndParagraph(false);
        }
    }

    void ControlWord(const QByteArray& word, bool hasParameter, qint32 parameter)
    {
        GroupState& state = State();
        if (word == "bin") {
            // Binary data of the given length follows; it is never text.
            const qint64 length = hasParameter ? std::max<qint64>(parameter, 0) : 0;
            m_pos += std::min<qint64>(length, m_end - m_pos);
            return;
        }
        if (std::any_of(std::begin(kDestinations), std::end(kDestinations),
                        [&](const char* d) { return word == d; })) {
            state.Skip = true;
            return;
        }
        if (state.Skip) {
            return;
        }
        if (word == "fonttbl") {
            state.Dest = Destination::FontTable;
            m_fontEntry.reset();
            return;
        }
        if (word == "colortbl") {
            state.Dest = Destination::ColorTable;
            return;
        }
        if (m_pendingFallback > 0) {
            // Stands for one of the characters that follow "\u" for older readers.
            --m_pendingFallback;
            return;
        }
        const bool on = !hasParameter || parameter != 0;
        if (state.Dest != Destination::Body && word != "u" && word != "uc") {
            TableWord(word, hasParameter, parameter);
            return;
        }
        ParagraphFormat& paragraph = state.Paragraph;
        if (word == "u") {
            // The fallback is skipped only when the character itself could be shown.
            const qint32 unit = parameter < 0 ? parameter + 65536 : parameter;
            if (hasParameter && unit > 0 && unit <= 0xFFFF) {
                // Symbol fonts' own tables put their glyphs at 0xF000 and up.
                const bool symbol = CurrentFont().Symbol && state.Dest == Destination::Body &&
                                    unit >= 0xF020 && unit <= 0xF0FF;
                if (!symbol || !EmitSymbol(uchar(unit - 0xF000))) {
                    Emit(QString(QChar(char16_t(unit))));
                }
                m_pendingFallback = state.FallbackCount;
            }
        } else if (word == "uc") {
            state.FallbackCount = hasParameter ? std::clamp(parameter, 0, 16) : 1;
        } else if (word == "par") {
            ParagraphMark();
        } else if (word == "sect") {
            EndParagraph(false);
        } else if (word == "row") {
            EndParagraph(true);
            paragraph.InTable = false;
        } else if (word == "cell") {
            Emit(QStringLiteral("\t"));
            m_endsWithCellBreak = true;
        } else if (word == "intbl") {
            paragraph.InTable = true;
        } else if (word == "pard") {
            paragraph = ParagraphFormat();
        } else if (word == "ql") {
            paragraph.Alignment = RtfAlignment::Left;
        } else if (word == "qc") {
            paragraph.Alignment = RtfAlignment::Center;
        } else if (word == "qr") {
            paragraph.Alignment = RtfAlignment::Right;
        } else if (word == "qj" || word == "qd") {
            paragraph.Alignment = RtfAlignment::Justify;
        } else if (word == "li" || word == "lin") {
            paragraph.LeftIndent = std::clamp(parameter, -kMaxTwips, kMaxTwips);
        } else if (word == "fi") {
            paragraph.FirstLineIndent = std::clamp(parameter, -kMaxTwips, kMaxTwips);
        } else if (word == "sb") {
            paragraph.SpaceBefore = std::clamp(parameter, 0, kMaxTwips);
        } else if (word == "sa") {
            paragraph.SpaceAfter = std::clamp(parameter, 0, kMaxTwips);
        } else if (word == "sl") {
            paragraph.LineSpacing = std::clamp(parameter, -kMaxTwips, kMaxTwips);
        } else if (word == "slmult") {
            paragraph.LineSpacingMultiple = on;
        } else if (word == "tqr") {
            paragraph.NextTabKind = RtfTabStop::Right;
        } else if (word == "tqc") {
            paragraph.NextTabKind = RtfTabStop::Center;
        } else if (word == "tqdec") {
            paragraph.NextTabKind = RtfTabStop::Decimal;
        } else if (word == "tx" || word == "tb") {
            if (word == "tx" && paragraph.TabStops.size() < RtfParagraph::MaxTabStops) {
                paragraph.TabStops.append(
                    {std::clamp(parameter, -kMaxTwips, kMaxTwips), paragraph.NextTabKind});
            }
            paragraph.NextTabKind = RtfTabStop::Left;
        } else if (word == "deftab") {
            if (parameter > 0) {
                m_document.DefaultTabWidth = parameter;
            }
        } else if (word == "deff") {
            m_defaultFont = parameter;
        } else if (word == "f") {
            state.Font = parameter;
        } else if (word == "cf") {
            state.Color = parameter;
        } else if (word == "highlight" || word == "cb" || word == "chcbpat") {
            // 0 is "none" here, even where the table's first entry is a real colour.
            state.Highlight = parameter > 0 ? parameter : -1;
        } else if (word == "b") {
            state.Bold = on;
        } else if (word == "i") {
            state.Italic = on;
        } else if (word == "ulnone") {
            state.Underline = false;
        } else if (isUnderlineWord(word)) {
            state.Underline = on;
        } else if (word == "strike" || word == "striked") {
            state.Strike = on;
        } else if (word == "super") {
            state.Script = RtfScript::Superscript;
        } else if (word == "sub") {
            state.Script = RtfScript::Subscript;
        } else if (word == "nosupersub") {
            state.Script = RtfScript::Normal;
        } else if (word == "up" || word == "dn") {
            // Raised or lowered by a number of half-points, 6 when none is given.
            const qint32 amount = hasParameter ? parameter : 6;
            const int raise = (amount > 0) - (amount < 0);
            state.Script = (word == "up" ? raise : -raise) > 0 ? RtfScript::Superscript
                           : raise != 0                        ? RtfScript::Subscript
                                                               : RtfScript::Normal;
        } else if (word == "fs") {
            state.HalfPoints = (hasParameter && parameter > 0) ? std::min(parameter, 3276) : 24;
        } else if (word == "plain") {
            state.Bold = state.Italic = state.Underline = state.Strike = false;
            state.Script = RtfScript::Normal;
            state.HalfPoints = 24;
            state.Font.reset();
            state.Color = -1;
            state.Highlight = -1;
        } else if (word == "ansicpg") {
            if (hasParameter) {
                SetCodePage(parameter);
            }
        } else if (word == "mac") {
            SetCodePage(10000);
        } else if (word == "pc") {
            SetCodePage(437);
        } else if (word == "pca") {
            SetCodePage(850);
        } else {
            for (const Symbol& symbol : kSymbols) {
                if (word == symbol.word) {
                    Emit(QString(QChar(symbol.character)));
                    break;
                }
            }
        }
    }

    void SetCodePage(qint32 codePage)
    {
        // 1252 decodes through our own table, so it needs no converter.
        if (codePage == m_codePage) {
            return;
        }
        m_codePage = codePage;
        if (codePage == 1252 || codePage <= 0 || codePage > 65535) {
            m_decoder = QStringDecoder();
        } else if (codePage == 65001) {
            m_decoder = QStringDecoder(QStringDecoder::Utf8);
        } else if (codePage == 10000) {
            m_decoder = QStringDecoder("macintosh");
        } else {
            m_decoder = QStringDecoder(QByteArray("windows-" + QByteArray::number(codePage)));
            if (!m_decoder.isValid()) {
                m_decoder = QStringDecoder(QByteArray("cp" + QByteArray::number(codePage)));
            }
        }
    }

    const char* m_pos;
    const char* m_end;
    std::vector<GroupState> m_stack;
    int m_overflow = 0;
    int m_pendingFallback = 0;
    bool m_finished = false;
    qint32 m_codePage = 1252;
    QStringDecoder m_decoder;
    QByteArray m_bytes;
    RtfDocument m_document;
    bool m_endsWithCellBreak = false;
    QHash<int, FontEntry> m_fonts;
    int m_defaultFont = 0;
    std::optional<int> m_fontEntry; // the font table's entry being read
    QString m_fontName;
    bool m_fontNamed = false;
    QList<std::optional<quint32>> m_colors;
    quint32 m_red = 0;
    quint32 m_green = 0;
    quint32 m_blue = 0;
    bool m_colorGiven = false;
};

} // namespace

std::optional<RtfDocument> RtfReader::Read(const QByteArray& data)
{
    if (!data.startsWith("{\\rtf")) {
        return std::nullopt;
    }
    return Parser(data).Run();
}
