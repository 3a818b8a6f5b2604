#include "engine/FailureMemory.h"

#include <QFile>
#include <chrono>
#include <sys/stat.h>

FailureMemory::FailureMemory(Clock clock)
{
    SetClock(std::move(clock));
}

void FailureMemory::SetClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock([] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    });
}

FailureMemory::Version FailureMemory::Of(const QString& path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return {quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size),
            qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

FailureMemory::Told& FailureMemory::For(const QString& file, const Version& version)
{
    auto found = m_files.find(file);
    if (found == m_files.end()) {
        if (m_files.size() >= MaxFiles) {
            m_files.clear();
        }
        found = m_files.insert(file, Told{version, {}, {}});
    } else if (!(found->version == version)) {
        *found = Told{version, {}, {}};
    }
    return *found;
}

bool FailureMemory::LogDue(const QString& file, const Version& version, const QString& line)
{
    Told& told = For(file, version);
    const qint64 now = m_clock();
    const auto last = told.lines.constFind(line);
    if (last != told.lines.constEnd() && now - *last < RepeatAfterMs) {
        return false;
    }
    told.lines.insert(line, now);
    return true;
}

bool FailureMemory::FirstTime(const QString& file, const Version& version, const QString& what)
{
    Told& told = For(file, version);
    if (told.once.contains(what)) {
        return false;
    }
    told.once.insert(what);
    return true;
}

void FailureMemory::Forget(const QString& file)
{
    m_files.remove(file);
}
