#include "platform/cartstore/WaveFileWriter.h"

#include "platform/cartstore/AudioFormatLimits.h"
#include "platform/system/WriteErrorText.h"

#include <QtEndian>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace {

constexpr qint64 HeaderSize = WaveFileWriter::HeaderSize;
// The RIFF size field is 32 bits.
constexpr qint64 MaxDataBytes = 0xFFFFFFFFLL - HeaderSize;

QByteArray Header(int sampleRate, int channels, qint64 dataBytes)
{
    QByteArray h(HeaderSize, '\0');
    char* p = h.data();
    auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, p + at); };
    auto put16 = [&](int at, quint16 v) { qToLittleEndian<quint16>(v, p + at); };
    std::memcpy(p, "RIFF", 4);
    // Sizes in 64 bits: Open has bounded the format, Write the data, so each fits its field.
    const qint64 blockAlign = qint64(channels) * 2;
    put32(4, quint32(HeaderSize - 8 + dataBytes));
    std::memcpy(p + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1); // PCM
    put16(22, quint16(channels));
    put32(24, quint32(sampleRate));
    put32(28, quint32(qint64(sampleRate) * blockAlign));
    put16(32, quint16(blockAlign));
    put16(34, 16);
    std::memcpy(p + 36, "data", 4);
    put32(40, quint32(dataBytes));
    return h;
}

} // namespace

WaveFileWriter::~WaveFileWriter()
{
    m_file.close();
}

Result<> WaveFileWriter::Open(const QString& path, int sampleRate, int channels)
{
    m_file.close();
    m_file.setFileName(path);
    m_channels = channels;
    m_sampleRate = sampleRate;
    m_peak = 0;
    m_frames = 0;
    m_dataBytes = 0;
    if (!AudioFormatLimits::IsSane(sampleRate, channels)) {
        return Failure{
            QString("unsupported sample format: %1 Hz, %2 channels").arg(sampleRate).arg(channels)};
    }
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        return Failure{QString("cannot write %1: %2").arg(path, m_file.errorString())};
    }
    if (m_file.write(Header(sampleRate, channels, 0)) != HeaderSize) {
        return Failure{QString("cannot write %1: %2").arg(path, m_file.errorString())};
    }
    return {};
}

Result<> WaveFileWriter::Write(const qint16* samples, int frames)
{
    const qint64 count = qint64(frames) * m_channels;
    const qint64 bytes = count * 2;
    if (m_dataBytes + bytes > MaxDataBytes) {
        return Failure{"the audio is too long for a WAV file"};
    }
    int peak = m_peak;
    for (qint64 i = 0; i < count; ++i) {
        const int v = samples[i] < 0 ? -int(samples[i]) : int(samples[i]);
        if (v > peak) {
            peak = v;
        }
    }
    m_peak = peak;
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "WAV data is written as it lies in memory");
    errno = 0;
    if (m_file.write(reinterpret_cast<const char*>(samples), bytes) != bytes) {
        return Failure{
            QString("cannot write %1: %2").arg(m_file.fileName(), WriteErrorText(m_file))};
    }
    m_frames += frames;
    m_dataBytes += bytes;
    return {};
}

double WaveFileWriter::NormaliseGain(int peak, double percent)
{
    if (peak <= 0 || percent <= 0) {
        return 1.0;
    }
    return qMin(percent, 100.0) / 100.0 * 32767.0 / peak;
}

Result<> WaveFileWriter::Scale(double gain, const std::function<bool(double)>& progress)
{
    if (std::abs(gain - 1.0) < 1e-6) {
        return {};
    }
    if (!m_file.flush()) {
        return Failure{m_file.errorString()};
    }
    constexpr qint64 Chunk = 1 << 20;
    QByteArray buffer(Chunk, Qt::Uninitialized);
    int peak = 0;
    for (qint64 done = 0; done < m_dataBytes;) {
        const qint64 n = qMin(Chunk, m_dataBytes - done);
        if (!m_file.seek(HeaderSize + done) || m_file.read(buffer.data(), n) != n) {
            return Failure{QString("cannot read back %1").arg(m_file.fileName())};
        }
        auto* s = reinterpret_cast<qint16*>(buffer.data());
        for (qint64 i = 0; i < n / 2; ++i) {
            const long v = std::lrint(s[i] * gain);
            s[i] = qint16(qBound(-32768L, v, 32767L));
            const int a = s[i] < 0 ? -int(s[i]) : int(s[i]);
            if (a > peak) {
                peak = a;
            }
        }
        if (!m_file.seek(HeaderSize + done) || m_file.write(buffer.constData(), n) != n) {
            return Failure{
                QString("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString())};
        }
        done += n;
        if (progress && !progress(double(done) / double(m_dataBytes))) {
            return Failure{"stopped"};
        }
    }
    m_peak = peak;
    return {};
}

Result<> WaveFileWriter::Finish()
{
    if (!m_file.isOpen()) {
        return Failure{"not open"};
    }
    const QByteArray header = Header(m_sampleRate, m_channels, m_dataBytes);
    errno = 0;
    if (!m_file.seek(0) || m_file.write(header) != HeaderSize || !m_file.flush()) {
        return Failure{
            QString("cannot write %1: %2").arg(m_file.fileName(), WriteErrorText(m_file))};
    }
    // The file is renamed over a cart's audio next; it must be on disk before that.
    if (::fsync(m_file.handle()) != 0) {
        return Failure{QString("cannot write %1 to disk: %2")
                           .arg(m_file.fileName(), QString::fromLocal8Bit(std::strerror(errno)))};
    }
    m_file.close();
    return {};
}
