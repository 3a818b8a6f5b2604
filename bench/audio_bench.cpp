// Times the audio decoder's lengths and the cart store's import against the ffmpeg command on
// the same 3-minute files. A row whose work failed (no length, a wrong length, no cart) prints
// a FAILED line and the program ends with 1; 2 when a row is over its target.
// Usage: audio_bench [seconds] [runs]
#include "platform/cartstore/AudioDecoder.h"
#include "platform/cartstore/CartStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <vector>

namespace {

// Something an encoder has to work at: a few drifting tones and some noise.
bool WriteProgramme(const QString& path, double seconds)
{
    const int rate = 44100;
    const qint64 frames = qint64(seconds * rate);
    QByteArray data(frames * 4, Qt::Uninitialized);
    auto* s = reinterpret_cast<qint16*>(data.data());
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 0.02);
    for (qint64 i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double env = 0.5 + 0.5 * std::sin(2 * M_PI * 0.3 * t);
        const double l = 0.3 * env * std::sin(2 * M_PI * 220 * t) +
                         0.2 * std::sin(2 * M_PI * (440 + 20 * std::sin(t)) * t) + noise(random);
        const double r = 0.3 * (1 - env) * std::sin(2 * M_PI * 330 * t) +
                         0.2 * std::sin(2 * M_PI * 660 * t) + noise(random);
        s[2 * i] = qint16(std::lrint(std::clamp(l, -1.0, 1.0) * 32767));
        s[2 * i + 1] = qint16(std::lrint(std::clamp(r, -1.0, 1.0) * 32767));
    }
    QByteArray h(44, '\0');
    char* p = h.data();
    memcpy(p, "RIFF", 4);
    qToLittleEndian<quint32>(quint32(36 + data.size()), p + 4);
    memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, p + 16);
    qToLittleEndian<quint16>(1, p + 20);
    qToLittleEndian<quint16>(2, p + 22);
    qToLittleEndian<quint32>(rate, p + 24);
    qToLittleEndian<quint32>(rate * 4, p + 28);
    qToLittleEndian<quint16>(4, p + 32);
    qToLittleEndian<quint16>(16, p + 34);
    memcpy(p + 36, "data", 4);
    qToLittleEndian<quint32>(quint32(data.size()), p + 40);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(h) == 44 && f.write(data) == data.size();
}

bool Ffmpeg(const QStringList& arguments)
{
    QProcess p;
    p.start("ffmpeg", arguments);
    return p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Empty when a run failed: a failed run has no time.
template <typename F> std::optional<double> MedianMs(int runs, F&& f)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!f()) {
            return std::nullopt;
        }
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A length that the file's audio explains (encoders add a little at the ends).
bool IsLength(double length, double seconds)
{
    return std::abs(length - seconds) <= std::max(0.2, seconds / 100);
}

int Failed(const char* row, const QString& why)
{
    std::printf("FAILED %s: %s\n", row, qPrintable(why));
    return 1;
}

const char* Verdict(bool ok)
{
    return ok ? "ok" : "OVER TARGET";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 180.0;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    QTemporaryDir dir;
    const QString source = dir.filePath("source.wav");
    if (!WriteProgramme(source, seconds)) {
        std::fprintf(stderr, "cannot write the test audio\n");
        return 1;
    }
    struct Format
    {
        const char* ext;
        QStringList codec;
    };
    const Format formats[] = {
        {"wav", {}},
        {"mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}},
        {"ogg", {"-c:a", "libvorbis", "-q:a", "5"}},
        {"wma", {"-c:a", "wmav2", "-b:a", "192k"}},
        {"mp2", {"-c:a", "mp2", "-b:a", "256k"}},
    };
    std::printf("audio_bench: %.0f s stereo 44.1 kHz files, median of %d runs\n\n", seconds, runs);
    std::printf("%-5s %12s %14s %7s %12s  %s\n", "type", "ffmpeg null", "decoder length", "ratio",
                "cached", "length (s)");
    bool allOk = true;
    bool worked = true;
    int cacheRun = 0;
    for (const Format& format : formats) {
        const QString file = dir.filePath(QString("programme.") + format.ext);
        if (QString(format.ext) == "wav") {
            QFile::copy(source, file);
        } else if (!Ffmpeg(QStringList{"-v", "error", "-y", "-i", source} + format.codec +
                           QStringList{file})) {
            std::fprintf(stderr, "ffmpeg cannot make %s\n", format.ext);
            return 1;
        }
        const std::optional<double> reference = MedianMs(runs, [&] {
            return Ffmpeg({"-v", "quiet", "-i", file, "-f", "null", "-"});
        });
        double length = 0;
        const std::optional<double> uncached = MedianMs(runs, [&] {
            // A fresh cache folder each run: nothing is known yet.
            AudioDecoder::setCacheFolder(dir.filePath(QString("cache%1").arg(++cacheRun)));
            AudioDecoder decoder;
            decoder.setWMAMode(QString(format.ext) == "wma");
            decoder.OpenFile(file, 0, 1);
            length = decoder.DurationMs() / 1000.0;
            return IsLength(length, seconds);
        });
        if (!reference || !uncached) {
            worked = false;
            Failed(format.ext, reference ? QString("the decoder gave %1 s for %2 s of audio")
                                               .arg(length, 0, 'f', 3)
                                               .arg(seconds)
                                         : QString("ffmpeg could not decode the file"));
            continue;
        }
        // The last run left the file in the cache.
        const int lookups = 200;
        double cachedLength = 0;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < lookups; ++i) {
            AudioDecoder decoder;
            decoder.OpenFile(file, 0, 1);
            cachedLength = decoder.DurationMs() / 1000.0;
        }
        const double cached = double(timer.nsecsElapsed()) / 1e6 / lookups;
        if (cachedLength != length) {
            worked = false;
            Failed(format.ext, QString("the cache gave %1 s where the decoder gave %2 s")
                                   .arg(cachedLength, 0, 'f', 3)
                                   .arg(length, 0, 'f', 3));
            continue;
        }
        const double ratio = *uncached / *reference;
        const bool ok = ratio <= 1.2 && cached < 1.0;
        allOk = allOk && ok;
        std::printf("%-5s %9.1f ms %11.1f ms %7.2f %9.3f ms  %.3f  %s\n", format.ext, *reference,
                    *uncached, ratio, cached, length, Verdict(ok));
    }

    const QString mp3 = dir.filePath("programme.mp3");
    const std::optional<double> reference = MedianMs(runs, [&] {
        return Ffmpeg({"-v", "quiet", "-y", "-i", mp3, dir.filePath("out.wav")});
    });
    CartStore store(dir.filePath("store"));
    int cart = 0;
    const std::optional<double> import = MedianMs(runs, [&] {
        bool f1 = false, f2 = true;
        return store.ImportAudioFile(nullptr, QString::number(++cart), mp3, 0x24, 90, f1, 0, -1,
                                     f2);
    });
    if (!reference) {
        return Failed("import", "ffmpeg could not decode the mp3 file");
    }
    if (!import) {
        return Failed("import",
                      QString("cart %1 was not imported: %2").arg(cart).arg(store.LastError()));
    }
    // Every cart imported holds the whole programme.
    const auto wrongCarts = [&] {
        const QList<CartSummary> carts = store.ListCarts(0, cart + 1);
        return carts.size() != cart ||
               std::any_of(carts.begin(), carts.end(),
                           [&](const CartSummary& c) { return !IsLength(c.Length, seconds); });
    };
    if (wrongCarts()) {
        return Failed("import",
                      QString("the store does not list %1 carts of %2 s").arg(cart).arg(seconds));
    }
    const double ratio = *import / *reference;
    allOk = allOk && ratio <= 1.5;
    std::printf(
        "\nImportAudioFile mp3, normalised to 90%%: %.1f ms; ffmpeg -i in.mp3 out.wav: %.1f ms;"
        " ratio %.2f (target 1.5)  %s\n",
        *import, *reference, ratio, Verdict(ratio <= 1.5));

    // The group editor's refresh of the carts just imported: decoded once, then from the cache.
    const auto refresh = [&](const QString& first, const QString& last) {
        QString text;
        qint32 changed = 0;
        QElapsedTimer t;
        t.start();
        store.RefreshCartInfoInRange(first, last, true, text, changed);
        return double(t.nsecsElapsed()) / 1e6;
    };
    const QString last = QString::number(cart);
    const double cold = refresh("1", last);
    const double warm = refresh("1", last);
    if (wrongCarts()) {
        return Failed("refresh",
                      QString("the store does not list %1 carts of %2 s after the refresh")
                          .arg(cart)
                          .arg(seconds));
    }
    const bool refreshOk = warm < 1.0 * cart;
    allOk = allOk && refreshOk;
    std::printf("RefreshCartInfo over %d carts: %.1f ms decoding, %.2f ms from the cache"
                " (target < 1 ms a cart)  %s\n",
                cart, cold, warm, Verdict(refreshOk));
    std::printf("targets: decoder length <= 1.2 x ffmpeg null, cached < 1 ms\n");
    if (!worked) {
        return 1;
    }
    return allOk ? 0 : 2;
}
