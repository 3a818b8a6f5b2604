#include "platform/cartstore/CartStore.h"

#include "platform/cartstore/AudioDecoder.h"
#include "platform/cartstore/AudioLengthCache.h"
#include "platform/cartstore/CartDatabase.h"
#include "platform/cartstore/CartStoreSettings.h"
#include "platform/cartstore/DecodedAudio.h"
#include "platform/cartstore/FfmpegAudioReader.h"
#include "platform/cartstore/IAudioCallback.h"
#include "platform/cartstore/StoreLog.h"
#include "platform/cartstore/TransportFile.h"
#include "platform/cartstore/WaveFileWriter.h"
#include "platform/system/DateTimeFunctions.h"
#include "platform/system/FileFunctions.h"
#include "platform/system/FileVersionCache.h"
#include "platform/system/LeftoverFiles.h"
#include "platform/system/LongWork.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ToolError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

struct CartStore::Row
{
    qint32 number = 0;
    QString title;
    QString artist;
    QString description;
    double length = 0.0;
    double startPoint = 0.0;
    double outPoint = 0.0;
    double introStart = -1.0;
    double introEnd = -1.0;
    double extro = -1.0;
    qint32 modifiedLow = 0;
    qint32 modifiedHigh = 0;
    QString sourceFile;
    QString audioFile; // name inside the audio folder; empty until the cart first held audio
    // The version of the source file the audio came from; stored as "device inode size mtime
    // ctime", read into numbers once, as every pass compares it.
    std::optional<FileVersionKey> sourceVersion;
};

namespace {

// The columns RowAt reads, in its order.
#define CART_ROW_COLUMNS                                                                           \
    " number, title, artist, description, length, start_point, out_point, intro_start,"            \
    " intro_end, extro, modified_low, modified_high, source_file, audio_file, source_version"

std::optional<FileVersionKey> VersionFromText(const QString& text);

// A template so that the store's private row type can be named where it is used.
template <typename Row> Row RowAt(const CartDatabase::Query& q)
{
    Row row;
    row.number = qint32(q.Int(0));
    row.title = q.Text(1);
    row.artist = q.Text(2);
    row.description = q.Text(3);
    row.length = q.Real(4);
    row.startPoint = q.Real(5);
    row.outPoint = q.Real(6);
    row.introStart = q.Real(7);
    row.introEnd = q.Real(8);
    row.extro = q.Real(9);
    row.modifiedLow = qint32(q.Int(10));
    row.modifiedHigh = qint32(q.Int(11));
    row.sourceFile = q.Text(12);
    row.audioFile = q.Text(13);
    row.sourceVersion = VersionFromText(q.Text(14));
    return row;
}

} // namespace

struct CartStore::RangeRows
{
    // A row as a range keeps it, a large store's 100,000 of them at a time: its texts in the
    // range's one block of UTF-8, the version without its link count.
    struct Kept
    {
        qint32 number = 0;
        qint32 modifiedLow = 0;
        qint32 modifiedHigh = 0;
        bool hasVersion = false;
        // Where its texts begin in the block, and where the title, artist, description, source
        // file and audio file's name end, from there.
        qint64 textsAt = 0;
        qint32 ends[5] = {};
        double length = 0.0;
        double startPoint = 0.0;
        double outPoint = 0.0;
        double introStart = -1.0;
        double introEnd = -1.0;
        double extro = -1.0;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = -1;
        qint64 changedNs = -1;
    };

    void Keep(const Row& row)
    {
        Kept kept;
        kept.number = row.number;
        kept.modifiedLow = row.modifiedLow;
        kept.modifiedHigh = row.modifiedHigh;
        kept.textsAt = texts.size();
        const QString* parts[] = {&row.title, &row.artist, &row.description, &row.sourceFile,
                                  &row.audioFile};
        for (int i = 0; i < 5; ++i) {
            // The texts came from UTF-8 and go back to it unchanged.
            texts += parts[i]->toUtf8();
            kept.ends[i] = qint32(texts.size() - kept.textsAt);
        }
        kept.length = row.length;
        kept.startPoint = row.startPoint;
        kept.outPoint = row.outPoint;
        kept.introStart = row.introStart;
        kept.introEnd = row.introEnd;
        kept.extro = row.extro;
        if (row.sourceVersion) {
            const FileVersionKey& version = *row.sourceVersion;
            kept.hasVersion = true;
            kept.device = version.device;
            kept.inode = version.inode;
            kept.size = version.size;
            kept.modifiedNs = version.modifiedNs;
            kept.changedNs = version.changedNs;
        }
        rows.push_back(kept);
    }

    Row Expand(const Kept& kept) const
    {
        const auto text = [&](int part) {
            const qint32 from = part == 0 ? 0 : kept.ends[part - 1];
            return QString::fromUtf8(texts.constData() + kept.textsAt + from,
                                     kept.ends[part] - from);
        };
        Row row;
        row.number = kept.number;
        row.title = text(0);
        row.artist = text(1);
        row.description = text(2);
        row.sourceFile = text(3);
        row.audioFile = text(4);
        row.length = kept.length;
        row.startPoint = kept.startPoint;
        row.outPoint = kept.outPoint;
        row.introStart = kept.introStart;
        row.introEnd = kept.introEnd;
        row.extro = kept.extro;
        row.modifiedLow = kept.modifiedLow;
        row.modifiedHigh = kept.modifiedHigh;
        if (kept.hasVersion) {
            row.sourceVersion =
                FileVersionKey{kept.device, kept.inode, kept.size, kept.modifiedNs, kept.changedNs};
        }
        return row;
    }

    qint32 first = 0;
    qint32 last = -1;
    CartDatabase::ChangeStamp readAt;
    // By number; sized once, as a large store's rows would otherwise be held twice while the
    // list grows.
    std::vector<Kept> rows;
    QByteArray texts;
};

// One progress frame (ProgressStart ... ProgressEnd) over the registered sinks. The end carries
// no caption: a sink shows the end caption as its status, and the start caption ("Importing
// ...") would stand there long after the work ended.
class CartStore::Progress
{
public:
    Progress(const QList<IAudioCallback*>& sinks, qint32 event, const QString& caption)
        : m_sinks(sinks), m_event(event), m_caption(caption)
    {
        bool cancel = false;
        for (IAudioCallback* sink : m_sinks) {
            sink->ProgressStart(m_event, m_caption, true, cancel);
        }
        m_cancelled = cancel;
    }
    ~Progress()
    {
        for (IAudioCallback* sink : m_sinks) {
            sink->ProgressEnd(m_event, QString(), m_used);
        }
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // False once a sink asked to stop.
    bool Report(double percent)
    {
        if (!LongWork::Breathe()) {
            m_cancelled = true;
        }
        if (m_cancelled) {
            return false;
        }
        const int whole = int(percent);
        if (whole == m_last) {
            return true;
        }
        m_last = whole;
        m_used = true;
        bool cancel = false;
        for (IAudioCallback* sink : m_sinks) {
            sink->Progress2(m_event, m_caption, float(whole), cancel);
        }
        m_cancelled = cancel;
        return !cancel;
    }
    bool Cancelled() const { return m_cancelled; }

private:
    QList<IAudioCallback*> m_sinks;
    qint32 m_event;
    QString m_caption;
    int m_last = -1;
    bool m_used = false;
    bool m_cancelled = false;
};

namespace {

// Halves of a 100 ns stamp; a low half of 0 reads as "no stamp", so it is moved by one tick.
void SplitStamp(qint64 stamp, qint32& low, qint32& high)
{
    if ((stamp & 0xFFFFFFFFLL) == 0) {
        ++stamp;
    }
    low = qint32(quint32(stamp & 0xFFFFFFFFLL));
    high = qint32(stamp >> 32);
}

std::optional<qint64> FileStamp(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        return std::nullopt;
    }
    return DateTimeFunctions::ToStamp(info.lastModified().toUTC());
}

QString Number(double value)
{
    return QString::number(value, 'g', 9);
}

float ClampMarker(double value, double length)
{
    return value < 0 ? float(value) : float(qMin(value, length));
}

QString BackupName(const QString& audioFile)
{
    return "." + audioFile + ".bak";
}

QString NewMarkName(const QString& audioFile)
{
    return "." + audioFile + ".new";
}

// A name of a file directly inside the audio folder; a database can hold any text.
bool PlainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(u'/') && !name.contains(QChar(0));
}

// Frames in a length of milliseconds, saturated: a damaged value must not make the room
// check's arithmetic undefined.
qint64 FramesIn(double ms, int sampleRate)
{
    const double frames = ms * sampleRate / 1000.0;
    if (!std::isfinite(frames) || frames <= 0) {
        return 0;
    }
    return frames >= 9.0e18 ? std::numeric_limits<qint64>::max() : qint64(frames);
}

// The bytes of a 16-bit PCM WAV of that many frames, saturated.
qint64 WaveBytes(qint64 frames, int channels)
{
    qint64 bytes = 0;
    if (__builtin_mul_overflow(frames, qint64(channels) * 2, &bytes) ||
        __builtin_add_overflow(bytes, qint64(WaveFileWriter::HeaderSize), &bytes)) {
        return std::numeric_limits<qint64>::max();
    }
    return bytes;
}

const char* const kSchema = "CREATE TABLE IF NOT EXISTS carts ("
                            " number INTEGER PRIMARY KEY,"
                            " title TEXT NOT NULL DEFAULT '',"
                            " artist TEXT NOT NULL DEFAULT '',"
                            " description TEXT NOT NULL DEFAULT '',"
                            " length REAL NOT NULL DEFAULT 0,"
                            " start_point REAL NOT NULL DEFAULT 0,"
                            " out_point REAL NOT NULL DEFAULT 0,"
                            " intro_start REAL NOT NULL DEFAULT -1,"
                            " intro_end REAL NOT NULL DEFAULT -1,"
                            " extro REAL NOT NULL DEFAULT -1,"
                            " modified_low INTEGER NOT NULL DEFAULT 0,"
                            " modified_high INTEGER NOT NULL DEFAULT 0,"
                            " source_file TEXT NOT NULL DEFAULT '',"
                            " audio_file TEXT NOT NULL DEFAULT '',"
                            " source_version TEXT NOT NULL DEFAULT '');"
                            "CREATE TABLE IF NOT EXISTS settings ("
                            " name TEXT PRIMARY KEY,"
                            " value TEXT NOT NULL);";

const char* const kStoreIdSetting = "StoreId";

// Carts tables of earlier builds lack the columns added since; their rows are kept.
Result<> AddLaterColumns(CartDatabase& db)
{
    {
        CartDatabase::Query q(db, "SELECT COUNT(*) FROM pragma_table_info('carts')"
                                  " WHERE name = 'source_version'");
        if (!q.Step()) {
            return q.Outcome();
        }
        if (q.Int(0) != 0) {
            return {};
        }
    }
    return db.Exec("ALTER TABLE carts ADD COLUMN source_version TEXT NOT NULL DEFAULT ''");
}

QString VersionText(const std::optional<FileVersionKey>& version)
{
    if (!version) {
        return {};
    }
    return QString("%1 %2 %3 %4 %5")
        .arg(version->device)
        .arg(version->inode)
        .arg(version->size)
        .arg(version->modifiedNs)
        .arg(version->changedNs);
}

std::optional<FileVersionKey> VersionFromText(const QString& text)
{
    const QStringList parts = text.split(u' ');
    if (parts.size() != 5) {
        return std::nullopt;
    }
    bool ok[5] = {};
    FileVersionKey version{parts[0].toULongLong(&ok[0]), parts[1].toULongLong(&ok[1]),
                           parts[2].toLongLong(&ok[2]), parts[3].toLongLong(&ok[3]),
                           parts[4].toLongLong(&ok[4])};
    return std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; })
               ? std::optional(version)
               : std::nullopt;
}

// Leftovers of interrupted writes in the audio folder: our own temporary files, unpacked
// transport audio and half-made copies (backups, companion files).
const QRegularExpression& AudioLeftovers()
{
    static const QRegularExpression names(
        QStringLiteral("^(\\..+\\.tmp|\\.transport-.+|\\.~.+\\.[A-Za-z0-9]{6})$"));
    return names;
}

qint64 SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool HoldsAudio(const QString& folder)
{
    return !QDir(folder).entryList({"*.wav"}, QDir::Files).isEmpty();
}

// What keeps the database from being used, in words that lead to the right repair: a healthy
// file on a full or read-only disk must not be called damaged.
QString DatabaseTrouble(const QString& path, const CartDatabase::Fault& fault,
                        const QString& reason)
{
    const int error = fault.systemError;
    QString why = reason;
    if (error != 0) {
        const QString system = QString::fromLocal8Bit(std::strerror(error));
        if (!why.contains(system)) {
            why += "; " + system;
        }
    }
    const QString start = QString("The cart store's database %1 ").arg(path);
    if (fault.code == SQLITE_CORRUPT || fault.code == SQLITE_NOTADB) {
        return start + "is damaged or unreadable: " + why;
    }
    if (fault.code == SQLITE_FULL || error == ENOSPC || error == EDQUOT || error == EFBIG) {
        return start + "cannot be written: its disk is full (" + why + ")";
    }
    if (fault.code == SQLITE_READONLY || error == EROFS) {
        return start + "cannot be written: the file or its disk is read-only (" + why + ")";
    }
    if (fault.code == SQLITE_PERM || fault.code == SQLITE_AUTH || error == EACCES ||
        error == EPERM) {
        return start + "cannot be used: no permission (" + why + ")";
    }
    if (fault.code == SQLITE_BUSY || fault.code == SQLITE_LOCKED) {
        return start + "is locked by another program (" + why + ")";
    }
    return start + "cannot be read or written: " + why;
}

} // namespace

QString CartStore::ReadMarker(const QString& folder)
{
    QFile file(folder + "/" + MarkerName);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLatin1(file.read(256)).trimmed();
}

bool CartStore::WriteMarker(const QString& folder) const
{
    const QString path = folder + "/" + MarkerName;
    if (ReadMarker(folder) == m_storeId) {
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_storeId.toLatin1() + "\n") < 0 ||
        !file.commit()) {
        qCWarning(lcStore) << "cannot write the store's marker" << path << file.errorString();
        return false;
    }
    ::chmod(QFile::encodeName(path).constData(), LeftoverFiles::DefaultFileMode());
    return true;
}

QString CartStore::MissingAudioReason() const
{
    return QString("The cart store's audio folder %1 is missing or is not this cart store's "
                   "folder: is its disk mounted?")
        .arg(AudioFolder());
}

void CartStore::EnsureAvailable(bool readMarker) const
{
    // The folder and marker seen at the last reading; a folder swapped, a share mounted or
    // unmounted, a marker rewritten change one of them.
    struct stat folder
    {
    };
    struct stat marker
    {
    };
    const bool folderThere = ::stat(m_audioFolderNative.constData(), &folder) == 0;
    bool seen = folderThere && ::stat(m_markerNative.constData(), &marker) == 0;
    // Only a marker that is gone is written again, never one of another store.
    if (folderThere && !seen && errno == ENOENT && S_ISDIR(folder.st_mode) &&
        RestoreAudioMarker({folder.st_dev, folder.st_ino,
                            qint64(folder.st_ctim.tv_sec) * 1000000000 + folder.st_ctim.tv_nsec})) {
        seen = ::stat(m_markerNative.constData(), &marker) == 0;
    }
    const Seen now{folder.st_dev, folder.st_ino, marker.st_ino,
                   qint64(marker.st_mtim.tv_sec) * 1000000000 + marker.st_mtim.tv_nsec};
    if (seen && !readMarker && m_verified == now) {
        m_verifiedAtNs = SteadyNs();
        return;
    }
    m_verified = {};
    if (!seen || ReadMarker(AudioFolder()) != m_storeId) {
        throw ToolError(StoreUnavailable, MissingAudioReason());
    }
    m_verified = now;
    m_verifiedAtNs = SteadyNs();
}

Cart CartStore::ReadAvailableCart(qint32 number) const
{
    const bool trusted =
        m_verified != Seen{} && SteadyNs() - m_verifiedAtNs < ReadCheckWindowMs * 1'000'000;
    if (!trusted) {
        EnsureAvailable();
    }
    const auto row = ReadRow(number);
    Cart cart = MakeCart(number, row ? &*row : nullptr);
    // A folder unmounted or swapped since shows as missing audio: that is never taken on trust.
    if (trusted && !cart.HasAudio) {
        EnsureAvailable();
    }
    return cart;
}

CartStore::CartStore(const QString& baseFolder, Options options)
    : m_baseFolder(QDir::cleanPath(baseFolder)), m_options(options),
      m_audioFolder(m_baseFolder + "/" + AudioFolderName),
      m_audioFolderNative(QFile::encodeName(m_audioFolder)),
      m_markerNative(QFile::encodeName(m_audioFolder + "/" + MarkerName))
{
    const QString databasePath = DatabasePath();
    // A share that is not mounted, or cannot be reached, is never taken for a new store.
    struct stat base
    {
    };
    if (::stat(QFile::encodeName(m_baseFolder).constData(), &base) != 0 && errno != ENOENT) {
        throw ToolError(StoreUnavailable,
                        QString("The cart store's base folder %1 cannot be reached (%2): is its "
                                "disk mounted?")
                            .arg(m_baseFolder, QString::fromLocal8Bit(std::strerror(errno))));
    }
    const QFileInfo database(databasePath);
    const QString audioMarker = ReadMarker(AudioFolder());
    const QString baseMarker = ReadMarker(m_baseFolder);
    const bool anyStore = m_options.storeId == CartStoreOptions::AnyStore;
    // Both markers gone (tidied away as dot-files, skipped by a sync tool) beside a database:
    // taken back below when the database is the store asked for and its audio is there.
    const bool markersLost = !anyStore && !m_options.storeId.isEmpty() && baseMarker.isEmpty() &&
                             audioMarker.isEmpty() && database.size() > 0;
    const QString notHere = QString("The cart store's base folder %1 is missing, empty or holds "
                                    "another cart store: is its disk mounted?")
                                .arg(m_baseFolder);
    const bool missing = anyStore
                             ? baseMarker.isEmpty() && audioMarker.isEmpty() && !database.exists()
                             : !m_options.storeId.isEmpty() && baseMarker != m_options.storeId &&
                                   audioMarker != m_options.storeId && !markersLost;
    if (missing) {
        throw ToolError(StoreUnavailable, notHere);
    }
    // Signs that a store lived here: its database must then be there and whole.
    const bool storeWasHere =
        !audioMarker.isEmpty() || !baseMarker.isEmpty() || HoldsAudio(AudioFolder());
    const QString damaged = QString("The cart store's database %1 is damaged or unreadable: %2");
    if (!database.exists() && storeWasHere) {
        throw ToolError(StoreUnavailable,
                        QString("The cart store's database %1 is missing or is not this cart "
                                "store's database: is its disk mounted?")
                            .arg(databasePath));
    }
    if (database.exists() && database.size() == 0 && storeWasHere) {
        throw ToolError(StoreUnavailable,
                        damaged.arg(databasePath, "the file is empty, but the audio folder " +
                                                      AudioFolder() + " holds a store's audio"));
    }
    const bool brandNew = !database.exists();
    if (brandNew && !QDir().mkpath(AudioFolder())) {
        throw ToolError(StoreUnavailable,
                        QString("Cannot create the cart store's folder %1").arg(AudioFolder()));
    }

    m_db = std::make_shared<CartDatabase>(databasePath, brandNew, false);
    const auto trouble = [&](const Result<>& outcome) {
        return ToolError(StoreUnavailable,
                         DatabaseTrouble(databasePath, m_db->LastFault(), outcome.Reason()));
    };
    if (const Result<>& opened = m_db->Opened(); !opened) {
        throw trouble(opened);
    }
    // Reading the schema and a quick check tell a damaged or foreign file before anything is
    // written into it.
    QStringList tables;
    {
        CartDatabase::Query q(*m_db, "SELECT name FROM sqlite_master WHERE type = 'table'");
        while (q.Step()) {
            tables << q.Text(0);
        }
        if (const Result<> read = q.Outcome(); !read) {
            throw trouble(read);
        }
    }
    {
        CartDatabase::Query q(*m_db, "PRAGMA quick_check(1)");
        if (!q.Step()) {
            throw trouble(q.Outcome());
        }
        if (q.Text(0) != "ok") {
            throw ToolError(StoreUnavailable, damaged.arg(databasePath, q.Text(0)));
        }
    }
    // SQLite opens a file it may not write read-only; every import would fail.
    if (m_db->IsReadOnly()) {
        // The system's reason tells a read-only mount from the file's permissions.
        const int probe = ::open(QFile::encodeName(databasePath).constData(), O_RDWR | O_CLOEXEC);
        const int error = probe < 0 ? errno : 0;
        if (probe >= 0) {
            ::close(probe);
        }
        throw ToolError(StoreUnavailable,
                        DatabaseTrouble(databasePath, {SQLITE_READONLY, SQLITE_READONLY, error},
                                        "attempt to write a readonly database"));
    }
    if (!tables.isEmpty() && !tables.contains("carts")) {
        throw ToolError(StoreUnavailable,
                        QString("The file %1 is not a cart store's database").arg(databasePath));
    }
    if (tables.contains("settings")) {
        CartDatabase::Query q(*m_db, "SELECT value FROM settings WHERE name = ?");
        q.Bind(1, kStoreIdSetting);
        if (q.Step()) {
            m_storeId = q.Text(0);
        }
    }
    if (markersLost && m_storeId != m_options.storeId) {
        throw ToolError(StoreUnavailable, notHere);
    }
    if (markersLost && !QFileInfo(AudioFolder()).isDir()) {
        throw ToolError(StoreUnavailable, MissingAudioReason());
    }
    // Decided before anything is written, so that a refused store stays exactly as it was.
    const bool adopt = m_storeId.isEmpty() || audioMarker != m_storeId;
    const bool hadIdentity = !m_storeId.isEmpty();
    if (adopt) {
        CheckAudioFolder(audioMarker, baseMarker, tables.contains("carts"));
    }
    Result<> ready = m_db->Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    if (ready) {
        ready = m_db->Exec(kSchema);
    }
    if (ready) {
        ready = AddLaterColumns(*m_db);
    }
    if (!ready) {
        throw trouble(ready);
    }
    m_settings = std::make_unique<CartStoreSettings>(m_db);
    if (adopt) {
        AdoptAudioFolder();
    }
    if (WriteMarker(m_baseFolder) && hadIdentity &&
        (audioMarker.isEmpty() || baseMarker.isEmpty())) {
        TellMarkersRestored();
    }
    RecoverInterruptedImports();
}

void CartStore::TellMarkersRestored() const
{
    m_notices.append(QString("The cart store's identity markers in '%1' were missing and have been "
                             "written again")
                         .arg(m_baseFolder));
}

// A store without its marker in the audio folder: a new one, one of an earlier build, or one
// whose marker was lost. Its audio folder is taken as its own only when it holds the files the
// database names; an empty mount point or another store's folder never is.
void CartStore::CheckAudioFolder(const QString& audioMarker, const QString& baseMarker,
                                 bool hasCarts) const
{
    if (!audioMarker.isEmpty()) {
        // The base folder's marker agrees with the audio folder's: the database is the stranger.
        if (baseMarker == audioMarker) {
            throw ToolError(StoreUnavailable,
                            QString("The cart store's database %1 is not the database of the "
                                    "store in %2: was it replaced?")
                                .arg(DatabasePath(), m_baseFolder));
        }
        throw ToolError(StoreUnavailable, MissingAudioReason());
    }
    if (!hasCarts) {
        return;
    }
    const auto [present, named] = NamedAudioPresent();
    if (named == 0) {
        return;
    }
    // Files removed since the last pass are no reason to refuse; most of them gone is.
    if (present * 2 < named) {
        throw ToolError(StoreUnavailable, MissingAudioReason());
    }
}

QPair<qsizetype, qsizetype> CartStore::NamedAudioPresent() const
{
    QStringList named;
    CartDatabase::Query q(*m_db, "SELECT audio_file FROM carts WHERE audio_file <> ''");
    while (q.Step()) {
        named << q.Text(0);
    }
    if (named.isEmpty() || !QFileInfo(AudioFolder()).isDir()) {
        return {0, named.size()};
    }
    qsizetype present = 0;
    for (const QString& name : std::as_const(named)) {
        struct stat audio
        {
        };
        present += PlainName(name) &&
                           ::lstat(QFile::encodeName(AudioFolder() + "/" + name).constData(),
                                   &audio) == 0 &&
                           S_ISREG(audio.st_mode)
                       ? 1
                       : 0;
    }
    return {present, named.size()};
}

// The audio folder's marker is gone while the store runs: written again when the folder holds
// the files the database names. A folder found without them is looked at again once changed.
bool CartStore::RestoreAudioMarker(const FolderLook& look) const
{
    if (look == m_refusedFolder) {
        return false;
    }
    const auto [present, named] = NamedAudioPresent();
    if (named == 0 || present * 2 < named || !WriteMarker(AudioFolder())) {
        m_refusedFolder = look;
        return false;
    }
    WriteMarker(m_baseFolder);
    TellMarkersRestored();
    return true;
}

void CartStore::AdoptAudioFolder()
{
    if (!QDir().mkpath(AudioFolder())) {
        throw ToolError(StoreUnavailable,
                        QString("Cannot create the cart store's folder %1").arg(AudioFolder()));
    }
    if (m_storeId.isEmpty()) {
        m_storeId = QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
        CartDatabase::Query q(*m_db, "INSERT OR REPLACE INTO settings (name, value) VALUES (?, ?)");
        q.Bind(1, kStoreIdSetting).Bind(2, m_storeId);
        if (const Result<> written = q.Run(); !written) {
            throw ToolError(StoreUnavailable, QString("Cannot write the cart store %1: %2")
                                                  .arg(DatabasePath(), written.Reason()));
        }
    }
    if (!WriteMarker(AudioFolder())) {
        throw ToolError(StoreUnavailable,
                        QString("Cannot write in the cart store's folder %1").arg(AudioFolder()));
    }
}

CartStore::~CartStore()
{
    ReleaseAudioFolder();
}

void CartStore::HoldAudioFolder()
{
    ReleaseAudioFolder();
    const int fd = ::open(m_audioFolderNative.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat folder
    {
    };
    if (fd < 0) {
        return;
    }
    if (::fstat(fd, &folder) != 0) {
        ::close(fd);
        return;
    }
    m_held = {fd, quint64(folder.st_dev), quint64(folder.st_ino)};
}

void CartStore::ReleaseAudioFolder()
{
    if (m_held.fd >= 0) {
        ::close(m_held.fd);
    }
    m_held = {};
}

QString CartStore::DefaultBaseFolder()
{
    return PlatformPaths::DataHome() + "/Orvane/Cartvault v3";
}

QString CartStore::AudioFolder() const
{
    return m_audioFolder;
}

QString CartStore::DatabasePath() const
{
    return m_baseFolder + "/" + DatabaseName;
}

AudioSettingsInterface* CartStore::AudioSettings() const
{
    return m_audioSettings;
}

void CartStore::setAudioSettings(AudioSettingsInterface* settings)
{
    m_audioSettings = settings;
}

CartvaultSettings* CartStore::GetCartvaultSettings()
{
    return m_settings.get();
}

QString CartStore::BaseFolder() const
{
    return m_baseFolder;
}

qint32 CartStore::HighestCart() const
{
    return m_settings->HighestCart();
}

bool CartStore::Answer(const Result<>& outcome)
{
    if (outcome) {
        return true;
    }
    m_lastError = outcome.Reason();
    qCInfo(lcStore).noquote() << m_lastError;
    return false;
}

Result<qint32> CartStore::CartFor(const QString& hdReference) const
{
    if (const auto number = CartNumber(hdReference)) {
        return *number;
    }
    return Failure{QString("%1 is not a valid cart").arg(hdReference)};
}

void CartStore::StoreFault(StoreError number, const QString& reason)
{
    m_lastError = reason;
    qCWarning(lcStore).noquote() << reason;
    throw ToolError(number, reason);
}

namespace {

std::optional<qint32> NumberUpTo(const QString& hdReference, qint32 highest)
{
    const QString text = hdReference.trimmed();
    if (text.isEmpty() || text.size() > 12) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < 1 || value > highest) {
        return std::nullopt;
    }
    return qint32(value);
}

} // namespace

std::optional<qint32> CartStore::CartNumber(const QString& hdReference) const
{
    return NumberUpTo(hdReference, HighestCart());
}

bool CartStore::IsValidCart(const QString& hdReference) const
{
    return CartNumber(hdReference).has_value();
}

bool CartStore::IsCartInRange(const QString& cart, const QString& first, const QString& last) const
{
    const qint32 highest = HighestCart();
    const auto c = NumberUpTo(cart, highest);
    const auto f = NumberUpTo(first, highest);
    const auto l = NumberUpTo(last, highest);
    return c && f && l && *f <= *c && *c <= *l;
}

float CartStore::GetRangePosition(const QString& cart, const QString& first,
                                  const QString& last) const
{
    const qint32 highest = HighestCart();
    const auto c = NumberUpTo(cart, highest);
    const auto f = NumberUpTo(first, highest);
    const auto l = NumberUpTo(last, highest);
    if (!c || !f || !l) {
        return 0.0f;
    }
    if (*l <= *f) {
        return *c >= *l ? 100.0f : 0.0f;
    }
    const double percent = double(*c - *f) * 100.0 / double(*l - *f);
    return float(qBound(0.0, percent, 100.0));
}

QString CartStore::GetFirstCart(const QString& hdReference) const
{
    const QString text = hdReference.trimmed();
    if (text.isEmpty()) {
        return "1";
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || text.startsWith('+') || text.startsWith('-') || value > HighestCart()) {
        // A number below the first cart still starts at the first.
        return ok && value < 1 ? QString("1") : QString();
    }
    return QString::number(qMax<qint64>(value, 1));
}

QString CartStore::GetNextCart(const QString& hdReference) const
{
    const auto n = CartNumber(hdReference);
    if (!n || *n >= HighestCart()) {
        return {};
    }
    return QString::number(*n + 1);
}

QString CartStore::GetLastCart(qint32 flags) const
{
    return QString::number(HighestCart());
}

QString CartStore::AudioFileNameFor(qint32 number) const
{
    const int width = int(QString::number(HighestCart()).size());
    return QString("%1.wav").arg(number, width, 10, QChar('0'));
}

void CartStore::ReadRangeTogether(const QString& first, const QString& last)
{
    ReleaseAudioFolder();
    // The ranges of one walk serve the next walk over them as long as nothing has changed.
    if (m_range) {
        m_keptRanges.push_back(std::move(m_range));
        // Bounded in rows, the oldest going first.
        qsizetype rows = 0;
        for (const auto& kept : m_keptRanges) {
            rows += qsizetype(kept->rows.size());
        }
        while (!m_keptRanges.empty() && rows > MaxKeptRows) {
            rows -= qsizetype(m_keptRanges.front()->rows.size());
            m_keptRanges.erase(m_keptRanges.begin());
        }
    }
    const auto from = CartNumber(first);
    const auto to = CartNumber(last);
    if (!from || !to || *to < *from) {
        return;
    }
    HoldAudioFolder();
    const CartDatabase::ChangeStamp now = m_db->Changes();
    for (auto kept = m_keptRanges.begin(); kept != m_keptRanges.end(); ++kept) {
        if ((*kept)->first != *from || (*kept)->last != *to) {
            continue;
        }
        if (now == (*kept)->readAt) {
            m_range = std::move(*kept);
            m_keptRanges.erase(kept);
            return;
        }
        // One change makes all of them stale.
        m_keptRanges.clear();
        break;
    }
    auto range = std::make_unique<RangeRows>();
    range->first = *from;
    range->last = *to;
    range->readAt = m_db->Changes();
    {
        CartDatabase::Query count(
            *m_db, "SELECT COUNT(*), TOTAL(LENGTH(CAST(title AS BLOB)) +"
                   " LENGTH(CAST(artist AS BLOB)) + LENGTH(CAST(description AS BLOB)) +"
                   " LENGTH(CAST(source_file AS BLOB)) + LENGTH(CAST(audio_file AS BLOB)))"
                   " FROM carts WHERE number BETWEEN ? AND ?");
        count.Bind(1, *from).Bind(2, *to);
        if (count.Step()) {
            range->rows.reserve(size_t(count.Int(0)));
            range->texts.reserve(qsizetype(qBound(0.0, count.Real(1), 1e9)));
        }
    }
    CartDatabase::Query q(*m_db, "SELECT" CART_ROW_COLUMNS
                                 " FROM carts WHERE number BETWEEN ? AND ? ORDER BY number");
    q.Bind(1, *from).Bind(2, *to);
    while (q.Step()) {
        range->Keep(RowAt<Row>(q));
    }
    range->texts.squeeze();
    // Half a range would pass rows off as missing.
    if (!q.Outcome() || range->readAt == CartDatabase::ChangeStamp() ||
        !(m_db->Changes() == range->readAt)) {
        return;
    }
    m_range = std::move(range);
}

std::optional<CartStore::Row> CartStore::ReadRow(qint32 number) const
{
    if (m_range && number >= m_range->first && number <= m_range->last) {
        if (m_db->Changes() == m_range->readAt) {
            const std::vector<RangeRows::Kept>& rows = m_range->rows;
            const auto known = std::lower_bound(
                rows.begin(), rows.end(), number,
                [](const RangeRows::Kept& row, qint32 wanted) { return row.number < wanted; });
            if (known == rows.end() || known->number != number) {
                return std::nullopt;
            }
            return m_range->Expand(*known);
        }
        m_range.reset();
    }
    CartDatabase::Query q(*m_db, "SELECT" CART_ROW_COLUMNS " FROM carts WHERE number = ?");
    q.Bind(1, number);
    if (!q.Step()) {
        if (const Result<> read = q.Outcome(); !read) {
            throw ToolError(StoreDatabaseFailed,
                            QString("Cannot read cart %1: %2").arg(number).arg(read.Reason()));
        }
        return std::nullopt;
    }
    return RowAt<Row>(q);
}

Result<> CartStore::WriteRow(const Row& row)
{
    CartDatabase::Query q(*m_db, "INSERT OR REPLACE INTO carts (number, title, artist,"
                                 " description, length, start_point, out_point, intro_start,"
                                 " intro_end, extro, modified_low, modified_high, source_file,"
                                 " audio_file, source_version)"
                                 " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    q.Bind(1, row.number)
        .Bind(2, row.title)
        .Bind(3, row.artist)
        .Bind(4, row.description)
        .Bind(5, row.length)
        .Bind(6, row.startPoint)
        .Bind(7, row.outPoint)
        .Bind(8, row.introStart)
        .Bind(9, row.introEnd)
        .Bind(10, row.extro)
        .Bind(11, row.modifiedLow)
        .Bind(12, row.modifiedHigh)
        .Bind(13, row.sourceFile)
        .Bind(14, row.audioFile)
        .Bind(15, VersionText(row.sourceVersion));
    return q.Run();
}

CartStore::AudioLook CartStore::LookAtAudio(qint32 number, const Row* row) const
{
    AudioLook look;
    const bool named = row && !row->audioFile.isEmpty();
    if (named && !PlainName(row->audioFile)) {
        // Never followed out of the audio folder: the cart counts as without audio.
        TellDamagedRow(number, row->audioFile);
        look.name = AudioFileNameFor(number);
        look.damaged = true;
        return look;
    }
    look.name = named ? row->audioFile : AudioFileNameFor(number);
    struct stat audio
    {
    };
    // The held folder only while it is the one verified: a folder swapped since is never looked
    // into, nor the old one once the path leads elsewhere.
    const bool held = m_held.fd >= 0 && m_held.device == m_verified.folderDevice &&
                      m_held.inode == m_verified.folderInode;
    // A link or anything else that is no plain file would lead reads, writes and removals
    // elsewhere.
    const int looked =
        held ? ::fstatat(m_held.fd, QFile::encodeName(look.name).constData(), &audio,
                         AT_SYMLINK_NOFOLLOW)
             : ::lstat(QFile::encodeName(m_audioFolder + QLatin1Char('/') + look.name).constData(),
                       &audio);
    if (looked != 0) {
        return look;
    }
    look.regular = S_ISREG(audio.st_mode);
    look.modifiedNs = qint64(audio.st_mtim.tv_sec) * 1'000'000'000 + audio.st_mtim.tv_nsec;
    if (!look.regular && named) {
        TellDamagedRow(number, row->audioFile);
        return {AudioFileNameFor(number), true, false, 0};
    }
    return look;
}

void CartStore::TellDamagedRow(qint32 number, const QString& name) const
{
    if (m_damagedRowsTold.contains({number, name})) {
        return;
    }
    m_damagedRowsTold.insert({number, name});
    const QString notice =
        QString("The cart store's database is damaged: the row of Cart %1 names '%2' as its "
                "audio, which is not a file in '%3'; the cart counts as having no audio until "
                "audio is imported into it again")
            .arg(number)
            .arg(name, AudioFolder());
    qCWarning(lcStore).noquote() << notice;
    m_notices.append(notice);
}

QStringList CartStore::TakeNotices()
{
    QStringList notices = std::exchange(m_notices, {});
    notices += AudioLengthCache::instance().TakeNotices();
    return notices;
}

Cart CartStore::MakeCart(qint32 number, const Row* row) const
{
    Cart cart;
    cart.HDReference = QString::number(number);
    const AudioLook audio = LookAtAudio(number, row);
    cart.AudioFilePath = m_audioFolder + QLatin1Char('/') + audio.name;
    cart.HasAudio = audio.regular && !audio.damaged;
    if (cart.HasAudio) {
        cart.AudioModifiedNs = audio.modifiedNs;
    }
    if (!row) {
        return cart;
    }
    cart.SourceFile = row->sourceFile;
    cart.SourceVersion = row->sourceVersion;
    cart.Title = row->title;
    cart.Artist = row->artist;
    cart.Description = row->description;
    cart.Length = float(row->length);
    cart.LastModifiedLow = row->modifiedLow;
    cart.LastModifiedHigh = row->modifiedHigh;
    cart.StartPoint = float(row->startPoint);
    cart.OutPoint = float(row->outPoint);
    cart.IntroStart = float(row->introStart);
    cart.IntroEnd = float(row->introEnd);
    cart.Extro = float(row->extro);
    return cart;
}

std::optional<Cart> CartStore::GetCart(const QString& hdReference, qint32 detailLevel, bool flag)
{
    const auto number = CartNumber(hdReference);
    if (!number) {
        return std::nullopt;
    }
    // Without its audio folder every cart would look empty, or another store's.
    return ReadAvailableCart(*number);
}

QString CartStore::GetCartAudioPath(const QString& hdReference, qint32 flags, bool flag) const
{
    const auto number = CartNumber(hdReference);
    if (!number) {
        return {};
    }
    return ReadAvailableCart(*number).AudioFilePath;
}

qint32 CartStore::SaveCart(const QString& hdReference, Cart& cart, qint32 detail, bool timingOnly,
                           bool afterImport, bool& flag)
{
    const auto number = CartNumber(hdReference);
    if (!number) {
        return 1;
    }
    EnsureAvailable();
    Row row;
    if (const auto stored = ReadRow(*number)) {
        row = *stored;
    }
    row.number = *number;
    row.title = cart.Title;
    row.artist = cart.Artist;
    row.description = cart.Description;
    row.length = cart.Length;
    row.startPoint = cart.StartPoint;
    row.outPoint = cart.OutPoint;
    row.introStart = cart.IntroStart;
    row.introEnd = cart.IntroEnd;
    row.extro = cart.Extro;
    row.modifiedLow = cart.LastModifiedLow;
    row.modifiedHigh = cart.LastModifiedHigh;
    if (timingOnly) {
        // The cart now matches its audio file as it is; a later check must not find it newer.
        const Cart current = MakeCart(*number, &row);
        if (const auto stamp = current.HasAudio ? FileStamp(current.AudioFilePath) : std::nullopt) {
            SplitStamp(*stamp, row.modifiedLow, row.modifiedHigh);
        }
    }
    CartDatabase::Transaction transaction(*m_db);
    if (!transaction.Begun() || !WriteRow(row) || !transaction.Commit()) {
        return 2;
    }
    cart.LastModifiedLow = row.modifiedLow;
    cart.LastModifiedHigh = row.modifiedHigh;
    return 0;
}

QList<CartSummary> CartStore::ListCarts(qint64 afterNumber, int maxCount) const
{
    QList<CartSummary> carts;
    if (maxCount <= 0) {
        return carts;
    }
    CartDatabase::Query q(*m_db, "SELECT number, title, artist, length FROM carts"
                                 " WHERE number > ? AND number <= ? AND length > 0"
                                 " ORDER BY number LIMIT ?");
    q.Bind(1, afterNumber).Bind(2, HighestCart()).Bind(3, maxCount);
    carts.reserve(maxCount);
    while (q.Step()) {
        CartSummary cart;
        cart.Number = q.Int(0);
        cart.HDReference = QString::number(cart.Number);
        cart.Title = q.Text(1);
        cart.Artist = q.Text(2);
        cart.Length = float(q.Real(3));
        carts.append(cart);
    }
    if (const Result<> read = q.Outcome(); !read) {
        throw ToolError(StoreDatabaseFailed,
                        QString("Cannot list the carts: %1").arg(read.Reason()));
    }
    return carts;
}

namespace {

// "1234 Station Jingle" into cart 1234 gives "Station Jingle".
QString TitleFromFile(const QString& path, qint32 number)
{
    const QString title = QFileInfo(path).completeBaseName();
    static const QRegularExpression leading("^(\\d+)\\s+(\\S.*)$");
    const auto match = leading.match(title);
    if (match.hasMatch() && match.captured(1).toLongLong() == number) {
        return match.captured(2).trimmed();
    }
    return title.trimmed();
}

} // namespace

Result<> CartStore::ImportInto(qint32 number, const QString& audioFile, const QString& sourceFile,
                               const std::optional<FileVersionKey>& sourceVersion, bool intoEmpty,
                               qint16 normaliseLevel, const QList<QPair<QString, QString>>* fields,
                               Progress& progress, double progressFrom)
{
    if (progress.Cancelled()) {
        return Failure{"import cancelled"};
    }
    const std::optional<Row> old = ReadRow(number);
    // A damaged row gets a fresh file of the cart's own, and is mended by the new row.
    const QString finalName = LookAtAudio(number, old ? &*old : nullptr).name;
    const QString finalPath = AudioFolder() + "/" + finalName;
    // Never into a folder that is not the store's own (never recreated either).
    EnsureAvailable();
    RemoveLeftovers(false);

    // The reserved file stays open, and locked, until the import is over: the lock tells
    // everybody sweeping leftovers that its writer lives.
    QTemporaryFile reserve;
    for (int attempt = 0;; ++attempt) {
        reserve.setFileTemplate(AudioFolder() + "/." + finalName + ".XXXXXX.tmp");
        reserve.setAutoRemove(false);
        if (!reserve.open()) {
            StoreFault(StoreWriteFailed,
                       QString("cannot write in %1: %2").arg(AudioFolder(), reserve.errorString()));
        }
        if (LeftoverFiles::Own(reserve.handle(), reserve.fileName()) || attempt == 3) {
            break;
        }
        reserve.close();
    }
    const QString tempPath = reserve.fileName();
    // Stored audio is read by playout and backups under other accounts, as the database is.
    ::fchmod(reserve.handle(), LeftoverFiles::DefaultFileMode());
    // The writer's messages name its file; the temporary name would differ at every attempt.
    auto storeReason = [&](QString reason) { return reason.replace(tempPath, finalPath); };
    struct RemoveOnExit
    {
        QString path;
        ~RemoveOnExit()
        {
            if (!path.isEmpty()) {
                QFile::remove(path);
            }
        }
    } tempGuard{tempPath};

    // The source is looked at only once the store has taken the reservation: a folder that
    // takes no new file costs a refused open per file, not a probe of each. A file measured
    // just before has been decoded already.
    std::optional<DecodedAudio> decodedBefore = DecodedAudio::Take(audioFile);
    FfmpegAudioReader reader;
    if (!decodedBefore) {
        if (const Result<> opened = reader.Open(audioFile); !opened) {
            return opened;
        }
    }
    const int sampleRate = decodedBefore ? decodedBefore->sampleRate : reader.SampleRate();
    const int channels = decodedBefore ? decodedBefore->channels : reader.Channels();
    // The length measured before the import tells what the stored audio will take: a disk
    // without room for it is found before the audio is decoded.
    qint64 frames = decodedBefore ? decodedBefore->frames : reader.DeclaredFrames();
    if (frames <= 0) {
        const auto key = AudioLengthCache::KeyOf(audioFile);
        const auto ms = key ? AudioLengthCache::instance().Lookup(audioFile, *key) : std::nullopt;
        frames = ms ? FramesIn(*ms, sampleRate) : 0;
    }
    const qint64 needed = WaveBytes(frames, channels);
    const qint64 room = TransportFile::FreeBytes(AudioFolder());
    if (frames > 0 && room >= 0 && needed > room) {
        // The free bytes stay out of the reason: it is told once, not at every change of them.
        StoreFault(StoreWriteFailed, QString("cannot write %1: not enough free space in %2 for its "
                                             "%3 bytes")
                                         .arg(finalPath, AudioFolder())
                                         .arg(needed));
    }

    const bool normalise = normaliseLevel > 0;
    const double span = 100.0 - progressFrom;
    const double decodeShare = normalise ? 0.8 : 0.95;
    WaveFileWriter writer;
    if (const Result<> opened = writer.Open(tempPath, sampleRate, channels); !opened) {
        StoreFault(StoreWriteFailed, storeReason(opened.Reason()));
    }
    const auto decodeProgress = [&](double fraction) {
        return progress.Report(progressFrom + span * decodeShare * fraction);
    };
    Result<> written;
    Result<> read;
    bool decoded = true;
    if (decodedBefore) {
        const std::vector<qint16>& samples = decodedBefore->samples;
        constexpr qint64 chunkFrames = 65536;
        for (qint64 frame = 0; decoded && frame < decodedBefore->frames; frame += chunkFrames) {
            const int frames = int(qMin(chunkFrames, decodedBefore->frames - frame));
            written = writer.Write(samples.data() + frame * channels, frames);
            decoded =
                written && decodeProgress(double(frame + frames) / double(decodedBefore->frames));
        }
    } else {
        read = reader.Decode(
            [&](const qint16* samples, int frames) {
                written = writer.Write(samples, frames);
                return written.Ok();
            },
            decodeProgress);
        decoded = read.Ok();
    }
    if (!decoded) {
        if (progress.Cancelled()) {
            return Failure{"import cancelled"};
        }
        if (!written) {
            StoreFault(StoreWriteFailed, storeReason(written.Reason()));
        }
        return read;
    }
    if (normalise) {
        const double gain = WaveFileWriter::NormaliseGain(writer.Peak(), normaliseLevel);
        const double from = progressFrom + span * decodeShare;
        const Result<> scaled =
            writer.Scale(gain, [&](double f) { return progress.Report(from + span * 0.15 * f); });
        if (!scaled) {
            if (progress.Cancelled()) {
                return Failure{"import cancelled"};
            }
            StoreFault(StoreWriteFailed, storeReason(scaled.Reason()));
        }
    }
    if (const Result<> finished = writer.Finish(); !finished) {
        StoreFault(StoreWriteFailed, storeReason(finished.Reason()));
    }
    if (progress.Cancelled()) {
        return Failure{"import cancelled"};
    }

    const double length =
        double(decodedBefore ? decodedBefore->frames : reader.FrameCount()) / sampleRate;
    const auto tag = [&](const char* key) {
        if (!decodedBefore) {
            return reader.Tag(key);
        }
        return QByteArray(key) == "title" ? decodedBefore->title : decodedBefore->artist;
    };
    Row row;
    if (old) {
        row = *old;
    }
    row.number = number;
    row.length = length;
    // A cart re-imported from its own audio file still came from where it came from.
    if (!old ||
        QFileInfo(sourceFile).canonicalFilePath() != QFileInfo(finalPath).canonicalFilePath()) {
        row.sourceFile = sourceFile;
        row.sourceVersion = sourceVersion;
    }
    row.audioFile = finalName;
    if (intoEmpty || !old) {
        row.title = tag("title");
        if (row.title.isEmpty()) {
            row.title = TitleFromFile(sourceFile, number);
        }
        row.artist = tag("artist");
        row.description.clear();
        row.startPoint = 0.0;
        row.outPoint = length;
        row.introStart = row.introEnd = row.extro = -1.0;
    } else {
        // An out point that marked the end of the old audio marks the end of the new one.
        const bool outAtEnd = row.outPoint <= 0 || std::abs(row.outPoint - old->length) < 0.01;
        row.startPoint = qBound(0.0, row.startPoint, length);
        row.outPoint = outAtEnd ? length : qBound(0.0, row.outPoint, length);
        row.introStart = ClampMarker(row.introStart, length);
        row.introEnd = ClampMarker(row.introEnd, length);
        row.extro = ClampMarker(row.extro, length);
    }
    if (fields) {
        // A marker must lie in the audio; the optional ones may be -1, none. Anything else is a
        // damaged file, not a marker to be bent into place. The text of a number may round it
        // a little beyond the end. A blank field sets nothing, as before.
        Result<> markers;
        auto marker = [&](const QString& name, const QString& text, bool optional, double current) {
            if (text.trimmed().isEmpty()) {
                return current;
            }
            bool ok = false;
            const double value = text.trimmed().toDouble(&ok);
            if (ok && std::isfinite(value) && optional && value == -1.0) {
                return value;
            }
            if (!ok || !std::isfinite(value) || value < 0.0 || value > length + 0.001) {
                markers = Failure{QString("%1 is damaged: its marker %2=%3 lies outside the "
                                          "audio (%4 s)")
                                      .arg(sourceFile, name, text, Number(length))};
                return 0.0;
            }
            return qMin(value, length);
        };
        for (const auto& [name, value] : *fields) {
            if (name.compare("Title", Qt::CaseInsensitive) == 0) {
                row.title = value;
            } else if (name.compare("Artist", Qt::CaseInsensitive) == 0) {
                row.artist = value;
            } else if (name.compare("Description", Qt::CaseInsensitive) == 0) {
                row.description = value;
            } else if (name.compare("StartPoint", Qt::CaseInsensitive) == 0) {
                row.startPoint = marker(name, value, false, row.startPoint);
            } else if (name.compare("OutPoint", Qt::CaseInsensitive) == 0) {
                row.outPoint = marker(name, value, false, row.outPoint);
            } else if (name.compare("IntroStart", Qt::CaseInsensitive) == 0) {
                row.introStart = marker(name, value, true, row.introStart);
            } else if (name.compare("IntroEnd", Qt::CaseInsensitive) == 0) {
                row.introEnd = marker(name, value, true, row.introEnd);
            } else if (name.compare("Extro", Qt::CaseInsensitive) == 0) {
                row.extro = marker(name, value, true, row.extro);
            }
            if (!markers) {
                return markers;
            }
        }
    }
    const auto stamp = FileStamp(tempPath);
    if (!stamp) {
        StoreFault(
            StoreWriteFailed,
            QString("the new audio of cart %1 disappeared from %2").arg(number).arg(AudioFolder()));
    }
    SplitStamp(*stamp, row.modifiedLow, row.modifiedHigh);

    // The old audio stays reachable under a backup name until the new row is committed; a
    // crash in between is undone when the store is next opened.
    CartDatabase::Transaction transaction(*m_db);
    Result<> updated = transaction.Begun();
    if (updated) {
        updated = WriteRow(row);
    }
    if (!updated) {
        StoreFault(
            StoreDatabaseFailed,
            QString("cannot update the cart in %1: %2").arg(DatabasePath(), updated.Reason()));
    }
    const QString backupPath = AudioFolder() + "/" + BackupName(finalName);
    const QByteArray finalBytes = QFile::encodeName(finalPath);
    const QByteArray backupBytes = QFile::encodeName(backupPath);
    struct stat present
    {
    };
    const bool hadAudio =
        ::lstat(finalBytes.constData(), &present) == 0 && S_ISREG(present.st_mode);
    // Without old audio an empty mark stands in for the backup: a crash before the commit
    // leaves audio that no row names, and the next open removes it.
    const QByteArray newMarkBytes = QFile::encodeName(AudioFolder() + "/" + NewMarkName(finalName));
    if (!hadAudio) {
        const int mark =
            ::open(newMarkBytes.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (mark < 0) {
            StoreFault(StoreWriteFailed,
                       QString("cannot write in %1: %2")
                           .arg(AudioFolder(), QString::fromLocal8Bit(std::strerror(errno))));
        }
        ::close(mark);
    }
    if (hadAudio) {
        ::unlink(backupBytes.constData());
        if (!m_options.hardLinks || ::link(finalBytes.constData(), backupBytes.constData()) != 0) {
            // Stores on file systems without hard links (vfat, SMB without Unix extensions)
            // keep a copy instead, with the old modification time.
            qint16 flag1 = 0;
            qint16 flag2 = 0;
            qint32 copyFlags = 4;
            const qint32 status = FileFunctions::instance().CopyFileWithProgress(
                finalPath, backupPath, QString(), nullptr, flag1, flag2, copyFlags);
            if (status != 0) {
                StoreFault(StoreWriteFailed,
                           QString("cannot keep the old audio of cart %1: %2")
                               .arg(number)
                               .arg(QString::fromLocal8Bit(std::strerror(status))));
            }
        }
    }
    if (::rename(QFile::encodeName(tempPath).constData(), finalBytes.constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(hadAudio ? backupBytes.constData() : newMarkBytes.constData());
        StoreFault(StoreWriteFailed,
                   QString("cannot move the new audio into %1: %2").arg(finalPath, reason));
    }
    tempGuard.path.clear();
    if (const Result<> committed = transaction.Commit(); !committed) {
        if (hadAudio) {
            ::rename(backupBytes.constData(), finalBytes.constData());
        } else {
            ::unlink(finalBytes.constData());
        }
        ::unlink(newMarkBytes.constData());
        StoreFault(
            StoreDatabaseFailed,
            QString("cannot update the cart in %1: %2").arg(DatabasePath(), committed.Reason()));
    }
    ::unlink(hadAudio ? backupBytes.constData() : newMarkBytes.constData());
    progress.Report(100.0);
    qCDebug(lcStore) << "imported" << sourceFile << "into cart" << number << "length" << length;
    return {};
}

void CartStore::RemoveLeftovers(bool now)
{
    const qint64 clock = QDateTime::currentMSecsSinceEpoch();
    // A sweep reads the whole folder: once a minute is soon enough for a store in use.
    if (!now && clock - m_lastSweep < 60000) {
        return;
    }
    m_lastSweep = clock;
    LeftoverFiles::RemoveUnowned(AudioFolder(), AudioLeftovers());
    // Files measured once and gone since would keep their rows for ever.
    AudioLengthCache::instance().ForgetGone();
}

void CartStore::RecoverInterruptedImports()
{
    RemoveLeftovers(true);
    QDir audio(AudioFolder());
    const QStringList marks = audio.entryList({".*.bak", ".*.new"}, QDir::Files | QDir::Hidden);
    if (marks.isEmpty()) {
        return;
    }
    // An import holds the write lock from before it moves its audio in until the backup is
    // gone, so with the lock held here no backup belongs to an import in progress.
    CartDatabase::Transaction lock(*m_db);
    if (!lock.Begun()) {
        return;
    }
    for (const QString& name : marks) {
        const bool hadAudio = name.endsWith(".bak");
        const QString finalName = name.mid(1, name.size() - 5);
        const QString finalPath = audio.filePath(finalName);
        bool committed = false;
        CartDatabase::Query q(*m_db, "SELECT modified_low, modified_high FROM carts"
                                     " WHERE audio_file = ?");
        q.Bind(1, finalName);
        if (q.Step()) {
            if (const auto stamp = FileStamp(finalPath)) {
                qint32 low = 0;
                qint32 high = 0;
                SplitStamp(*stamp, low, high);
                committed = low == qint32(q.Int(0)) && high == qint32(q.Int(1));
            }
        }
        if (committed) {
            audio.remove(name);
        } else if (hadAudio) {
            qCWarning(lcStore) << "restoring the audio of an interrupted import:" << finalPath;
            ::rename(QFile::encodeName(audio.filePath(name)).constData(),
                     QFile::encodeName(finalPath).constData());
        } else {
            qCWarning(lcStore) << "removing the audio of an interrupted import:" << finalPath;
            audio.remove(finalName);
            audio.remove(name);
        }
    }
}

bool CartStore::ImportAudioFile(QObject* parentWindow, const QString& hdReference,
                                const QString& fileName, qint32 flags, qint16 normaliseLevel,
                                bool& flag1, qint32 arg7, qint32 arg8, bool& flag2)
{
    m_lastError.clear();
    const Result<qint32> number = CartFor(hdReference);
    if (!number) {
        return Answer(Failure{number.Reason()});
    }
    // Before anything is read: a file that changes meanwhile is another version.
    const std::optional<FileVersionKey> version = FileVersionKey::Of(fileName);
    Progress progress(m_callbacks, AudioImportEvent,
                      QString("Importing %1").arg(QFileInfo(fileName).fileName()));
    const bool ok =
        Answer(ImportInto(*number, fileName, QFileInfo(fileName).absoluteFilePath(), version,
                          (flags & ImportIntoEmpty) != 0, normaliseLevel, nullptr, progress, 0.0));
    ThrowIfStopped(ok);
    return ok;
}

// An import cut short because the program is closing is no failure of the file: raised, so
// that the caller neither reports it as one nor moves the file aside.
void CartStore::ThrowIfStopped(bool ok)
{
    if (!ok && LongWork::Stopped()) {
        throw ToolError(LongWork::StoppedError, "Import stopped: the program is closing");
    }
}

bool CartStore::ImportTransportFile(QObject* parentWindow, const QString& hdReference,
                                    const QString& fileName, qint32 arg4, QObject* arg5,
                                    qint32 arg6, QString& arg7, qint32 arg8, bool& flag)
{
    m_lastError.clear();
    const Result<qint32> number = CartFor(hdReference);
    if (!number) {
        return Answer(Failure{number.Reason()});
    }
    const std::optional<FileVersionKey> version = FileVersionKey::Of(fileName);
    Progress progress(m_callbacks, TransportImportEvent,
                      QString("Importing %1").arg(QFileInfo(fileName).fileName()));
    QString audio;
    TransportFile::Fields fields;
    EnsureAvailable();
    RemoveLeftovers(false);
    bool storeFailed = false;
    const Result<> unpacked = TransportFile::Read(
        fileName, AudioFolder(), audio, fields,
        [&](double fraction) { return progress.Report(30.0 * fraction); }, &storeFailed);
    if (!unpacked) {
        if (progress.Cancelled() || LongWork::Stopped()) {
            Answer(Failure{"import cancelled"});
            ThrowIfStopped(false);
            return false;
        }
        // No room or no writing in the audio folder: the store's fault, not the file's.
        if (storeFailed) {
            StoreFault(StoreWriteFailed, unpacked.Reason());
        }
        return Answer(unpacked);
    }
    QFile unpackedAudio(audio);
    if (unpackedAudio.open(QIODevice::ReadOnly)) {
        LeftoverFiles::Own(unpackedAudio.handle(), audio);
    }
    struct RemoveOnExit
    {
        QFile& file;
        ~RemoveOnExit() { file.remove(); }
    } unpackedGuard{unpackedAudio};
    const bool ok = Answer(ImportInto(*number, audio, QFileInfo(fileName).absoluteFilePath(),
                                      version, !ReadRow(*number), -1, &fields, progress, 30.0));
    ThrowIfStopped(ok);
    return ok;
}

bool CartStore::ExportCart(QObject* parentWindow, const QString& hdReference,
                           const QString& targetFile, QObject* progressObject, qint32 arg5,
                           const QString& arg6, bool flag1, bool flag2)
{
    m_lastError.clear();
    const Result<qint32> number = CartFor(hdReference);
    if (!number) {
        return Answer(Failure{number.Reason()});
    }
    EnsureAvailable();
    const auto row = ReadRow(*number);
    const Cart cart = MakeCart(*number, row ? &*row : nullptr);
    if (!row || !cart.HasAudio) {
        return Answer(Failure{QString("cart %1 has no audio").arg(*number)});
    }
    Progress progress(m_callbacks, ExportEvent, QString("Exporting Cart %1").arg(*number));
    const TransportFile::Fields fields = {
        {"Cart", cart.HDReference},
        {"Title", cart.Title},
        {"Artist", cart.Artist},
        {"Description", cart.Description},
        {"Length", Number(row->length)},
        {"StartPoint", Number(row->startPoint)},
        {"OutPoint", Number(row->outPoint)},
        {"IntroStart", Number(row->introStart)},
        {"IntroEnd", Number(row->introEnd)},
        {"Extro", Number(row->extro)},
        {"SourceFile", cart.SourceFile},
    };
    const Result<> written = TransportFile::Write(
        targetFile, cart.AudioFilePath, QFileInfo(cart.AudioFilePath).fileName(), fields,
        [&](double fraction) { return progress.Report(100.0 * fraction); });
    if (!written && progress.Cancelled()) {
        return Answer(Failure{"export cancelled"});
    }
    return Answer(written);
}

bool CartStore::RemoveCart(const QString& hdReference, bool flag1, bool flag2)
{
    m_lastError.clear();
    const Result<qint32> number = CartFor(hdReference);
    if (!number) {
        return Answer(Failure{number.Reason()});
    }
    // A cart whose audio seems gone is removed only while its folder is surely the store's own:
    // an unmounted disk hides every file at once.
    EnsureAvailable(true);
    const auto row = ReadRow(*number);
    // A damaged row names no file of the store's: the cart's own name in the folder is taken.
    AudioLook look = LookAtAudio(*number, row ? &*row : nullptr);
    if (look.damaged) {
        look = LookAtAudio(*number, nullptr);
    }
    // Files first: a row without audio is an empty cart, audio without a row would not be.
    const QFileInfo audio(AudioFolder() + "/" + look.name);
    if (look.regular && !QFile::remove(audio.filePath())) {
        return Answer(Failure{QString("cannot remove %1").arg(audio.filePath())});
    }
    QDir folder(AudioFolder());
    const QString base = audio.completeBaseName();
    for (const QString& name : folder.entryList({base + ".*"}, QDir::Files | QDir::NoSymLinks)) {
        if (QFileInfo(name).completeBaseName() == base && !folder.remove(name)) {
            qCWarning(lcStore) << "cannot remove" << folder.filePath(name);
        }
    }
    if (!row) {
        return true;
    }
    CartDatabase::Query q(*m_db, "DELETE FROM carts WHERE number = ?");
    q.Bind(1, *number);
    const Result<> removed = q.Run();
    return Answer(removed ? removed : Failure{"cannot remove cart: " + removed.Reason()});
}

void CartStore::RefreshCartInfo(bool flag, QString& text, qint32& number)
{
    number = RefreshLengths(1, HighestCart());
}

void CartStore::RefreshCartInfoInRange(const QString& first, const QString& last, bool flag,
                                       QString& text, qint32& number)
{
    const auto from = CartNumber(first);
    const auto to = CartNumber(last);
    number = from && to ? RefreshLengths(*from, *to) : 0;
}

qint32 CartStore::RefreshLengths(qint32 first, qint32 last)
{
    EnsureAvailable();
    struct Stored
    {
        qint32 number;
        double length;
        QString path;
        AudioLengthCache::FileKey key;
    };
    QList<Stored> carts;
    {
        CartDatabase::Query q(*m_db, "SELECT number, length, audio_file FROM carts"
                                     " WHERE audio_file <> '' AND number BETWEEN ? AND ?"
                                     " ORDER BY number");
        q.Bind(1, first).Bind(2, last);
        while (q.Step()) {
            carts.append({qint32(q.Int(0)), q.Real(1), q.Text(2), {}});
        }
    }
    // A length is finite and not negative, or the cart keeps the one it has; said once per
    // version of its audio.
    const auto unmeasured = [&](const Stored& cart, const QString& reason) {
        const QString version =
            QString("%1 %2 %3").arg(cart.key.inode).arg(cart.key.size).arg(cart.key.modifiedNs);
        if (m_unmeasuredTold.value(cart.number) == version) {
            return;
        }
        m_unmeasuredTold.insert(cart.number, version);
        const QString notice = QString("The length of Cart %1 was not refreshed: its audio '%2' "
                                       "cannot be measured (%3)")
                                   .arg(cart.number)
                                   .arg(cart.path, reason);
        qCWarning(lcStore).noquote() << notice;
        m_notices.append(notice);
    };
    qint32 changed = 0;
    const auto keep = [&](const Stored& cart, double lengthMs, const QString& reason) {
        if (!std::isfinite(lengthMs) || lengthMs < 0) {
            unmeasured(cart, reason.isEmpty() ? QStringLiteral("it holds no audio") : reason);
            return;
        }
        const double length = lengthMs / 1000.0;
        if (std::abs(length - cart.length) < 0.0005) {
            return;
        }
        CartDatabase::Query update(*m_db, "UPDATE carts SET length = ? WHERE number = ?");
        update.Bind(1, length).Bind(2, cart.number);
        if (update.Run()) {
            ++changed;
        }
    };

    // Lengths known to the cache cost a lookup; only the rest are decoded, with progress, as
    // a store of thousands of carts can take minutes.
    QList<Stored> toDecode;
    AudioLengthCache& cache = AudioLengthCache::instance();
    for (Stored cart : carts) {
        Row row;
        row.audioFile = cart.path;
        const AudioLook look = LookAtAudio(cart.number, &row);
        // A missing file keeps what is known about the cart; a damaged row names none.
        if (look.damaged || !look.regular) {
            continue;
        }
        cart.path = AudioFolder() + "/" + look.name;
        const auto key = AudioLengthCache::KeyOf(cart.path);
        if (!key) {
            continue;
        }
        cart.key = *key;
        QString reason;
        if (const auto cached = cache.Lookup(cart.path, *key, &reason)) {
            keep(cart, *cached, reason);
        } else {
            toDecode.append(cart);
        }
    }
    if (toDecode.isEmpty()) {
        return changed;
    }
    Progress progress(m_callbacks, RefreshEvent, QStringLiteral("Refreshing Cart Information"));
    for (qsizetype i = 0; i < toDecode.size() && !progress.Cancelled(); ++i) {
        AudioDecoder decoder;
        try {
            decoder.OpenFile(toDecode[i].path);
            keep(toDecode[i], decoder.DurationMs(), QString());
        } catch (const ToolError& error) {
            // An unreadable file keeps what is known about the cart.
            qCDebug(lcStore) << error.what();
            if (error.Number() != LongWork::StoppedError) {
                const auto known = cache.UnmeasurableReason(toDecode[i].path, toDecode[i].key);
                unmeasured(toDecode[i], known ? *known : error.Description());
            }
        }
        progress.Report(100.0 * double(i + 1) / double(toDecode.size()));
    }
    return changed;
}

void CartStore::RegisterCallback(IAudioCallback* sink)
{
    if (sink && !m_callbacks.contains(sink)) {
        m_callbacks.append(sink);
    }
}

void CartStore::UnregisterCallback(IAudioCallback* sink)
{
    m_callbacks.removeAll(sink);
}
