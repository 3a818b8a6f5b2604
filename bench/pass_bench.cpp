// Times whole check passes of the real main window over large drop folders and stores.
// The store and the files live in a folder that the calling script keeps between rows, so that
// later rows find what earlier ones imported. Each run of a row is a process of its own, which
// checks after every pass that the pass did its work (carts imported, files deleted, archive
// marks cleared, nothing imported again) and fails the row otherwise.
//
//   pass_bench gen-wav FOLDER FIRST COUNT [PER]    small WAVs "N Bench.wav", PER a subfolder
//   pass_bench gen-copies FOLDER FIRST COUNT FILE  copies of FILE as "N Bench.<ext>"
//   pass_bench ROW HOME                            prints one BENCH line, or a FAILED line
//                                                  and exits with 1
//   pass_bench ROW HOME RUN                        one run: a SECONDS line a timed pass
//   pass_bench ROW HOME RUN count                  one run of a steady row: one pass, then
//                                                  one between markers for strace to count;
//                                                  of a fresh process's row: its first pass
//                                                  between the markers
//   pass_bench ROW HOME import                     one pass that imports the row's files
//   pass_bench rss-N HOME                          the BENCH line of the resident memory in MB
//                                                  (MiB) after two passes, of runs processes
//   pass_bench rss-N HOME RUN memory               one run of it: "RSS MB PEAK-MB"
#include "engine/cImporter.h"
#include "framework/ToolGlobals.h"
#include "framework/ToolStartup.h"
#include "platform/cartstore/CartListing.h"
#include "platform/cartstore/CartStore.h"
#include "platform/cartstore/CartStoreSettings.h"
#include "platform/cartstore/WaveFileWriter.h"
#include "platform/system/ArchiveAttribute.h"
#include "platform/system/MessageBox.h"
#include "platform/system/PlatformPaths.h"
#include "platform/system/ToolError.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace {

bool WriteSmallWav(const QString& path, int index)
{
    WaveFileWriter writer;
    if (!writer.Open(path, 8000, 1)) {
        return false;
    }
    std::vector<qint16> samples(800 + index % 97);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = qint16(4000 * std::sin(0.05 * double(i) * (1 + index % 7)));
    }
    return writer.Write(samples.data(), int(samples.size())) && writer.Finish();
}

// gen-wav makes only 97 * 7 different WAVs; the others are plain copies of their bytes, which
// spares a flush to disk for each of 100,000 files.
bool WriteSmallWavCopy(const QString& path, int index, std::map<int, QByteArray>& made)
{
    const int kind = index % (97 * 7);
    const auto it = made.find(kind);
    if (it == made.end()) {
        QFile file(path);
        if (!WriteSmallWav(path, index) || !file.open(QIODevice::ReadOnly)) {
            return false;
        }
        made[kind] = file.readAll();
        return true;
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(it->second) == it->second.size();
}

int Generate(const QStringList& args)
{
    const QString folder = args.value(2);
    const int first = args.value(3).toInt();
    const int count = args.value(4).toInt();
    const bool wav = args.value(1) == "gen-wav";
    const int perFolder = wav ? args.value(5).toInt() : 0;
    std::map<int, QByteArray> made;
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QString where = folder;
        if (perFolder > 0) {
            where += QStringLiteral("/%1").arg(i / perFolder, 4, 10, QLatin1Char('0'));
        }
        if (perFolder > 0 && i % perFolder == 0) {
            QDir().mkpath(where);
        }
        const QString name = QStringLiteral("%1 Bench").arg(first + i);
        bool ok = false;
        if (wav) {
            ok = WriteSmallWavCopy(where + "/" + name + ".wav", i, made);
        } else {
            const QString source = args.value(5);
            ok = QFile::copy(source, where + "/" + name + "." + QFileInfo(source).suffix());
        }
        if (!ok) {
            std::fprintf(stderr, "could not write file %d in %s\n", i, qPrintable(folder));
            return 1;
        }
    }
    return 0;
}

// Seconds of one run of an outside command (its output discarded); empty when it failed.
std::optional<double> TimeCommand(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return std::nullopt;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

enum class Kind
{
    // A fresh process's first pass over new files, per file: one process a run.
    FirstPass,
    // A fresh process's first pass over files it has seen before: one process a run.
    FreshPass,
    // The passes of one process after its first one.
    Steady,
};

enum class Reference
{
    None,
    FindFolder,
    FindAudio,
    FfmpegDecode,
};

struct Row
{
    const char* name;
    Kind kind;
    // Under HOME/files, the n-th run of a first pass in "<folder>-n"; empty for a re-check group.
    const char* folder;
    // The group's range: count carts from first (in the n-th run of a first pass the n-th such
    // range).
    int first;
    int count;
    // Processes of a first pass, timed passes of a steady row; the reference runs as often.
    int runs;
    Reference reference;
    // Carts with audio in the range after every pass.
    int carts;
    bool deleteAfter = false;
    bool archive = false;
    // The process's first pass imports: the store stays as it is only from then on.
    bool importsFirst = false;
};

// The scripts make the folders these rows name; later rows find what earlier ones imported.
const Row Rows[] = {
    {"first-pass-1000", Kind::FirstPass, "wav1000", 10000, 1000, 3, Reference::None, 1000},
    {"first-pass-10000", Kind::FirstPass, "wav10000", 20000, 10000, 1, Reference::None, 10000},
    {"pass-unchanged-10000", Kind::Steady, "wav10000", 20000, 10000, 5, Reference::FindFolder,
     10000},
    {"pass-first-10000", Kind::FreshPass, "wav10000", 20000, 10000, 5, Reference::FindFolder,
     10000},
    {"pass-out-of-range-10000", Kind::Steady, "outofrange", 30000, 1000, 5, Reference::FindFolder,
     0},
    {"recheck-10000", Kind::Steady, "", 20000, 10000, 5, Reference::FindAudio, 10000},
    {"pass-mp3-1000", Kind::Steady, "mp3", 40000, 1000, 5, Reference::FindFolder, 1000, false,
     false, true},
    {"import-mp3", Kind::FirstPass, "long", 60000, 1, 3, Reference::FfmpegDecode, 1},
    {"first-pass-delete-1000", Kind::FirstPass, "delete1000", 13000, 1000, 3, Reference::None, 1000,
     true},
    {"first-pass-delete-10000", Kind::FirstPass, "delete10000", 70000, 10000, 1, Reference::None,
     10000, true},
    {"pass-archive-10000", Kind::Steady, "wav10000", 20000, 10000, 5, Reference::FindFolder, 10000,
     false, true, true},
    // Imported by the script beforehand and only counted.
    {"pass-smallfolders-10000", Kind::Steady, "smallfolders", 80000, 10000, 1,
     Reference::FindFolder, 10000},
    // In a home of its own, whose store's highest cart the import raises.
    {"rss-100000", Kind::Steady, "wav100000", 100000, 100000, 3, Reference::None, 100000},
};

// System calls per file of one steady pass of a row, counted by strace between the markers, and
// find's per file over the same files.
struct CountRow
{
    const char* name;
    const char* passes;
};

// Counted is the pass after the process's first, or a fresh process's first pass.
const CountRow CountRows[] = {
    {"syscalls-unchanged-10000", "pass-unchanged-10000"},
    {"syscalls-archive-10000", "pass-archive-10000"},
    {"syscalls-recheck-10000", "recheck-10000"},
    {"syscalls-restart-10000", "pass-first-10000"},
    {"syscalls-smallfolders-10000", "pass-smallfolders-10000"},
};

// Looked up by the counted process around the counted pass: a line of its own in the trace.
const char* const PassStartMarker = "/pass-bench-marker/start";
const char* const PassEndMarker = "/pass-bench-marker/end";

const Row* FindRow(const QString& name)
{
    for (const CountRow& row : CountRows) {
        if (name == QLatin1String(row.name)) {
            return FindRow(QLatin1String(row.passes));
        }
    }
    for (const Row& row : Rows) {
        if (name == QLatin1String(row.name)) {
            return &row;
        }
    }
    return nullptr;
}

QString FolderOf(const Row& row, const QString& home, int run)
{
    if (*row.folder == 0) {
        return QString();
    }
    const QString folder = home + "/files/" + row.folder;
    return run == 0 || row.kind != Kind::FirstPass ? folder
                                                   : folder + "-" + QString::number(run + 1);
}

int FirstCartOf(const Row& row, int run)
{
    return row.kind == Kind::FirstPass ? row.first + run * row.count : row.first;
}

QString ProfileFolder()
{
    return PlatformPaths::DataHome() + "/Orvane/Cartvault v3/Tools/Cartfeeder/Profiles/Bench";
}

bool WriteGroup(const Row& row, const QString& home, int run)
{
    QDir().mkpath(ProfileFolder());
    QFile file(ProfileFolder() + "/Importer.ini");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    const int first = FirstCartOf(row, run);
    // An empty folder makes a group that re-checks its range of carts.
    file.write(QStringLiteral("[General]\nNumberGroups=1\nCheckInterval=3600\n"
                              "[Group1]\nName=Bench\nDirectory=%1\nStartHDRef=%2\nEndHDRef=%3\n"
                              "Enabled=1\nDeleteAfterImport=%4\nUseArchiveBit=%5\n")
                   .arg(FolderOf(row, home, run))
                   .arg(first)
                   .arg(first + row.count - 1)
                   .arg(int(row.deleteAfter))
                   .arg(int(row.archive))
                   .toUtf8());
    return file.flush();
}

QStringList FilesIn(const QString& folder)
{
    QStringList files;
    if (folder.isEmpty()) {
        return files;
    }
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << it.next();
    }
    return files;
}

// Counted without a list, which would stay in the memory that the rss- row measures.
qsizetype CountFiles(const QString& folder)
{
    qsizetype files = 0;
    if (folder.isEmpty()) {
        return files;
    }
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    for (; it.hasNext(); it.next()) {
        ++files;
    }
    return files;
}

// The audio files of the store, each by name, inode, size and modification time, which an import
// changes; summed up so that 100,000 of them take no room in the measured memory.
struct AudioState
{
    qsizetype files = 0;
    size_t sum = 0;
    bool operator==(const AudioState&) const = default;
};

AudioState ReadAudioState(const QString& audioFolder)
{
    AudioState state;
    QDirIterator it(audioFolder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st = {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
            ++state.files;
            state.sum += qHashMulti(0, path, quint64(st.st_ino), qint64(st.st_size),
                                    qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
        }
    }
    return state;
}

int CartsWithAudio(int first, int last)
{
    auto* listing = dynamic_cast<CartListing*>(Globals::PlayoutAudio);
    if (!listing) {
        return -1;
    }
    const QList<CartSummary> carts = listing->ListCarts(first - 1, last - first + 1);
    return int(std::count_if(carts.begin(), carts.end(),
                             [last](const CartSummary& cart) { return cart.Number <= last; }));
}

// What is wrong with the state a pass left; empty when it did its work.
QString CheckPass(const Row& row, const QString& folder, int run, qsizetype filesBefore,
                  const std::optional<AudioState>& audioBefore, const QString& audioFolder)
{
    const int first = FirstCartOf(row, run);
    const int carts = CartsWithAudio(first, first + row.count - 1);
    if (carts != row.carts) {
        return QStringLiteral("%1 carts with audio in %2-%3, expected %4")
            .arg(carts)
            .arg(first)
            .arg(first + row.count - 1)
            .arg(row.carts);
    }
    const QStringList files = FilesIn(folder);
    const qsizetype expected = row.deleteAfter ? 0 : filesBefore;
    if (files.size() != expected) {
        return QStringLiteral("%1 files left in %2, expected %3")
            .arg(files.size())
            .arg(folder)
            .arg(expected);
    }
    if (row.archive) {
        for (const QString& path : files) {
            try {
                if (ArchiveAttribute::IsSet(path, {.tableFolder = Globals::ToolProfileFolder})) {
                    return QStringLiteral("the archive mark of %1 is still set").arg(path);
                }
            } catch (const ToolError& error) {
                return QStringLiteral("the archive mark of %1 cannot be read: %2")
                    .arg(path, error.Description());
            }
        }
    }
    if (audioBefore && ReadAudioState(audioFolder) != *audioBefore) {
        return QStringLiteral("a cart was imported again in a pass over files imported before");
    }
    return QString();
}

// What a process of a row does.
enum class Mode
{
    // Prints "SECONDS s" for each timed pass.
    Timed,
    // One pass, then one between the markers; a fresh process's first pass between them.
    Counted,
    // One pass that may import, before the row is counted or measured.
    Import,
    // Two passes, then "RSS MB PEAK-MB" of the process's resident memory.
    Memory,
};

// Kilobytes of a "Vm" line of /proc/self/status; -1 when it is not there.
qint64 StatusKilobytes(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':')) {
            const QList<QByteArray> words = line.mid(field.size() + 1).simplified().split(' ');
            return words.value(0).toLongLong();
        }
    }
    return -1;
}

// Raises a new store's highest cart to the row's last cart, which the group's range needs.
bool RaiseHighestCart(const Row& row)
{
    const qint32 last = row.first + row.count - 1;
    if (last <= CartStoreSettings::DefaultHighestCart) {
        return true;
    }
    try {
        CartStore store(CartStore::DefaultBaseFolder());
        auto* settings = dynamic_cast<CartStoreSettings*>(store.GetCartvaultSettings());
        return settings && (store.HighestCart() >= last || settings->setHighestCart(last));
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.Description()));
        return false;
    }
}

// One process of a row; a FAILED line when a pass did not do its work.
int RunPasses(const Row& row, const QString& home, int run, Mode mode)
{
    const auto fail = [&row](const QString& why) {
        std::printf("FAILED %s: %s\n", row.name, qPrintable(why));
        std::fflush(stdout);
        return 1;
    };
    if (mode == Mode::Import && !RaiseHighestCart(row)) {
        return fail(QStringLiteral("cannot raise the store's highest cart"));
    }
    frmMain window;
    if (!window.Load() || !Globals::PlayoutAudio) {
        return fail(QStringLiteral("the window did not start"));
    }
    const QString folder = FolderOf(row, home, run);
    const QString audioFolder =
        Globals::PlayoutAudio->BaseFolder() + "/" + CartStore::AudioFolderName;
    const qsizetype filesBefore = CountFiles(folder);
    if (!folder.isEmpty() && filesBefore == 0) {
        return fail(QStringLiteral("no files in %1").arg(folder));
    }
    std::optional<AudioState> audioBefore;
    if (row.kind != Kind::FirstPass && !row.importsFirst && mode != Mode::Import) {
        audioBefore = ReadAudioState(audioFolder);
    }
    int passes = 1;
    if (mode == Mode::Timed && row.kind == Kind::Steady) {
        passes = row.runs + 1;
    } else if ((mode == Mode::Counted && row.kind == Kind::Steady) || mode == Mode::Memory) {
        passes = 2;
    }
    qint64 rss = -1;
    qint64 peak = -1;
    for (int pass = 0; pass < passes; ++pass) {
        const bool marked = mode == Mode::Counted && pass == passes - 1;
        if (marked) {
            ::access(PassStartMarker, F_OK);
        }
        QElapsedTimer timer;
        timer.start();
        window.CheckGroups(true);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (marked) {
            ::access(PassEndMarker, F_OK);
        }
        // The lists of the checks would stay in the measured memory: checked once, after it.
        if (mode == Mode::Memory) {
            if (pass < passes - 1) {
                continue;
            }
            rss = StatusKilobytes("VmRSS");
            peak = StatusKilobytes("VmHWM");
        }
        const QString wrong = CheckPass(row, folder, run, filesBefore, audioBefore, audioFolder);
        if (!wrong.isEmpty()) {
            return fail(QStringLiteral("pass %1: %2").arg(pass + 1).arg(wrong));
        }
        if (!audioBefore) {
            audioBefore = ReadAudioState(audioFolder);
        }
        if (mode == Mode::Timed && (row.kind != Kind::Steady || pass > 0)) {
            std::printf("SECONDS %.6f\n", seconds);
        }
        if (mode == Mode::Import) {
            std::fprintf(stderr, "imported %lld files in %.0f s\n",
                         static_cast<long long>(filesBefore), seconds);
        }
    }
    if (mode == Mode::Memory) {
        if (rss < 0 || peak < 0) {
            return fail(QStringLiteral("/proc/self/status tells no memory"));
        }
        std::printf("RSS %.1f %.1f\n", double(rss) / 1024, double(peak) / 1024);
    }
    std::fflush(stdout);
    return 0;
}

double Min(std::vector<double> v)
{
    return *std::min_element(v.begin(), v.end());
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The lines that a run of this program in a process of its own printed. A FAILED line of it is
// passed on as it is (nothing, why empty); a run that ended badly gives nothing and why.
std::optional<QStringList> RunChild(const QStringList& arguments, QString& why)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(-1);
    const QStringList lines =
        QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (line.startsWith("FAILED")) {
            std::printf("%s\n", qPrintable(line));
            std::fflush(stdout);
            return std::nullopt;
        }
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        why = QStringLiteral("ended with %1").arg(child.exitCode());
        return std::nullopt;
    }
    return lines;
}

// The row's passes, each run in a process of its own; a FAILED line when one did not do its work.
int RunRow(const Row& row, const QString& home)
{
    const auto fail = [&row](const QString& why) {
        std::printf("FAILED %s: %s\n", row.name, qPrintable(why));
        std::fflush(stdout);
        return 1;
    };
    std::vector<double> project;
    const int processes = row.kind == Kind::Steady ? 1 : row.runs;
    for (int run = 0; run < processes; ++run) {
        if (!WriteGroup(row, home, run)) {
            return fail(QStringLiteral("cannot write the group settings"));
        }
        QString why;
        const std::optional<QStringList> lines =
            RunChild({row.name, home, QString::number(run)}, why);
        if (!lines) {
            return why.isEmpty() ? 1 : fail(QStringLiteral("run %1 %2").arg(run + 1).arg(why));
        }
        for (const QString& line : *lines) {
            if (line.startsWith("SECONDS ")) {
                project.push_back(line.mid(8).toDouble() /
                                  (row.kind == Kind::FirstPass ? row.count : 1));
            }
        }
    }
    if (int(project.size()) != row.runs) {
        return fail(
            QStringLiteral("%1 timed passes, expected %2").arg(project.size()).arg(row.runs));
    }

    std::vector<double> reference;
    const QString folder = FolderOf(row, home, 0);
    for (int run = 0; run < row.runs && row.reference != Reference::None; ++run) {
        std::optional<double> seconds;
        if (row.reference == Reference::FfmpegDecode) {
            seconds = TimeCommand(
                QStringLiteral("ffmpeg"),
                {"-v", "quiet", "-y", "-i", FilesIn(folder).value(0), home + "/reference.wav"});
        } else {
            const QString where =
                row.reference == Reference::FindAudio
                    ? CartStore::DefaultBaseFolder() + "/" + CartStore::AudioFolderName
                    : folder;
            seconds = TimeCommand(QStringLiteral("find"),
                                  {where, "-type", "f", "-printf", "%T@ %s %p\n"});
        }
        if (!seconds) {
            return fail(QStringLiteral("the reference command failed"));
        }
        reference.push_back(*seconds);
    }
    if (reference.empty()) {
        reference.assign(1, 0.0);
    }
    const auto ratio = [](double p, double r) { return r > 0 ? p / r : 0.0; };
    std::printf("BENCH %s project=%.4f reference=%.4f ratio=%.2f project-median=%.4f "
                "reference-median=%.4f ratio-median=%.2f runs=%zu\n",
                row.name, Min(project), Min(reference), ratio(Min(project), Min(reference)),
                Median(project), Median(reference), ratio(Median(project), Median(reference)),
                project.size());
    std::fflush(stdout);
    return 0;
}

// The resident memory after the passes of the row's processes: the least and the median, and
// the highest peak.
int MeasureMemory(const Row& row, const QString& home)
{
    const auto fail = [&row](const QString& why) {
        std::printf("FAILED %s: %s\n", row.name, qPrintable(why));
        std::fflush(stdout);
        return 1;
    };
    if (!WriteGroup(row, home, 0)) {
        return fail(QStringLiteral("cannot write the group settings"));
    }
    std::vector<double> resident;
    double peak = 0;
    for (int run = 0; run < row.runs; ++run) {
        QString why;
        const std::optional<QStringList> lines = RunChild({row.name, home, "0", "memory"}, why);
        if (!lines) {
            return why.isEmpty() ? 1 : fail(QStringLiteral("run %1 %2").arg(run + 1).arg(why));
        }
        for (const QString& line : *lines) {
            const QStringList words = line.split(' ');
            if (words.value(0) == "RSS" && words.size() == 3) {
                resident.push_back(words[1].toDouble());
                peak = std::max(peak, words[2].toDouble());
            }
        }
    }
    if (int(resident.size()) != row.runs) {
        return fail(
            QStringLiteral("%1 measured runs, expected %2").arg(resident.size()).arg(row.runs));
    }
    std::printf(
        "BENCH %s project=%.1f reference=0 ratio=0 project-median=%.1f peak=%.1f runs=%zu\n",
        row.name, Min(resident), Median(resident), peak, resident.size());
    std::fflush(stdout);
    return 0;
}

// The system calls that a run of the command under strace -f makes, all of them or those between
// the markers; empty when it failed.
std::optional<qint64> CountSystemCalls(const QString& trace, const QStringList& command,
                                       bool betweenMarkers)
{
    QProcess process;
    // The counted process's FAILED line says why it failed; find's listing is not wanted.
    if (betweenMarkers) {
        process.setProcessChannelMode(QProcess::ForwardedChannels);
    } else {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
    }
    process.start(QStringLiteral("strace"), QStringList{"-f", "-qq", "-o", trace} + command);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return std::nullopt;
    }
    QFile file(trace);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    qint64 count = 0;
    bool inside = !betweenMarkers;
    bool ended = !betweenMarkers;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (betweenMarkers && line.contains(PassStartMarker)) {
            inside = true;
            continue;
        }
        if (betweenMarkers && line.contains(PassEndMarker)) {
            ended = inside;
            break;
        }
        // A call that another thread's line interrupts is told in two lines, counted at the
        // first; signals and exits are no calls.
        if (inside && !line.contains(" resumed>") && !line.contains(" --- ") &&
            !line.contains(" +++ ")) {
            ++count;
        }
    }
    file.close();
    QFile::remove(trace);
    return ended ? std::optional(count) : std::nullopt;
}

int CountRowCalls(const CountRow& countRow, const QString& home)
{
    const auto fail = [&countRow](const QString& why) {
        std::printf("FAILED %s: %s\n", countRow.name, qPrintable(why));
        std::fflush(stdout);
        return 1;
    };
    const Row& row = *FindRow(QLatin1String(countRow.passes));
    if (!WriteGroup(row, home, 0)) {
        return fail(QStringLiteral("cannot write the group settings"));
    }
    const QString trace = home + "/trace.txt";
    const std::optional<qint64> project = CountSystemCalls(
        trace, {QCoreApplication::applicationFilePath(), countRow.name, home, "0", "count"}, true);
    if (!project) {
        return fail(QStringLiteral("the counted run failed"));
    }
    const QString folder = FolderOf(row, home, 0);
    const QString where = folder.isEmpty()
                              ? CartStore::DefaultBaseFolder() + "/" + CartStore::AudioFolderName
                              : folder;
    const std::optional<qint64> reference = CountSystemCalls(
        trace, {QStringLiteral("find"), where, "-type", "f", "-printf", "%T@ %s %p\n"}, false);
    const qsizetype files = FilesIn(where).size();
    if (!reference || files == 0) {
        return fail(QStringLiteral("the reference command failed"));
    }
    const double perProject = double(*project) / double(row.count);
    const double perReference = double(*reference) / double(files);
    std::printf("BENCH %s project=%.2f reference=%.2f ratio=%.2f calls=%lld files=%d\n",
                countRow.name, perProject, perReference, perProject / perReference,
                static_cast<long long>(*project), row.count);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    const QString command = args.value(1);
    if (command.startsWith("gen-")) {
        QCoreApplication app(argc, argv);
        return Generate(args);
    }
    const QString home = args.value(2);
    const Row* row = FindRow(command);
    if (home.isEmpty() || !row) {
        std::fprintf(stderr, "usage: pass_bench ROW HOME [RUN]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home + "/data").toLocal8Bit());
    qputenv("XDG_STATE_HOME", (home + "/state").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home + "/cache").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (home + "/runtime").toLocal8Bit());
    QDir().mkpath(home + "/runtime");
    QFile::setPermissions(home + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QApplication app(argc, argv);
    app.setApplicationName("Cartfeeder");
    MessageBox::SetHandler([](const MessageBoxRequest& request) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(request.Prompt));
        return request.DefaultAnswer();
    });
    ToolStartup::Current().CommandLine = [] {
        return QStringLiteral("/Profile=Bench /NOPREVCHECK");
    };
    ToolStartup::Current().Wait = [](double) {};
    // The import runs in this process, which has done nothing else yet.
    if (args.value(3) == "import") {
        if (!WriteGroup(*row, home, 0)) {
            std::printf("FAILED %s: cannot write the group settings\n", row->name);
            return 1;
        }
        return RunPasses(*row, home, 0, Mode::Import);
    }
    if (args.size() > 3) {
        const QString mode = args.value(4);
        return RunPasses(*row, home, args.value(3).toInt(),
                         mode == "count"    ? Mode::Counted
                         : mode == "memory" ? Mode::Memory
                                            : Mode::Timed);
    }
    if (command.startsWith("rss-")) {
        return MeasureMemory(*row, home);
    }
    for (const CountRow& countRow : CountRows) {
        if (command == QLatin1String(countRow.name)) {
            return CountRowCalls(countRow, home);
        }
    }
    return RunRow(*row, home);
}
