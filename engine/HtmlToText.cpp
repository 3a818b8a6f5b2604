#include "engine/HtmlToText.h"

#include <QHash>
#include <QStringList>

namespace {

// HTML 4's Latin-1 names, code points 160 to 255 in order.
const char* const kLatin1Names =
    "nbsp iexcl cent pound curren yen brvbar sect uml copy ordf laquo not shy reg macr deg "
    "plusmn sup2 sup3 acute micro para middot cedil sup1 ordm raquo frac14 frac12 frac34 iquest "
    "Agrave Aacute Acirc Atilde Auml Aring AElig Ccedil Egrave Eacute Ecirc Euml Igrave Iacute "
    "Icirc Iuml ETH Ntilde Ograve Oacute Ocirc Otilde Ouml times Oslash Ugrave Uacute Ucirc Uuml "
    "Yacute THORN szlig agrave aacute acirc atilde auml aring aelig ccedil egrave eacute ecirc "
    "euml igrave iacute icirc iuml eth ntilde ograve oacute ocirc otilde ouml divide oslash "
    "ugrave uacute ucirc uuml yacute thorn yuml";

const QHash<QString, char32_t>& EntityTable()
{
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> t{
            {"quot", 34},     {"amp", 38},      {"apos", 39},    {"lt", 60},
            {"gt", 62},       {"OElig", 338},   {"oelig", 339},  {"Scaron", 352},
            {"scaron", 353},  {"Yuml", 376},    {"fnof", 402},   {"circ", 710},
            {"tilde", 732},   {"ensp", 8194},   {"emsp", 8195},  {"thinsp", 8201},
            {"zwnj", 8204},   {"zwj", 8205},    {"lrm", 8206},   {"rlm", 8207},
            {"ndash", 8211},  {"mdash", 8212},  {"lsquo", 8216}, {"rsquo", 8217},
            {"sbquo", 8218},  {"ldquo", 8220},  {"rdquo", 8221}, {"bdquo", 8222},
            {"dagger", 8224}, {"Dagger", 8225}, {"bull", 8226},  {"hellip", 8230},
            {"permil", 8240}, {"prime", 8242},  {"Prime", 8243}, {"lsaquo", 8249},
            {"rsaquo", 8250}, {"oline", 8254},  {"euro", 8364},  {"trade", 8482},
            {"larr", 8592},   {"uarr", 8593},   {"rarr", 8594},  {"darr", 8595},
            {"harr", 8596},   {"minus", 8722},  {"infin", 8734}, {"ne", 8800},
            {"le", 8804},     {"ge", 8805},
        };
        const QStringList names = QString::fromLatin1(kLatin1Names).split(' ');
        for (int i = 0; i < names.size(); ++i) {
            t.insert(names.at(i), char32_t(160 + i));
        }
        return t;
    }();
    return table;
}

// Decodes the character reference at html[pos] ('&'). Returns the character and sets length
// to the characters consumed; an unknown or unterminated reference is left as text (length 0).
char32_t DecodeReference(const QString& html, qsizetype pos, qsizetype& length)
{
    length = 0;
    // No further than the longest reference reaches: a text of bare '&' stays linear.
    const qsizetype found = QStringView(html).mid(pos + 1, 32).indexOf(u';');
    if (found < 0) {
        return 0;
    }
    const qsizetype semi = pos + 1 + found;
    const QString name = html.mid(pos + 1, semi - pos - 1);
    char32_t code = 0;
    if (name.startsWith(u'#')) {
        bool ok = false;
        const bool hex = name.size() > 1 && (name.at(1) == u'x' || name.at(1) == u'X');
        const uint value = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
        if (!ok) {
            return 0;
        }
        code = value;
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            code = 0xFFFD;
        }
    } else {
        const auto it = EntityTable().constFind(name);
        if (it == EntityTable().constEnd()) {
            return 0;
        }
        code = it.value();
    }
    length = semi - pos + 1;
    return code;
}

bool IsBlockTag(const QString& name)
{
    static const QStringList blocks{"p",  "div", "tr", "table", "ul", "ol", "li", "blockquote",
                                    "h1", "h2",  "h3", "h4",    "h5", "h6", "hr", "center"};
    return blocks.contains(name);
}

class TextBuilder
{
public:
    template <typename Characters> void Text(const Characters& characters)
    {
        if (m_space && !m_out.isEmpty() && !m_out.endsWith(u'\n')) {
            m_out += u' ';
        }
        m_space = false;
        m_out += characters;
    }
    // A referred character counts as the character itself: white space collapses, and a
    // control character would only break the plain text's lines or its 7-bit form.
    void Character(char32_t code)
    {
        if (QChar::isSpace(code)) {
            Space();
        } else if (QChar::requiresSurrogates(code)) {
            Text(QString::fromUcs4(&code, 1));
        } else if (QChar::category(code) != QChar::Other_Control) {
            Text(QChar(char16_t(code))); // a literal surrogate half stays as it is
        }
    }
    void Space() { m_space = true; }
    void Break()
    {
        TrimLineEnd();
        m_out += u'\n';
        m_space = false;
    }
    void EnsureLineStart()
    {
        if (!m_out.isEmpty() && !m_out.endsWith(u'\n')) {
            Break();
        }
        m_space = false;
    }
    QString Result()
    {
        TrimLineEnd();
        // At most one empty line in a row; none at either end.
        QString result;
        result.reserve(m_out.size());
        int newlines = 0;
        for (const QChar c : std::as_const(m_out)) {
            if (c == u'\n') {
                if (++newlines > 2 || result.isEmpty()) {
                    continue;
                }
            } else {
                newlines = 0;
            }
            result += c;
        }
        while (result.endsWith(u'\n')) {
            result.chop(1);
        }
        return result;
    }

private:
    void TrimLineEnd()
    {
        while (m_out.endsWith(u' ')) {
            m_out.chop(1);
        }
    }

    QString m_out;
    bool m_space = false;
};

} // namespace

QString HtmlToText(const QString& html)
{
    TextBuilder text;
    const qsizetype n = html.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = html.at(i);
        if (c == u'<' && i + 1 < n) {
            if (html.mid(i, 4) == QLatin1String("<!--")) {
                const qsizetype end = html.indexOf(QLatin1String("-->"), i + 4);
                i = end < 0 ? n : end + 3;
                continue;
            }
            const QChar next = html.at(i + 1);
            if (next.isLetter() || next == u'/' || next == u'!' || next == u'?') {
                // Find the tag's end, stepping over quoted attribute values.
                qsizetype j = i + 1;
                QChar quote;
                for (; j < n; ++j) {
                    const QChar d = html.at(j);
                    if (!quote.isNull()) {
                        if (d == quote) {
                            quote = QChar();
                        }
                    } else if (d == u'"' || d == u'\'') {
                        quote = d;
                    } else if (d == u'>') {
                        break;
                    }
                }
                const bool closing = next == u'/';
                qsizetype k = i + (closing ? 2 : 1);
                QString name;
                while (k < j && (html.at(k).isLetterOrNumber())) {
                    name += html.at(k++).toLower();
                }
                i = j < n ? j + 1 : n;

                if (!closing && (name == u"style" || name == u"script" || name == u"head" ||
                                 name == u"title")) {
                    const qsizetype end =
                        html.indexOf(QStringLiteral("</") + name, i, Qt::CaseInsensitive);
                    if (end < 0) {
                        i = n;
                    } else {
                        const qsizetype close = html.indexOf(u'>', end);
                        i = close < 0 ? n : close + 1;
                    }
                } else if (name == u"br") {
                    text.Break();
                } else if (IsBlockTag(name)) {
                    text.EnsureLineStart();
                } else if (name == u"td" || name == u"th") {
                    text.Space();
                }
                continue;
            }
        }
        if (c == u'&') {
            qsizetype length = 0;
            const char32_t decoded = DecodeReference(html, i, length);
            if (length > 0) {
                if (decoded == 160) { // a non-breaking space reads as a plain one in text
                    text.Text(u' ');
                } else {
                    text.Character(decoded);
                }
                i += length;
                continue;
            }
        }
        text.Character(c.unicode());
        ++i;
    }
    return text.Result();
}
