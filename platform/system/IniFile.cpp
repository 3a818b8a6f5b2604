#include "platform/system/IniFile.h"

#include "platform/system/SaveWhole.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>
#include <optional>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five unassigned bytes map to the
// C1 controls of the same value, as Windows' own conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString decodeCp1252(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.append(b >= 0x80 && b <= 0x9F ? QChar(kCp1252High[b - 0x80]) : QChar(b));
    }
    return text;
}

std::optional<QString> decodeUtf8Strict(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

struct Document
{
    QStringList lines;
    bool exists = false;
    bool readable = true;
    bool bom = false;
    // UTF-16 with its mark, as Windows Notepad saves "Unicode" (little-endian) and "Unicode big
    // endian"; kept so.
    std::optional<QStringConverter::Encoding> utf16;
    bool crlf = false;
};

// Files with a batch open: their reads and writes go to this copy until the batch commits.
struct OpenBatch
{
    Document doc;
    int depth = 0;
    bool dirty = false;
};
QHash<QString, OpenBatch>& openBatches()
{
    static QHash<QString, OpenBatch> batches;
    return batches;
}
QString batchKey(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

Document loadFromDisk(const QString& path);
Result<> saveToDisk(const QString& path, const Document& doc);

Document load(const QString& path)
{
    const auto batch = openBatches().constFind(batchKey(path));
    if (batch != openBatches().constEnd()) {
        return batch->doc;
    }
    return loadFromDisk(path);
}

bool save(const QString& path, const Document& doc)
{
    const auto batch = openBatches().find(batchKey(path));
    if (batch != openBatches().end()) {
        batch->doc = doc;
        batch->doc.exists = true;
        batch->dirty = true;
        return true;
    }
    return saveToDisk(path, doc).Ok();
}

// Reads the whole file afresh. A file that cannot be opened reads as missing.
Document loadFromDisk(const QString& path)
{
    Document doc;
    QFile file(path);
    if (!file.exists()) {
        return doc;
    }
    doc.exists = true;
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        doc.readable = false;
        return doc;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        doc.readable = false;
        return doc;
    }
    const QByteArray mark("\xEF\xBB\xBF");
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        // Windows' profile functions read and write such files; keep them in their form.
        doc.utf16 =
            bytes.startsWith("\xFF") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        QStringDecoder decoder(*doc.utf16, QStringConverter::Flag::ConvertInitialBom);
        bytes = QString(decoder.decode(QByteArrayView(bytes).sliced(2))).toUtf8();
    } else {
        doc.bom = bytes.startsWith(mark);
    }
    const qsizetype firstLf = bytes.indexOf('\n');
    doc.crlf = firstLf > 0 && bytes.at(firstLf - 1) == '\r';

    const bool wholeFileUtf8 = decodeUtf8Strict(bytes).has_value();
    QList<QByteArray> rawLines = bytes.split('\n');
    if (!rawLines.isEmpty() && rawLines.last().isEmpty()) {
        rawLines.removeLast();
    }
    doc.lines.reserve(rawLines.size());
    for (QByteArray& raw : rawLines) {
        if (raw.endsWith('\r')) {
            raw.chop(1);
        }
        // Further marks, left by editors or by joining files, would hide a section's name; the
        // file is written back with its one mark.
        while (raw.startsWith(mark)) {
            raw.remove(0, mark.size());
        }
        // Decided per line, so that a file edited both here and on Windows reads right.
        std::optional<QString> text;
        if (wholeFileUtf8) {
            text = QString::fromUtf8(raw);
        } else {
            text = decodeUtf8Strict(raw);
        }
        doc.lines.append(text ? *text : decodeCp1252(raw));
    }
    return doc;
}

Result<> saveToDisk(const QString& path, const Document& doc)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        return Failure{QStringLiteral("the folder '%1' could not be created").arg(folder)};
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        return Failure{file.errorString()};
    }
    QByteArray bytes;
    if (doc.bom) {
        bytes.append("\xEF\xBB\xBF");
    }
    const char* lineEnd = doc.crlf ? "\r\n" : "\n";
    for (const QString& line : doc.lines) {
        bytes.append(line.toUtf8());
        bytes.append(lineEnd);
    }
    if (doc.utf16) {
        const QString text = QChar(QChar::ByteOrderMark) + QString::fromUtf8(bytes);
        bytes = QStringEncoder(*doc.utf16).encode(text);
    }
    return SaveWhole(file, bytes);
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// "[name]" after optional blanks.
std::optional<QString> sectionName(const QString& line)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(u'[')) {
        return std::nullopt;
    }
    const qsizetype close = trimmed.indexOf(u']');
    if (close < 0) {
        return std::nullopt;
    }
    return trimmed.mid(1, close - 1).trimmed();
}

struct KeyLine
{
    QString key;
    qsizetype equals = -1;
};

// "key=value"; lines starting with ';' are comments and never match.
std::optional<KeyLine> keyLine(const QString& line)
{
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0) {
        return std::nullopt;
    }
    const QString key = line.left(equals).trimmed();
    if (key.isEmpty() || key.startsWith(u';') || key.startsWith(u'[')) {
        return std::nullopt;
    }
    return KeyLine{key, equals};
}

QString valueOf(const QString& line, qsizetype equals)
{
    QString value = line.mid(equals + 1).trimmed();
    if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"')) {
        value = value.mid(1, value.size() - 2);
    }
    return value;
}

struct SectionRange
{
    qsizetype header = -1; // index of the "[name]" line
    qsizetype end = -1;    // index of the next section's header, or the line count
};

std::optional<SectionRange> findSection(const QStringList& lines, const QString& section)
{
    const QString wanted = section.trimmed();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines.at(i));
        if (name && sameName(*name, wanted)) {
            SectionRange range{i, lines.size()};
            for (qsizetype j = i + 1; j < lines.size(); ++j) {
                if (sectionName(lines.at(j))) {
                    range.end = j;
                    break;
                }
            }
            return range;
        }
    }
    return std::nullopt;
}

qsizetype findKey(const QStringList& lines, const SectionRange& range, const QString& key)
{
    const QString wanted = key.trimmed();
    for (qsizetype i = range.header + 1; i < range.end; ++i) {
        const auto parsed = keyLine(lines.at(i));
        if (parsed && sameName(parsed->key, wanted)) {
            return i;
        }
    }
    return -1;
}

std::optional<QString> lookup(const QString& file, const QString& section, const QString& key)
{
    const Document doc = load(file);
    if (!doc.readable) {
        return std::nullopt;
    }
    const auto range = findSection(doc.lines, section);
    if (!range) {
        return std::nullopt;
    }
    const qsizetype index = findKey(doc.lines, *range, key);
    if (index < 0) {
        return std::nullopt;
    }
    const QString& line = doc.lines.at(index);
    return valueOf(line, line.indexOf(u'='));
}

bool validSection(const QString& section)
{
    const QString trimmed = section.trimmed();
    return !trimmed.isEmpty() && !trimmed.contains(u']') && !trimmed.contains(u'\n') &&
           !trimmed.contains(u'\r');
}

bool validKey(const QString& key)
{
    const QString trimmed = key.trimmed();
    return !trimmed.isEmpty() && !trimmed.contains(u'=') && !trimmed.startsWith(u'[') &&
           !trimmed.startsWith(u';') && !trimmed.contains(u'\n') && !trimmed.contains(u'\r');
}

} // namespace

namespace IniFile {

QString ReadString(const QString& file, const QString& section, const QString& key,
                   const QString& defaultValue)
{
    return lookup(file, section, key).value_or(defaultValue);
}

qint32 ReadInt(const QString& file, const QString& section, const QString& key, qint32 defaultValue)
{
    const auto value = lookup(file, section, key);
    if (!value || value->isEmpty()) {
        return defaultValue;
    }
    qsizetype i = 0;
    bool negative = false;
    if (value->at(0) == u'-' || value->at(0) == u'+') {
        negative = value->at(0) == u'-';
        ++i;
    }
    qint64 number = 0;
    for (; i < value->size(); ++i) {
        const QChar c = value->at(i);
        if (c < u'0' || c > u'9') {
            break;
        }
        number = qMin<qint64>(number * 10 + (c.unicode() - u'0'), qint64(1) << 32);
    }
    number = negative ? -number : number;
    return static_cast<qint32>(qBound(qint64(INT32_MIN), number, qint64(INT32_MAX)));
}

bool WriteString(const QString& file, const QString& section, const QString& key,
                 const QString& value)
{
    if (key.isNull()) {
        return DeleteSection(file, section);
    }
    if (!validSection(section) || !validKey(key)) {
        return false;
    }
    Document doc = load(file);
    // Never replace a file we could not read: its contents would be lost.
    if (!doc.readable) {
        return false;
    }
    if (!doc.exists) {
        doc.crlf = false;
    }
    // A line break would let a value write further keys into the file.
    QString clean = value;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    // The reader drops blanks around a value and one pair of quotes: such a value goes in
    // quotes, so that it reads back as written (here and on Windows alike).
    if (clean != clean.trimmed() ||
        (clean.size() >= 2 && clean.startsWith(u'"') && clean.endsWith(u'"'))) {
        clean = u'"' + clean + u'"';
    }

    const auto range = findSection(doc.lines, section);
    if (!range) {
        if (value.isNull()) {
            return true;
        }
        if (!doc.lines.isEmpty() && !doc.lines.last().trimmed().isEmpty()) {
            doc.lines.append(QString());
        }
        doc.lines.append(u'[' + section.trimmed() + u']');
        doc.lines.append(key.trimmed() + u'=' + clean);
        return save(file, doc);
    }

    const qsizetype index = findKey(doc.lines, *range, key);
    if (value.isNull()) {
        if (index < 0) {
            return true;
        }
        doc.lines.removeAt(index);
        return save(file, doc);
    }
    if (index >= 0) {
        // Keep the key's own spelling and the blanks the file uses around "=".
        const QString& old = doc.lines.at(index);
        const qsizetype equals = old.indexOf(u'=');
        qsizetype valueStart = equals + 1;
        while (valueStart < old.size() && old.at(valueStart).isSpace()) {
            ++valueStart;
        }
        doc.lines[index] = clean.isEmpty() ? old.left(equals + 1) : old.left(valueStart) + clean;
        return save(file, doc);
    }
    // After the section's last key, so that blank lines and comments before the next section
    // stay where they are.
    qsizetype insertAt = range->header + 1;
    for (qsizetype i = range->header + 1; i < range->end; ++i) {
        if (keyLine(doc.lines.at(i))) {
            insertAt = i + 1;
        }
    }
    doc.lines.insert(insertAt, key.trimmed() + u'=' + clean);
    return save(file, doc);
}

bool DeleteSection(const QString& file, const QString& section)
{
    Document doc = load(file);
    if (!doc.readable) {
        return false;
    }
    const auto range = findSection(doc.lines, section);
    if (!range) {
        return true;
    }
    doc.lines.remove(range->header, range->end - range->header);
    return save(file, doc);
}

Batch::Batch(const QString& file) : m_key(batchKey(file))
{
    OpenBatch& batch = openBatches()[m_key];
    if (batch.depth++ == 0) {
        batch.doc = loadFromDisk(m_key);
        batch.dirty = false;
    }
}

Batch::~Batch()
{
    OpenBatch& batch = openBatches()[m_key];
    if (--batch.depth == 0) {
        // Uncommitted writes are dropped: the file keeps its last complete state.
        openBatches().remove(m_key);
    }
}

Result<> Batch::Commit()
{
    OpenBatch& batch = openBatches()[m_key];
    if (batch.depth > 1 || !batch.dirty) {
        return {};
    }
    if (!batch.doc.readable) {
        return Failure{QStringLiteral("the file could not be read, so it is not overwritten")};
    }
    if (Result<> saved = saveToDisk(m_key, batch.doc); !saved) {
        return saved;
    }
    batch.dirty = false;
    return {};
}

} // namespace IniFile
