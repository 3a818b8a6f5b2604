#include "platform/cartstore/TransportFile.h"

#include "platform/cartstore/StoreLog.h"
#include "platform/system/LeftoverFiles.h"
#include "platform/system/WriteErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <cerrno>
#include <limits>
#include <memory>
#include <sys/statvfs.h>
#include <zip.h>

namespace {

const QStringList AudioExtensions = {"wav", "mp3", "ogg", "wma", "mp2"};

QString ZipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

struct ProgressState
{
    const TransportFile::Progress* progress;
    bool stopped = false;
};

void ProgressCallback(zip_t*, double fraction, void* state)
{
    auto* s = static_cast<ProgressState*>(state);
    if (s->progress && *s->progress && !s->stopped && !(*s->progress)(fraction)) {
        s->stopped = true;
    }
}

// libzip asks separately whether to stop; the answer comes from the last progress call.
int CancelCallback(zip_t*, void* state)
{
    return static_cast<ProgressState*>(state)->stopped ? 1 : 0;
}

QString Escape(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

QString Unescape(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            out += next == 'n' ? QChar('\n') : next == 'r' ? QChar('\r') : next;
        } else {
            out += value[i];
        }
    }
    return out;
}

} // namespace

bool TransportFile::IsSafeEntryName(const QString& name)
{
    if (name.isEmpty() || name.startsWith('/') || name.startsWith('\\')) {
        return false;
    }
    if (name.size() >= 2 && name[1] == ':') {
        return false;
    }
    for (const QString& part : name.split(QRegularExpression("[/\\\\]"))) {
        if (part == "..") {
            return false;
        }
    }
    return !name.contains(QChar(0));
}

bool TransportFile::IsAudioEntry(const QString& name)
{
    if (name.endsWith('/')) {
        return false;
    }
    return AudioExtensions.contains(QFileInfo(name).suffix().toLower());
}

QByteArray TransportFile::FormatFields(const Fields& fields)
{
    QByteArray out;
    for (const auto& [name, value] : fields) {
        out += (name + '=' + Escape(value)).toUtf8() + "\r\n";
    }
    return out;
}

TransportFile::Fields TransportFile::ParseFields(const QByteArray& text)
{
    Fields fields;
    QByteArray data = text;
    if (data.startsWith("\xEF\xBB\xBF")) {
        data.remove(0, 3);
    }
    for (const QByteArray& raw : data.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const qsizetype eq = line.indexOf('=');
        if (line.isEmpty() || eq <= 0) {
            continue;
        }
        fields.append({line.left(eq).trimmed(), Unescape(line.mid(eq + 1))});
    }
    return fields;
}

Result<> TransportFile::Write(const QString& zipPath, const QString& audioFile,
                              const QString& audioEntry, const Fields& fields,
                              const Progress& progress)
{
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(zipPath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip) {
        return Failure{QString("cannot create %1: %2").arg(zipPath, ZipErrorText(code))};
    }
    auto fail = [&](const QString& what) {
        const QString reason = QString("%1: %2").arg(what, QString::fromUtf8(zip_strerror(zip)));
        zip_discard(zip);
        return Failure{reason};
    };
    zip_source_t* audio = zip_source_file(zip, QFile::encodeName(audioFile).constData(), 0, -1);
    if (!audio) {
        return fail("cannot read " + audioFile);
    }
    const zip_int64_t audioIndex =
        zip_file_add(zip, audioEntry.toUtf8().constData(), audio, ZIP_FL_ENC_UTF_8);
    if (audioIndex < 0) {
        zip_source_free(audio);
        return fail("cannot add the audio");
    }
    zip_set_file_compression(zip, zip_uint64_t(audioIndex), ZIP_CM_STORE, 0);

    // The buffer must outlive zip_close, which is when libzip reads it.
    const QByteArray text = FormatFields(fields);
    zip_source_t* info = zip_source_buffer(zip, text.constData(), zip_uint64_t(text.size()), 0);
    if (!info) {
        return fail("cannot add the fields");
    }
    if (zip_file_add(zip, FieldsEntry, info, ZIP_FL_ENC_UTF_8) < 0) {
        zip_source_free(info);
        return fail("cannot add the fields");
    }
    ProgressState state{&progress};
    zip_register_progress_callback_with_state(zip, 0.01, ProgressCallback, nullptr, &state);
    zip_register_cancel_callback_with_state(zip, CancelCallback, nullptr, &state);
    // zip_close writes a temporary file beside the target and renames it into place.
    if (zip_close(zip) != 0) {
        return fail("cannot write " + zipPath);
    }
    return {};
}

Result<> TransportFile::Read(const QString& zipPath, const QString& targetFolder,
                             QString& audioPath, Fields& fields, const Progress& progress,
                             bool* targetFault)
{
    bool ignored = false;
    bool& targetFailed = targetFault ? *targetFault : ignored;
    targetFailed = false;
    // Also filled in by the entry reader below.
    QString error;
    audioPath.clear();
    fields.clear();
    int code = 0;
    zip_t* zip =
        zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!zip) {
        return Failure{QString("cannot open %1: %2").arg(zipPath, ZipErrorText(code))};
    }
    std::unique_ptr<zip_t, void (*)(zip_t*)> closer(zip, [](zip_t* z) { zip_discard(z); });

    const zip_int64_t count = zip_get_num_entries(zip, 0);
    qint64 total = 0;
    zip_int64_t audioIndex = -1;
    zip_int64_t fieldsIndex = -1;
    qint64 audioSize = 0;
    qint64 fieldsSize = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip, zip_uint64_t(i), ZIP_FL_ENC_GUESS, &st) != 0 || !st.name ||
            !(st.valid & ZIP_STAT_SIZE)) {
            return Failure{QString("%1 is damaged").arg(zipPath)};
        }
        const QString name = QString::fromUtf8(st.name);
        if (!IsSafeEntryName(name)) {
            return Failure{QString("%1 holds an unsafe entry name: %2").arg(zipPath, name)};
        }
        // Declared sizes are at most 64 bits each; stop adding before the sum could wrap.
        if (st.size > quint64(MaxUnpackedBytes) || total + qint64(st.size) > MaxUnpackedBytes) {
            return Failure{QString("%1 would unpack to too much data").arg(zipPath)};
        }
        total += qint64(st.size);
        if (IsAudioEntry(name)) {
            if (audioIndex >= 0) {
                return Failure{QString("%1 holds more than one audio file").arg(zipPath)};
            }
            audioIndex = i;
            audioSize = qint64(st.size);
        } else if (name.compare(FieldsEntry, Qt::CaseInsensitive) == 0) {
            fieldsIndex = i;
            fieldsSize = qint64(st.size);
        }
    }
    if (audioIndex < 0) {
        return Failure{QString("%1 holds no audio file").arg(zipPath)};
    }
    // Only the audio entry is written to disk.
    const qint64 room = FreeBytes(targetFolder);
    if (room >= 0 && audioSize > room) {
        targetFailed = true;
        return Failure{QString("%1 would unpack to %2 bytes, more than the %3 bytes free in %4")
                           .arg(zipPath)
                           .arg(audioSize)
                           .arg(room)
                           .arg(targetFolder)};
    }

    // Reads one entry, never more than it declared: the limits above rest on the declared sizes.
    auto readEntry = [&](zip_int64_t index, qint64 declared,
                         const std::function<bool(const char*, qint64)>& sink) -> bool {
        zip_file_t* file = zip_fopen_index(zip, zip_uint64_t(index), 0);
        if (!file) {
            error =
                QString("cannot read %1: %2").arg(zipPath, QString::fromUtf8(zip_strerror(zip)));
            return false;
        }
        std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> fileCloser(file, zip_fclose);
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        qint64 done = 0;
        for (;;) {
            const zip_int64_t n = zip_fread(file, buffer.data(), zip_uint64_t(buffer.size()));
            if (n < 0) {
                error = QString("%1 is damaged: %2")
                            .arg(zipPath, QString::fromUtf8(zip_file_strerror(file)));
                return false;
            }
            if (n == 0) {
                break;
            }
            done += n;
            if (done > declared) {
                error = QString("%1 is damaged: an entry is larger than it claims").arg(zipPath);
                return false;
            }
            if (!sink(buffer.constData(), n)) {
                return false;
            }
            if (progress && declared > 0 && !progress(double(done) / double(declared))) {
                error = "stopped";
                return false;
            }
        }
        if (done != declared) {
            error = QString("%1 is damaged: an entry is shorter than it claims").arg(zipPath);
            return false;
        }
        return true;
    };

    if (fieldsIndex >= 0) {
        QByteArray text;
        const bool ok = readEntry(fieldsIndex, fieldsSize, [&](const char* data, qint64 n) {
            text.append(data, n);
            // The fields are a few lines; anything bigger is not ours.
            return text.size() <= MaxFieldsBytes;
        });
        if (!ok) {
            if (error.isEmpty()) {
                error = QString("%1: the fields file is too large").arg(zipPath);
            }
            return Failure{error};
        }
        fields = ParseFields(text);
    }

    zip_stat_t audioStat;
    zip_stat_index(zip, zip_uint64_t(audioIndex), ZIP_FL_ENC_GUESS, &audioStat);
    const QString suffix = QFileInfo(QString::fromUtf8(audioStat.name)).suffix().toLower();
    QTemporaryFile out(QDir(targetFolder).filePath(".transport-XXXXXX." + suffix));
    out.setAutoRemove(true);
    if (!out.open()) {
        targetFailed = true;
        return Failure{QString("cannot unpack into %1: %2").arg(targetFolder, out.errorString())};
    }
    // Locked while unpacking, so that a sweep for leftovers leaves the file alone.
    LeftoverFiles::Own(out.handle(), out.fileName());
    const bool ok = readEntry(audioIndex, audioSize, [&](const char* data, qint64 n) {
        errno = 0;
        if (out.write(data, n) == n) {
            return true;
        }
        error = QString("cannot unpack into %1: %2").arg(targetFolder, WriteErrorText(out));
        targetFailed = true;
        return false;
    });
    if (!ok) {
        return Failure{error};
    }
    errno = 0;
    if (!out.flush()) {
        targetFailed = true;
        return Failure{QString("cannot unpack into %1: %2").arg(targetFolder, WriteErrorText(out))};
    }

    out.setAutoRemove(false);
    audioPath = out.fileName();
    return {};
}

qint64 TransportFile::FreeBytes(const QString& folder)
{
    struct statvfs st
    {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0) {
        return -1;
    }
    const quint64 block = qMax<quint64>(1, st.f_frsize);
    if (quint64(st.f_bavail) > quint64(std::numeric_limits<qint64>::max()) / block) {
        return std::numeric_limits<qint64>::max();
    }
    return qint64(quint64(st.f_bavail) * block);
}
