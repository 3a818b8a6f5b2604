#include "tests/support/AudioFixtures.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QtEndian>
#include <cmath>

namespace AudioFixtures {

bool WriteSineWav(const QString& path, double seconds, int sampleRate, int channels, double peak,
                  double frequency)
{
    const qint64 frames = qint64(std::llround(seconds * sampleRate));
    QByteArray data(frames * channels * 2, Qt::Uninitialized);
    auto* s = reinterpret_cast<qint16*>(data.data());
    for (qint64 i = 0; i < frames; ++i) {
        const double v = peak * std::sin(2.0 * M_PI * frequency * double(i) / sampleRate);
        for (int c = 0; c < channels; ++c) {
            s[i * channels + c] = qint16(std::lrint(v * 32767.0));
        }
    }
    QByteArray h(44, '\0');
    char* p = h.data();
    memcpy(p, "RIFF", 4);
    qToLittleEndian<quint32>(quint32(36 + data.size()), p + 4);
    memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, p + 16);
    qToLittleEndian<quint16>(1, p + 20);
    qToLittleEndian<quint16>(quint16(channels), p + 22);
    qToLittleEndian<quint32>(quint32(sampleRate), p + 24);
    qToLittleEndian<quint32>(quint32(sampleRate * channels * 2), p + 28);
    qToLittleEndian<quint16>(quint16(channels * 2), p + 32);
    qToLittleEndian<quint16>(16, p + 34);
    memcpy(p + 36, "data", 4);
    qToLittleEndian<quint32>(quint32(data.size()), p + 40);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(h) == 44 && f.write(data) == data.size();
}

bool WriteLongSilentWav(const QString& path, qint64 dataBytes)
{
    QByteArray h(44, '\0');
    char* p = h.data();
    memcpy(p, "RIFF", 4);
    qToLittleEndian<quint32>(quint32(36 + dataBytes), p + 4);
    memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, p + 16);
    qToLittleEndian<quint16>(1, p + 20);
    qToLittleEndian<quint16>(2, p + 22);
    qToLittleEndian<quint32>(44100, p + 24);
    qToLittleEndian<quint32>(44100 * 4, p + 28);
    qToLittleEndian<quint16>(4, p + 32);
    qToLittleEndian<quint16>(16, p + 34);
    memcpy(p + 36, "data", 4);
    qToLittleEndian<quint32>(quint32(dataBytes), p + 40);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(h) == 44 && f.resize(44 + dataBytes);
}

bool FfmpegAvailable()
{
    static const bool available = !QStandardPaths::findExecutable("ffmpeg").isEmpty();
    return available;
}

bool Encode(const QString& source, const QString& target, const QStringList& extra)
{
    const QString ext = target.section('.', -1).toLower();
    QStringList codec;
    if (ext == "mp3") {
        codec = {"-c:a", "libmp3lame", "-b:a", "128k"};
    } else if (ext == "ogg") {
        codec = {"-c:a", "libvorbis", "-q:a", "3"};
    } else if (ext == "wma") {
        codec = {"-c:a", "wmav2", "-b:a", "128k"};
    } else if (ext == "mp2") {
        codec = {"-c:a", "mp2", "-b:a", "192k"};
    }
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-v", "error", "-y", "-i", source} + codec + extra +
                               QStringList{target});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

namespace {
QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

int WavPeak(const QString& path)
{
    const QByteArray bytes = ReadAll(path);
    if (bytes.size() < 44) {
        return -1;
    }
    const auto* s = reinterpret_cast<const qint16*>(bytes.constData() + 44);
    int peak = 0;
    for (qsizetype i = 0; i < (bytes.size() - 44) / 2; ++i) {
        peak = std::max(peak, std::abs(int(s[i])));
    }
    return peak;
}

int WavSampleRate(const QString& path)
{
    const QByteArray b = ReadAll(path);
    return b.size() >= 44 ? int(qFromLittleEndian<quint32>(b.constData() + 24)) : -1;
}

int WavChannels(const QString& path)
{
    const QByteArray b = ReadAll(path);
    return b.size() >= 44 ? int(qFromLittleEndian<quint16>(b.constData() + 22)) : -1;
}

int WavBitsPerSample(const QString& path)
{
    const QByteArray b = ReadAll(path);
    return b.size() >= 44 ? int(qFromLittleEndian<quint16>(b.constData() + 34)) : -1;
}

} // namespace AudioFixtures
