#include "RtfReader.h"

#include "TextFileDecoder.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct GroupState
{
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    int HalfPoints = 24;   // the format's default of 12 points
    int FallbackCount = 1; // \uc: characters that follow each \u for older readers
    bool Skip = false;     // inside a destination that is not body text
};

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
    {"cell", u'\t'},       {"nestcell", u'\t'},
};

// Groups whose text is never shown.
constexpr const char* kDestinations[] = {
    "fonttbl",
    "colortbl",
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
        if (m_decoder.isValid()) {
            text = m_decoder.decode(m_bytes);
            m_decoder.resetState();
        } else {
            text = TextFileDecoder::FromWindows1252(m_bytes);
        }
        m_bytes.clear();
        Emit(text);
    }

    void Emit(const QString& text)
    {
        RtfRun format;
        format.Bold = State().Bold;
        format.Italic = State().Italic;
        format.Underline = State().Underline;
        format.PointSize = State().HalfPoints / 2.0;
        m_document.Append(text, format);
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
            Paragraph();
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

    void Paragraph()
    {
        if (State().Skip) {
            return;
        }
        if (m_pendingFallback > 0) {
            --m_pendingFallback;
            return;
        }
        m_document.NewParagraph();
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
        if (m_pendingFallback > 0) {
            // Stands for one of the characters that follow "\u" for older readers.
            --m_pendingFallback;
            return;
        }
        const bool on = !hasParameter || parameter != 0;
        if (word == "u") {
            // The fallback is skipped only when the character itself could be shown.
            const qint32 unit = parameter < 0 ? parameter + 65536 : parameter;
            if (hasParameter && unit > 0 && unit <= 0xFFFF) {
                Emit(QString(QChar(char16_t(unit))));
                m_pendingFallback = state.FallbackCount;
            }
        } else if (word == "uc") {
            state.FallbackCount = hasParameter ? std::clamp(parameter, 0, 16) : 1;
        } else if (word == "par" || word == "sect" || word == "row" || word == "nestrow") {
            m_document.NewParagraph();
        } else if (word == "b") {
            state.Bold = on;
        } else if (word == "i") {
            state.Italic = on;
        } else if (word == "ulnone") {
            state.Underline = false;
        } else if (isUnderlineWord(word)) {
            state.Underline = on;
        } else if (word == "fs") {
            state.HalfPoints = (hasParameter && parameter > 0) ? std::min(parameter, 3276) : 24;
        } else if (word == "plain") {
            state.Bold = state.Italic = state.Underline = false;
            state.HalfPoints = 24;
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
};

} // namespace

std::optional<RtfDocument> RtfReader::Read(const QByteArray& data)
{
    if (!data.startsWith("{\\rtf")) {
        return std::nullopt;
    }
    return Parser(data).Run();
}
