// Times whole check passes of the real main window over large drop folders and stores.
// One row per process: the store and the files live in a folder that the calling script
// keeps between rows, so that later rows find what earlier ones imported.
//
//   pass_bench gen-wav FOLDER FIRST COUNT          small WAVs "N Bench.wav"
//   pass_bench gen-copies FOLDER FIRST COUNT FILE  copies of FILE as "N Bench.<ext>"
//   pass_bench ROW HOME                            prints one BENCH line
#include "engine/cImporter.h"
#include "framework/ToolStartup.h"
#include "platform/cartstore/WaveFileWriter.h"
#include "platform/system/MessageBox.h"
#include "platform/system/PlatformPaths.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

int Generate(const QStringList& args)
{
    const QString folder = args.value(2);
    const int first = args.value(3).toInt();
    const int count = args.value(4).toInt();
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("%1 Bench").arg(first + i);
        bool ok = false;
        if (args.value(1) == "gen-wav") {
            ok = WriteSmallWav(folder + "/" + name + ".wav", i);
        } else {
            const QString source = args.value(5);
            ok = QFile::copy(source, folder + "/" + name + "." + QFileInfo(source).suffix());
        }
        if (!ok) {
            std::fprintf(stderr, "could not write file %d in %s\n", i, qPrintable(folder));
            return 1;
        }
    }
    return 0;
}

// Seconds of one run of an outside command (its output discarded).
double TimeCommand(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e9;
}

std::vector<double> TimePasses(int passes);

// The best of three runs, as the passes are taken at their best.
double TimeFind(const QString& folder)
{
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const double seconds =
            TimeCommand(QStringLiteral("find"), {folder, "-type", "f", "-printf", "%T@ %s %p\n"});
        best = run == 0 ? seconds : std::min(best, seconds);
    }
    return best;
}

// The best of the passes after the first, which meets the folder for the first time in this
// process; empty when the window did not start.
std::optional<double> BestLaterPass(int passes)
{
    const std::vector<double> t = TimePasses(passes);
    if (t.size() < 2) {
        return std::nullopt;
    }
    return *std::min_element(t.begin() + 1, t.end());
}

QString ProfileFolder()
{
    return PlatformPaths::DataHome() + "/Orvane/Cartvault v3/Tools/Cartfeeder/Profiles/Bench";
}

bool WriteGroup(const QString& folder, int first, int last)
{
    QDir().mkpath(ProfileFolder());
    QFile file(ProfileFolder() + "/Importer.ini");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    // An empty folder makes a group that re-checks its range of carts.
    file.write(QStringLiteral("[General]\nNumberGroups=1\nCheckInterval=3600\n"
                              "[Group1]\nName=Bench\nDirectory=%1\nStartHDRef=%2\nEndHDRef=%3\n"
                              "Enabled=1\n")
                   .arg(folder)
                   .arg(first)
                   .arg(last)
                   .toUtf8());
    return true;
}

// Seconds of each of `passes` forced passes of a freshly started window.
std::vector<double> TimePasses(int passes)
{
    frmMain window;
    std::vector<double> seconds;
    if (!window.Load()) {
        std::fprintf(stderr, "the window did not start\n");
        return seconds;
    }
    for (int i = 0; i < passes; ++i) {
        QElapsedTimer timer;
        timer.start();
        window.CheckGroups(true);
        seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    return seconds;
}

void Print(const char* name, double project, double reference)
{
    std::printf("BENCH %s project=%.4f reference=%.4f ratio=%.2f\n", name, project, reference,
                reference > 0 ? project / reference : 0.0);
    std::fflush(stdout);
}

int RunRow(const QString& row, const QString& home)
{
    const QString folders = home + "/files";
    const QString audio = PlatformPaths::DataHome() + "/Orvane/Cartvault v3/Audio";
    struct Folder
    {
        const char* name;
        QString path;
        int first;
        int last;
    };
    if (row == "first-pass-1000" || row == "first-pass-10000") {
        const bool big = row.endsWith("10000");
        const QString folder = folders + (big ? "/wav10000" : "/wav1000");
        if (!WriteGroup(folder, big ? 20000 : 10000, big ? 29999 : 10999)) {
            return 1;
        }
        const std::vector<double> t = TimePasses(1);
        if (t.empty()) {
            return 1;
        }
        Print(qPrintable(row), t[0] / (big ? 10000 : 1000), 0);
        return 0;
    }
    if (row == "pass-unchanged-10000") {
        const QString folder = folders + "/wav10000";
        WriteGroup(folder, 20000, 29999);
        const std::optional<double> best = BestLaterPass(4);
        if (!best) {
            return 1;
        }
        Print("pass-unchanged-10000", *best, TimeFind(folder));
        return 0;
    }
    if (row == "pass-out-of-range-10000") {
        const QString folder = folders + "/outofrange";
        WriteGroup(folder, 30000, 30999);
        const std::optional<double> best = BestLaterPass(4);
        if (!best) {
            return 1;
        }
        Print("pass-out-of-range-10000", *best, TimeFind(folder));
        return 0;
    }
    if (row == "recheck-10000") {
        WriteGroup(QString(), 20000, 29999);
        const std::optional<double> best = BestLaterPass(4);
        if (!best) {
            return 1;
        }
        Print("recheck-10000", *best, TimeFind(audio));
        return 0;
    }
    if (row == "pass-mp3-1000") {
        const QString folder = folders + "/mp3";
        WriteGroup(folder, 40000, 40999);
        // The first pass imports them; the next ones find nothing to do.
        const std::optional<double> best = BestLaterPass(4);
        if (!best) {
            return 1;
        }
        Print("pass-mp3-1000", *best, TimeFind(folder));
        return 0;
    }
    if (row == "import-mp3") {
        const QString folder = folders + "/long";
        WriteGroup(folder, 60000, 60000);
        const std::vector<double> t = TimePasses(1);
        if (t.empty()) {
            return 1;
        }
        const double reference = TimeCommand(
            QStringLiteral("ffmpeg"),
            {"-v", "quiet", "-y", "-i", folder + "/60000 Bench.mp3", home + "/reference.wav"});
        Print("import-mp3", t[0], reference);
        return 0;
    }
    std::fprintf(stderr, "unknown row %s\n", qPrintable(row));
    return 2;
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
    if (home.isEmpty()) {
        std::fprintf(stderr, "usage: pass_bench ROW HOME\n");
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
    return RunRow(command, home);
}
